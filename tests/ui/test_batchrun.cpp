// The batch run and the preview page, on real files in a temporary folder.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "CodePage.h"
#include "Main.h"
#include "WindowFixture.h"

using namespace tavrin;

namespace {

// Calls back for every event a watched object receives.
class EventTap : public QObject {
 public:
  explicit EventTap(std::function<void(QEvent*)> onEvent) : onEvent_(std::move(onEvent)) {}
  bool eventFilter(QObject*, QEvent* event) override {
    onEvent_(event);
    return false;
  }

 private:
  std::function<void(QEvent*)> onEvent_;
};

// What a modal box does to the focus on a desktop: its window takes the focus until it is
// closed, then the window manager activates the main window again. Says whether both became
// active in turn.
bool ShowAModalBox(QWidget& window) {
  QDialog box(&window);
  bool boxActive = false;
  QTimer::singleShot(0, &box, [&] {
    boxActive = QTest::qWaitForWindowActive(&box);
    box.accept();
  });
  box.exec();
  QApplication::setActiveWindow(&window);
  return QTest::qWaitForWindowActive(&window) && boxActive;
}

// Ways the focus may move on the main window.
enum FocusMove {
  kCtrlTab,          // page change from the keyboard
  kRightOnTheTabs,   // page change on the tab strip itself
  kTabKey,           // the Tab key
  kClickOnTheText,   // a click into tmeView
  kClickOnThePath,   // a click on tmeViewPath
  kDoubleClickRow,   // a double click on the list's row
  kDoubleClickText,  // a double click on tmeView
  kOtherWindow,      // another window activated, then this one again
  kModalBox,         // a modal box opened and closed
  kMenu,             // a menu opened from the keyboard and closed
};

}  // namespace

class BatchRunTest : public QObject {
  Q_OBJECT

 private:
  testing::WindowFixture fx_;

  TFMain& Open(const QByteArray& table = "&lt;=<\r\n&gt;=>\r\n&nbsp;=&tavri:spe;\r\n&amp;=&\r\n") {
    return fx_.Open(table);
  }
  QString Path(const QString& name) const { return fx_.Path(name); }
  QStringList List(TFMain&, const QList<QByteArray>& contents) { return fx_.List(contents); }
  static QStringList Statuses(const QSignalSpy& spy) {
    return testing::WindowFixture::Statuses(spy);
  }

  void Activate(TFMain& w) {
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
  }

 private Q_SLOTS:
  void init() {
    fx_.SetUp();
    SetCurrentLeadByteSet(LeadByteSet::ShiftJis());
  }
  void cleanup() { fx_.TearDown(); }

  void runOnAnEmptyListOnlySetsTheStatus() {
    TFMain& w = Open();
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiFileRun->trigger();
    QCOMPARE(Statuses(spy), (QStringList{"実行開始", "実行終了"}));
    QCOMPARE(QDir(fx_.Folder()).entryList(QDir::Files).size(), 1);  // CEntity.txt alone
  }

  void runConvertsEveryRowByteForByte() {
    TFMain& w = Open();
    const QByteArray sjis = "\x93\xFA\x96\x7B\x8C\xEA\x83\x5C";  // 日本語ソ
    const QList<QByteArray> inputs = {
        "<p>a &amp;lt; b&nbsp;c</p>\r\n",
        QByteArray("x\0<b>y</b>&amp;", 15),
        "<html>" + sjis + "&gt;</html>",
        "",
        "<only><tags>",
    };
    const QList<QByteArray> outputs = {
        "a &lt; b c\r\n", QByteArray("x\0y&amp;", 8), sjis + ">", "", "",
    };
    const QStringList paths = List(w, inputs);
    w.lvwResult->topLevelItem(0)->setSelected(true);
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.findChild<QAction*>("tmiFileRun")->trigger();
    QCOMPARE(Statuses(spy), (QStringList{"実行開始", "実行終了"}));
    QVERIFY(fx_.Fake().messageBoxes.empty());
    for (int row = 0; row < paths.size(); ++row) {
      QCOMPARE(testing::ReadFile(paths[row] + ".txt"), outputs[row]);
      QCOMPARE(testing::ReadFile(paths[row]), inputs[row]);
      QCOMPARE(w.RowTaskText(row), QStringLiteral("完了"));
      QCOMPARE(w.RowImageIndex(row), kImageConverted);
    }
    QVERIFY(w.lvwResult->selectedItems().isEmpty());
    QCOMPARE(w.StatusText(), QStringLiteral("実行終了"));

    // Done rows are converted again, and their outputs rewritten.
    testing::WriteFile(paths[0], "<i>again</i>");
    w.tmiFileRun->trigger();
    QCOMPARE(testing::ReadFile(paths[0] + ".txt"), QByteArray("again"));
  }

  void aMissingInputStopsTheRunAtItsRow() {
    TFMain& w = Open();
    const QStringList paths = List(w, {"<b>one</b>", "two", "three"});
    QFile::remove(paths[1]);
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiFileRun->trigger();
    QCOMPARE(Statuses(spy), (QStringList{"実行開始", "実行終了"}));
    QCOMPARE(testing::ReadFile(paths[0] + ".txt"), QByteArray("one"));
    QVERIFY(!QFile::exists(paths[1] + ".txt"));
    QVERIFY(!QFile::exists(paths[2] + ".txt"));
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(w.RowTaskText(1), QStringLiteral("開始"));
    QCOMPARE(w.RowImageIndex(1), kImageConverting);
    QVERIFY(w.lvwResult->topLevelItem(1)->isSelected());
    QCOMPARE(w.RowTaskText(2), QStringLiteral("未処理"));
    QCOMPARE(w.RowImageIndex(2), kImageWaiting);
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].text),
             QStringLiteral("ファイル %1 は開けません.").arg(paths[1]));
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].caption), QStringLiteral("tavrin"));
  }

  void theRowWhereTheRunStoppedIsInView() {
    TFMain& w = Open();
    QList<QByteArray> contents;
    for (int i = 0; i < 300; ++i) contents << "x";
    const QStringList paths = List(w, contents);
    QFile::remove(paths[250]);
    w.tmiFileRun->trigger();
    QTreeWidgetItem* stopped = w.lvwResult->topLevelItem(250);
    QCOMPARE(w.RowTaskText(250), QStringLiteral("開始"));
    QVERIFY(w.lvwResult->viewport()->rect().contains(w.lvwResult->visualItemRect(stopped)));
  }

  void anOutputThatCannotBeCreatedStopsTheRun() {
    TFMain& w = Open();
    const QStringList paths = List(w, {"one", "two", "three"});
    QVERIFY(QDir(fx_.Folder()).mkdir("a1.html.txt"));  // a folder where the output goes
    w.tmiFileRun->trigger();
    QCOMPARE(w.RowTaskText(0), QStringLiteral("完了"));
    QCOMPARE(w.RowTaskText(1), QStringLiteral("開始"));
    QCOMPARE(w.RowTaskText(2), QStringLiteral("未処理"));
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].text),
             QStringLiteral("ファイル %1.txt を作成できません.").arg(paths[1]));
  }

  void theRunUsesTheLoadedTableNotTheFile() {
    TFMain& w = Open("&amp;=AND\r\n");
    const QStringList paths = List(w, {"&amp;"});
    testing::WriteFile(Path("CEntity.txt"), "&amp;=OTHER\r\n");
    w.tmiFileRun->trigger();
    QCOMPARE(testing::ReadFile(paths[0] + ".txt"), QByteArray("AND"));
  }

  // A command that reaches the window while a run works waits for the run to end.
  void commandsDuringARunWaitForIt() {
    TFMain& w = Open();
    const QStringList paths = List(w, {"a", "b"});
    bool clearedDuringRun = false;
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& text) {
      if (text == QStringLiteral("実行開始")) {
        w.tmiEditListAllClear->trigger();
        clearedDuringRun = w.RowCount() == 0;
      }
    });
    w.tmiFileRun->trigger();
    QVERIFY(!clearedDuringRun);
    QVERIFY(QFile::exists(paths[1] + ".txt"));
    QCOMPARE(w.RowCount(), 0);
  }

  // A drop is no input that the run holds back: it arrives while the run paints, and is handled
  // once the run is over.
  void dropsDuringARunAreListedAfterIt() {
    TFMain& w = Open();
    const QStringList paths = List(w, {"a", "b"});
    const QStringList late = {Path("late1.html"), Path("late2.html")};
    for (const QString& path : late) testing::WriteFile(path, "<i>late</i>");
    bool accepted = true;
    int rowsDuringTheRun = -1;
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& text) {
      if (text != QStringLiteral("実行開始")) return;
      accepted &= testing::DropLocalFiles(&w, {late[0]});
      accepted &= testing::DropLocalFiles(&w, {late[1], late[0]});
      rowsDuringTheRun = w.RowCount();
    });
    w.tmiFileRun->trigger();
    QVERIFY(accepted);
    QCOMPARE(rowsDuringTheRun, 2);
    const QStringList listed = {paths[0], paths[1], late[0], late[1], late[0]};
    QCOMPARE(w.RowCount(), int(listed.size()));
    for (int row = 0; row < w.RowCount(); ++row) {
      QCOMPARE(w.RowPath(row), listed[row].toStdString());
      QCOMPARE(w.RowTaskText(row), QString::fromUtf8(row < 2 ? "完了" : "未処理"));
    }
    QVERIFY(!QFile::exists(late[0] + ".txt"));
  }

  // However soon after the last paint a long file comes, the list is painted with its row
  // started before its conversion begins.
  void aLongFileIsShownStartedWhileItConverts() {
    TFMain& w = Open();
    List(w, {"tiny", QByteArray(WindowBehaviour::kLongFileBytes, 'x')});
    QStringList paintedStates;
    EventTap tap([&](QEvent* event) {
      if (event->type() == QEvent::Paint) paintedStates << w.RowTaskText(1);
    });
    w.lvwResult->viewport()->installEventFilter(&tap);
    w.tmiFileRun->trigger();
    QVERIFY2(paintedStates.contains(QStringLiteral("開始")), qPrintable(paintedStates.join(' ')));
    QCOMPARE(w.RowTaskText(1), QStringLiteral("完了"));
  }

  // A close that comes while the window paints during a long run closes it once the run is
  // over: every file written, none left half.
  void aCloseDuringARunClosesTheWindowAfterIt() {
    TFMain& w = Open();
    const QStringList paths =
        List(w, {"a", QByteArray(WindowBehaviour::kLongFileBytes, 'x'), "c", "d"});
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& text) {
      if (text == QStringLiteral("実行開始")) QTimer::singleShot(0, &w, [&w] { w.close(); });
    });
    QVERIFY(w.isVisible());
    w.tmiFileRun->trigger();
    QVERIFY(!w.isVisible());
    for (int row = 0; row < paths.size(); ++row) {
      QCOMPARE(w.RowTaskText(row), QStringLiteral("完了"));
      QVERIFY(QFile::exists(paths[row] + ".txt"));
    }
    // CEntity.txt, the inputs and their outputs, nothing else.
    QCOMPARE(QDir(fx_.Folder()).entryList(QDir::Files | QDir::Hidden).size(), 1 + 2 * paths.size());
  }

  void previewWithoutSelectionEmptiesBothMemos() {
    TFMain& w = Open();
    List(w, {"<b>x</b>"});
    w.tmeView->setPlainText("old");
    w.tmeViewPath->setPlainText("old");
    w.ttsViewEnter();
    QCOMPARE(w.tmeView->toPlainText(), QString());
    QCOMPARE(w.tmeViewPath->toPlainText(), QString());
  }

  void previewShowsTheFirstSelectedRowAndWritesNothing() {
    TFMain& w = Open();
    const QStringList paths =
        List(w, {"zero", "<p>one &amp; only</p>", "two", "three", QByteArray("four\0hidden", 11)});
    w.lvwResult->topLevelItem(4)->setSelected(true);
    w.lvwResult->topLevelItem(1)->setSelected(true);
    w.ttsViewEnter();
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("one & only"));
    QCOMPARE(w.tmeViewPath->toPlainText(), paths[1]);
    QCOMPARE(w.RowTaskText(1), QStringLiteral("未処理"));
    QVERIFY(!QFile::exists(paths[1] + ".txt"));

    w.lvwResult->topLevelItem(1)->setSelected(false);
    w.ttsViewEnter();
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("four"));  // up to the NUL
  }

  void aLongPreviewFillsInWithoutLosingText() {
    TFMain& w = Open();
    QByteArray text;
    for (int line = 0; line < 40000; ++line)
      text += "<b>line</b> " + QByteArray::number(line) + "\r\n";
    text += QByteArray(20000, 'x') + "\r\nend";  // one line longer than a shown line
    List(w, {text});
    w.lvwResult->topLevelItem(0)->setSelected(true);
    w.ttsViewEnter();
    QVERIFY(!w.PreviewComplete());
    QTRY_VERIFY_WITH_TIMEOUT(w.PreviewComplete(), 60000);
    const QString shown = w.tmeView->toPlainText();
    QVERIFY(shown.startsWith(QStringLiteral("line 0\nline 1\n")));
    QVERIFY(shown.contains(QStringLiteral("line 39999\n")));
    QVERIFY(shown.endsWith(QStringLiteral("\nend")));
    QString joined = shown;
    joined.remove(QLatin1Char('\n'));
    QVERIFY(joined.contains(QString(20000, QLatin1Char('x'))));

    // A new preview replaces one still filling in.
    w.tmeViewDblClick();
    List(w, {"short"});
    w.lvwResult->clearSelection();
    w.lvwResult->topLevelItem(1)->setSelected(true);
    w.ttsViewEnter();
    QVERIFY(w.PreviewComplete());
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("short"));
  }

  void previewOfAVanishedFileKeepsTheMemos() {
    TFMain& w = Open();
    const QStringList paths = List(w, {"<b>kept</b>"});
    w.lvwResult->topLevelItem(0)->setSelected(true);
    w.ttsViewEnter();
    QFile::remove(paths[0]);
    w.lvwResultDblClick();
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].text),
             QStringLiteral("ファイル %1 は開けません.").arg(paths[0]));
  }

  void doubleClicksSwitchPagesAndMoveTheFocus() {
    TFMain& w = Open();
    List(w, {"<h1>title</h1>", "other"});
    Activate(w);
    QTreeWidgetItem* row = w.lvwResult->topLevelItem(0);
    const QPoint at = w.lvwResult->visualItemRect(row).center();
    QTest::mouseClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(w.tpcMain->currentWidget(), w.ttsView);
    QCOMPARE(QApplication::focusWidget(), w.tmeView);
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("title"));

    QTest::mouseDClick(w.tmeView->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(w.tpcMain->currentWidget(), w.ttsMain);
    QCOMPARE(QApplication::focusWidget(), w.lvwResult);

    // Entering the page again with the focus rebuilds the preview from the file as it is now.
    testing::WriteFile(Path("a0.html"), "<h1>changed</h1>");
    w.lvwResultDblClick();
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("changed"));
  }

  // The preview is rebuilt when the focus moves into the page from another control of the
  // window, and only then. Offscreen, the window system's part is played by activating other
  // windows: Qt then reports the focus as coming from nowhere, as it does on a desktop. The
  // file is gone, so each rebuild shows one error box; every box, like a real one, takes the
  // focus away and gives it back.
  void thePreviewIsRebuiltWhenTheFocusEntersThePageFromOutside_data() {
    QTest::addColumn<QString>("start");  // list, tabs, tabsOnView, text
    QTest::addColumn<int>("move");
    QTest::addColumn<QString>("focusAfter");
    QTest::addColumn<int>("rebuilds");
    QTest::newRow("page change from the list") << "list" << int(kCtrlTab) << "tmeView" << 1;
    QTest::newRow("double click on the row") << "list" << int(kDoubleClickRow) << "tmeView" << 1;
    QTest::newRow("page change on the tab strip") << "tabs" << int(kRightOnTheTabs) << "tabs" << 0;
    QTest::newRow("Tab key into the page") << "tabsOnView" << int(kTabKey) << "tmeView" << 1;
    QTest::newRow("click on the text") << "tabsOnView" << int(kClickOnTheText) << "tmeView" << 1;
    QTest::newRow("click on the path line") << "tabsOnView" << int(kClickOnThePath) << "tabs" << 0;
    QTest::newRow("double click on the text")
        << "text" << int(kDoubleClickText) << "lvwResult" << 0;
    QTest::newRow("window activated again") << "text" << int(kOtherWindow) << "tmeView" << 0;
    QTest::newRow("modal box closed") << "text" << int(kModalBox) << "tmeView" << 0;
    QTest::newRow("menu closed") << "text" << int(kMenu) << "tmeView" << 0;
  }
  void thePreviewIsRebuiltWhenTheFocusEntersThePageFromOutside() {
    QFETCH(QString, start);
    QFETCH(int, move);
    QFETCH(QString, focusAfter);
    QFETCH(int, rebuilds);
    TFMain& w = Open();
    const QStringList paths = List(w, {"<b>one</b>"});
    QTreeWidgetItem* row = w.lvwResult->topLevelItem(0);
    row->setSelected(true);
    Activate(w);
    QTabBar* tabs = w.tpcMain->tabBar();
    if (start == "list") {
      w.lvwResult->setFocus();
    } else if (start == "text") {
      w.lvwResult->setFocus();
      w.lvwResultDblClick();
      QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("one"));
    } else {
      tabs->setFocus();
      if (start == "tabsOnView") w.tpcMain->setCurrentWidget(w.ttsView);
    }
    QFile::remove(paths[0]);
    fx_.Fake().whileBoxShows = [&] {
      // A few rounds are enough to tell one box from boxes without end.
      if (fx_.Fake().messageBoxes.size() < 3) QVERIFY(ShowAModalBox(w));
    };

    switch (move) {
      case kCtrlTab:
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ControlModifier);
        break;
      case kRightOnTheTabs:
        QTest::keyClick(tabs, Qt::Key_Right);
        break;
      case kTabKey:
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        break;
      case kClickOnTheText:
        QTest::mouseClick(w.tmeView->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        break;
      case kClickOnThePath:
        QTest::mouseClick(w.tmeViewPath->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
        break;
      case kDoubleClickRow: {
        const QPoint at = w.lvwResult->visualItemRect(row).center();
        QTest::mouseClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(w.lvwResult->viewport(), Qt::LeftButton, {}, at);
        break;
      }
      case kDoubleClickText:
        QTest::mouseDClick(w.tmeView->viewport(), Qt::LeftButton, {}, QPoint(10, 10));
        break;
      case kOtherWindow: {
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(QTest::qWaitForWindowActive(&other));
        Activate(w);
        break;
      }
      case kModalBox:
        QVERIFY(ShowAModalBox(w));
        break;
      case kMenu:
        QTest::keyClick(&w, Qt::Key_E, Qt::AltModifier);
        QTRY_VERIFY(w.tmiEdit->isVisible());
        QTest::keyClick(w.tmiEdit, Qt::Key_Escape);
        QTRY_VERIFY(!w.tmiEdit->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);  // leaves the menu row
        break;
    }
    QCOMPARE(int(fx_.Fake().messageBoxes.size()), rebuilds);
    QWidget* expected =
        focusAfter == "tabs" ? static_cast<QWidget*>(tabs) : w.findChild<QWidget*>(focusAfter);
    QCOMPARE(QApplication::focusWidget(), expected);
    QCOMPARE(w.tpcMain->currentWidget(), focusAfter == "lvwResult" ? w.ttsMain : w.ttsView);
  }

  void doubleClickOnEmptySpaceShowsEmptyMemos() {
    TFMain& w = Open();
    List(w, {"x"});
    Activate(w);
    w.tmeView->setPlainText("old");
    QTest::mouseDClick(w.lvwResult->viewport(), Qt::LeftButton, {},
                       QPoint(10, w.lvwResult->viewport()->height() - 5));
    QCOMPARE(w.tpcMain->currentWidget(), w.ttsView);
    QCOMPARE(w.tmeView->toPlainText(), QString());
  }
};

TAVRIN_GUI_TEST_MAIN(BatchRunTest)
#include "test_batchrun.moc"
