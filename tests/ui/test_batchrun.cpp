// The batch run and the preview page, on real files in a temporary folder.
#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTreeWidget>

#include "CodePage.h"
#include "Main.h"
#include "WindowFixture.h"

using namespace tavrin;

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
    QCOMPARE(fx_.Fake().messageBoxes[0].text,
             QStringLiteral("ファイル %1 は開けません.").arg(paths[1]));
    QCOMPARE(fx_.Fake().messageBoxes[0].caption, QStringLiteral("tavrin"));
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
    QCOMPARE(fx_.Fake().messageBoxes[0].text,
             QStringLiteral("ファイル %1.txt を作成できません.").arg(paths[1]));
  }

  void theRunUsesTheLoadedTableNotTheFile() {
    TFMain& w = Open("&amp;=AND\r\n");
    const QStringList paths = List(w, {"&amp;"});
    testing::WriteFile(Path("CEntity.txt"), "&amp;=OTHER\r\n");
    w.tmiFileRun->trigger();
    QCOMPARE(testing::ReadFile(paths[0] + ".txt"), QByteArray("AND"));
  }

  void theListIgnoresCommandsWhileItRuns() {
    TFMain& w = Open();
    List(w, {"a", "b"});
    bool clearedDuringRun = false;
    connect(&w, &TFMain::statusTextChanged, this, [&](const QString& text) {
      if (text == QStringLiteral("実行開始")) {
        w.tmiEditListAllClear->trigger();
        clearedDuringRun = w.RowCount() == 0;
      }
    });
    w.tmiFileRun->trigger();
    QVERIFY(!clearedDuringRun);
    QCOMPARE(w.RowTaskText(1), QStringLiteral("完了"));
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
    QCOMPARE(fx_.Fake().messageBoxes[0].text,
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
