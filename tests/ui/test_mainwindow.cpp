// The main window: start-up, menus and toolbar, the file list and the error box.
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSet>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QWindow>

#include "AboutBox.h"
#include "DroppedFiles.h"
#include "FileIOTools.h"
#include "FileList.h"
#include "Main.h"
#include "TextCodec.h"
#include "WindowFixture.h"

using namespace tavrin;

namespace {

// The caption the window system is given for a window titled title. Qt's platform windows
// append " — " and the application's display name to a title not ending in it, once the
// application has a display name of its own; without one, applicationDisplayName() gives the
// application's name, and nothing is appended.
QString CaptionShown(const QString& title) {
  const QString name = QCoreApplication::applicationName();
  const QString probe = name + QStringLiteral("-probe");
  QCoreApplication::setApplicationName(probe);
  const QString display = QGuiApplication::applicationDisplayName();
  QCoreApplication::setApplicationName(name);
  if (display == probe || title.endsWith(display)) return title;
  return title + QStringLiteral(" — ") + display;
}

// A double click on the middle of a band's gripper.
void DoubleClickGripper(TCoolBand* band) {
  const QPoint at = band->GripperRect().center();
  QTest::mouseDClick(band, Qt::LeftButton, {}, at);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  testing::WindowFixture fx_;

  TFMain& Open() { return fx_.Open(); }
  QString Path(const QString& name) const { return fx_.Path(name); }

 private Q_SLOTS:
  void init() { fx_.SetUp(); }
  void cleanup() { fx_.TearDown(); }

  void startsWithoutTableShowingOneError() {
    TFMain& w = Open();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].text),
             QStringLiteral("ファイル CEntity.txt は開けません."));
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes[0].caption), QStringLiteral("tavrin"));
    QCOMPARE(fx_.Fake().messageBoxes[0].flags, mb::kOk | mb::kIconError);
    QVERIFY(w.EntityTable().empty());
    QVERIFY(w.isVisible());
    QCOMPARE(w.windowTitle(), QStringLiteral("tavrin"));
    QCOMPARE(w.StatusText(), QString());
    QCOMPARE(w.tpcMain->currentWidget(), w.ttsMain);
  }

  void startsWithTheTableLoaded() {
    testing::WriteFile(Path("CEntity.txt"), "&amp;=&\r\n&lt;=<\r\n");
    TFMain& w = Open();
    QVERIFY(fx_.Fake().messageBoxes.empty());
    QCOMPARE(w.EntityTable().size(), size_t{3});
    QCOMPARE(w.EntityTable()[1][1], std::string("<"));
  }

  void everyMenuItemHasItsCaptionImageAndHandler_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("image");
    QTest::newRow("run") << "tmiFileRun"
                         << "実行(&R)" << 4;
    QTest::newRow("find") << "tmiFileFindFile"
                          << "ファイル検索ダイアログを表示する(&F)" << 11;
    QTest::newRow("close") << "tmiFileClose"
                           << "閉じる(&C)" << 5;
    QTest::newRow("clear") << "tmiEditListClear"
                           << "選択した項目をクリア(&S)" << 6;
    QTest::newRow("clearall") << "tmiEditListAllClear"
                              << "リストを全てクリア(&C)" << 7;
    QTest::newRow("trash") << "tmiEditListIsRecycled"
                           << "リストファイルをごみ箱へ(&R)" << 9;
    QTest::newRow("table") << "tmiEditCEntity"
                           << "「CEntity.txt」の読み込みを確認する(&E)" << 10;
    QTest::newRow("about") << "tmiHelpVersion"
                           << "バージョン情報(&A)..." << 8;
  }
  void everyMenuItemHasItsCaptionImageAndHandler() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(int, image);
    TFMain& w = Open();
    auto* action = w.findChild<QAction*>(name);
    QVERIFY(action != nullptr);
    QCOMPARE(action->text(), caption);
    QCOMPARE(action->property("imageIndex").toInt(), image);
    QVERIFY(!action->icon().isNull());
    QVERIFY(action->isEnabled());
    QVERIFY(action->shortcut().isEmpty());
  }

  void menusShowInTheSecondBand() {
    TFMain& w = Open();
    QVERIFY(w.menuWidget() == nullptr || w.menuWidget() != w.tmmMain);
    QCOMPARE(w.tmmMain->parentWidget(), w.ttbMenu);
    QVERIFY(!w.tmmMain->isNativeMenuBar());
    QStringList titles;
    for (QAction* a : w.tmmMain->actions()) titles << a->text();
    QCOMPARE(titles, (QStringList{"ファイル(&F)", "編集(&E)", "ヘルプ(&H)"}));
    QStringList file;
    for (QAction* a : w.tmiFile->actions()) file << a->objectName();
    QCOMPARE(file, (QStringList{"tmiFileRun", "tmiFileFindFile", "tmiFileHR01", "tmiFileClose"}));
    QStringList edit;
    for (QAction* a : w.tmiEdit->actions()) edit << a->objectName();
    QCOMPARE(edit, (QStringList{"tmiEditListClear", "tmiEditListAllClear", "tmiEditHR01",
                                "tmiEditListIsRecycled", "tmiEditHR02", "tmiEditCEntity"}));
    QCOMPARE(w.toolBarArea(w.ttbMain), Qt::TopToolBarArea);
    QCOMPARE(w.toolBarArea(w.ttbMenu), Qt::TopToolBarArea);
    for (QToolBar* band : {static_cast<QToolBar*>(w.ttbMain), static_cast<QToolBar*>(w.ttbMenu)}) {
      QVERIFY(band->isMovable());
      QVERIFY(!band->isFloatable());
      QCOMPARE(band->allowedAreas(), Qt::TopToolBarArea);
    }
    QVERIFY(w.findChild<QWidget*>("tblTopSpacer")->height() == 5);
    // The cool bar's measures: band 1 175 pixels wide, both bands in one row 26 pixels high,
    // buttons of 23 x 22 pixels.
    QCOMPARE(w.ttbMain->size(), QSize(175, 26));
    QCOMPARE(w.ttbMenu->geometry(), QRect(175, 0, w.width() - 175, 26));
    for (const char* button : {"ToolButton1", "ToolButton9", "ToolButton3", "ToolButton4",
                               "ToolButton8", "ToolButton6"}) {
      QCOMPARE(w.ttbMain->findChild<QWidget*>(button)->size(), QSize(23, 22));
    }
    QVERIFY(w.findChild<QStatusBar*>("tsbMain")->isSizeGripEnabled());
  }

  void focusStartsOnTheTabStripAndMenusOpenFromTheKeyboard() {
    testing::WriteFile(Path("a.html"), "<b>x</b>");
    TFMain& w = Open();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.tpcMain->tabBar());

    // Switching pages from the tab strip leaves the preview alone until the focus enters it.
    testing::DropLocalFiles(&w, {Path("a.html")});
    w.lvwResult->topLevelItem(0)->setSelected(true);
    QTest::keyClick(w.tpcMain->tabBar(), Qt::Key_Right);
    QCOMPARE(w.tpcMain->currentWidget(), w.ttsView);
    QCOMPARE(w.tmeView->toPlainText(), QString());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_COMPARE(w.tmeView->toPlainText(), QStringLiteral("x"));

    QTest::keyClick(&w, Qt::Key_E, Qt::AltModifier);
    QTRY_VERIFY(w.tmiEdit->isVisible());
    QTest::keyClick(w.tmiEdit, Qt::Key_Escape);
    QTRY_VERIFY(!w.tmiEdit->isVisible());
    // F10 opens the first menu with its first item selected, as from a menu bar.
    QTest::keyClick(&w, Qt::Key_F10);
    QTRY_VERIFY(w.tmiFile->isVisible());
    QCOMPARE(w.tmiFile->activeAction(), w.tmiFileRun);
    QTest::keyClick(w.tmiFile, Qt::Key_Escape);
    QTRY_VERIFY(!w.tmiFile->isVisible());
  }

  // The bands offer no menu (which would show their internal names and hide them); a double
  // click on a gripper maximises that band, the other one keeping its minimum width.
  void theBandsHaveNoMenuAndMaximiseOnADoubleClick() {
    TFMain& w = Open();
    for (QWidget* target : {static_cast<QWidget*>(w.ttbMain), static_cast<QWidget*>(w.ttbMenu),
                            static_cast<QWidget*>(w.tmmMain)}) {
      const QPoint at = target == w.tmmMain
                            ? QPoint(1, 1)
                            : static_cast<TCoolBand*>(target)->GripperRect().center();
      QContextMenuEvent menu(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
      QCoreApplication::sendEvent(target, &menu);
      QCOMPARE(QApplication::activePopupWidget(), nullptr);
    }
    QVERIFY(w.ttbMain->isVisible() && w.ttbMenu->isVisible());

    const int row = w.width();
    QCOMPARE(w.ttbMain->y(), w.ttbMenu->y());
    DoubleClickGripper(w.ttbMenu);
    QTRY_COMPARE(w.ttbMain->width(), w.ttbMain->minimumWidth());
    QCOMPARE(w.ttbMenu->x(), w.ttbMain->minimumWidth());
    QCOMPARE(w.ttbMenu->geometry().right(), row - 1);

    DoubleClickGripper(w.ttbMain);
    QTRY_COMPARE(w.ttbMenu->width(), w.ttbMenu->minimumWidth());
    QCOMPARE(w.ttbMain->width(), row - w.ttbMenu->minimumWidth());
    QCOMPARE(w.ttbMenu->geometry().right(), row - 1);
    QCOMPARE(w.ttbMain->y(), w.ttbMenu->y());
  }

  // No control carries a hint, so asking any control of the window for one shows nothing.
  void noToolTipIsEverShown() {
    TFMain& w = Open();
    const QList<QWidget*> controls = w.findChildren<QWidget*>();
    int asked = 0;
    for (QWidget* control : controls) {
      if (!control->isVisible()) continue;
      const QPoint at = control->rect().center();
      QHelpEvent help(QEvent::ToolTip, at, control->mapToGlobal(at));
      QCoreApplication::sendEvent(control, &help);
      QVERIFY2(!QToolTip::isVisible(), qPrintable(control->objectName() + ": " + QToolTip::text()));
      ++asked;
    }
    QVERIFY(asked > 20);
  }

  // Every caption reaches the window system exactly as given, with nothing appended.
  void captionsAreExactlyTheirTexts() {
    SetUpApplication();
    TFMain& w = Open();  // no table: the error box
    fx_.Fake().messageBoxAnswers = {kIdNo};
    w.tmiEditListIsRecycled->trigger();
    testing::WriteFile(Path("CEntity.txt"), "a=b");
    w.tmiEditCEntity->trigger();
    TFAboutBox about(&w);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));

    QStringList shown;
    for (const QWindow* window : {w.windowHandle(), about.windowHandle()}) {
      shown << CaptionShown(window->title());
    }
    for (const testing::MessageBoxCall& box : fx_.Fake().messageBoxes) {
      shown << CaptionShown(testing::Q(box.caption));
    }
    QCOMPARE(shown, (QStringList{"tavrin", "バージョン情報", "tavrin", "クッション", "CEntity"}));
  }

  void toolButtonsShareTheirItemsActions() {
    TFMain& w = Open();
    const std::pair<const char*, QAction*> buttons[] = {
        {"ToolButton1", w.tmiFileRun},
        {"ToolButton9", w.tmiFileFindFile},
        {"ToolButton3", w.tmiEditListClear},
        {"ToolButton4", w.tmiEditListAllClear},
        {"ToolButton8", w.tmiEditListIsRecycled},
        {"ToolButton6", w.tmiFileClose},
    };
    for (const auto& [name, action] : buttons) {
      auto* button = w.ttbMain->findChild<QToolButton*>(name);
      QVERIFY2(button != nullptr, name);
      QCOMPARE(button->defaultAction(), action);
    }
    QStringList order;
    for (QAction* a : w.ttbMain->actions()) {
      order << (a->isSeparator() ? QStringLiteral("-") : a->objectName());
    }
    QCOMPARE(order, (QStringList{"tmiFileRun", "tmiFileFindFile", "-", "tmiEditListClear",
                                 "tmiEditListAllClear", "-", "tmiEditListIsRecycled", "-",
                                 "tmiFileClose"}));
    for (const char* separator : {"ToolButton2", "ToolButton5", "ToolButton7"}) {
      QVERIFY2(w.ttbMain->findChild<QWidget*>(separator) != nullptr, separator);
    }
  }

  void droppedFilesBecomeRowsInOrder() {
    TFMain& w = Open();
    QDir(fx_.Folder()).mkdir("folder");
    for (const char* name : {"b.html", "a.html", "c.htm"}) testing::WriteFile(Path(name), "x");
    QVERIFY(testing::DropLocalFiles(&w, {Path("b.html"), Path("folder"), Path("a.html"),
                                         Path("missing.html"), Path("c.htm"), Path("a.html")}));
    QCOMPARE(w.RowCount(), 4);
    const char* expected[] = {"b.html", "a.html", "c.htm", "a.html"};
    for (int row = 0; row < 4; ++row) {
      QCOMPARE(w.RowPath(row), Path(expected[row]).toStdString());
      QCOMPARE(w.lvwResult->topLevelItem(row)->text(0), QString::fromLatin1(expected[row]));
      QCOMPARE(w.lvwResult->topLevelItem(row)->text(1), Path(expected[row]));
      QCOMPARE(w.RowTaskText(row), QStringLiteral("未処理"));
      QCOMPARE(w.RowImageIndex(row), kImageWaiting);
    }
  }

  void specialFilesAreNotListed() {
    TFMain& w = Open();
    QVERIFY(::mkfifo(qPrintable(Path("fifo")), 0600) == 0);
    testing::DropLocalFiles(&w, {Path("fifo"), "/dev/null"});
    QCOMPARE(w.RowCount(), 0);
  }

  void dropsArriveOverTheMemoWhileThePreviewShows() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "<p>x</p>");
    w.tpcMain->setCurrentWidget(w.ttsView);
    w.tmeView->setPlainText("earlier");
    const QPoint overMemo = w.tmeView->mapTo(&w, w.tmeView->rect().center());
    QVERIFY(testing::DropLocalFiles(&w, {Path("a.html")}, overMemo));
    QCOMPARE(w.RowCount(), 1);
    QCOMPARE(w.tmeView->toPlainText(), QStringLiteral("earlier"));
  }

  void aDropWithoutAnAcceptedEnterIsIgnored() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "x");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(Path("a.html"))});
    testing::SimulateDrop(&w, &mime, {40, 120}, /*withEnter=*/false);
    QCOMPARE(w.RowCount(), 0);
  }

  void rawUriListsKeepEveryByteAndSkipRemoteFiles() {
    TFMain& w = Open();
    const std::string odd = fx_.Folder().toStdString() + "/\x83\x5C%20 name\xff.html";
    WriteStringToFile(odd, "x");  // through the core: the name is not valid UTF-8
    QMimeData mime;
    mime.setData("text/uri-list", "# comment\r\n" + testing::FileUri(odd) +
                                      "\r\nhttp://example.invalid/a.html\r\n"
                                      "file://otherhost/etc/passwd\r\n");
    QVERIFY(testing::SimulateDrop(&w, &mime, {40, 120}));
    QCOMPARE(w.RowCount(), 1);
    QCOMPARE(w.RowPath(0), odd);
    QVERIFY(w.lvwResult->topLevelItem(0)->text(0).endsWith(u"\\x83\\%20 name\\xFF.html"));
  }

  void clearingRemovesSelectedOrAllRows() {
    TFMain& w = Open();
    QStringList files;
    for (int i = 0; i < 5; ++i) {
      files << Path(QStringLiteral("f%1.html").arg(i));
      testing::WriteFile(files.back(), "x");
    }
    testing::DropLocalFiles(&w, files);
    w.tmiEditListClear->trigger();  // nothing selected
    QCOMPARE(w.RowCount(), 5);
    w.lvwResult->topLevelItem(1)->setSelected(true);
    w.lvwResult->topLevelItem(3)->setSelected(true);
    w.tmiEditListClear->trigger();
    QCOMPARE(w.RowCount(), 3);
    QCOMPARE(w.RowPath(1), files[2].toStdString());
    QVERIFY(QFile::exists(files[1]));
    w.findChild<QToolButton*>("ToolButton4")->click();
    QCOMPARE(w.RowCount(), 0);
  }

  // The current row stays, or, when it goes, the last row kept before it becomes current (the
  // first kept after it when none comes before); no row is left selected.
  void clearingSelectedRowsKeepsTheCurrentRowNearby_data() {
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<int>("currentAfter");
    QTest::newRow("every other row, current among them")
        << QList<int>{1, 3, 5, 7} << 3 << "0246" << 1;
    QTest::newRow("the last rows, current among them")
        << QList<int>{4, 5, 6, 7} << 5 << "0123" << 3;
    QTest::newRow("current kept") << QList<int>{1, 3} << 6 << "024567" << 4;
    QTest::newRow("the first row, current") << QList<int>{0} << 0 << "1234567" << 0;
    QTest::newRow("runs around the current") << QList<int>{0, 2, 3, 4, 7} << 3 << "156" << 0;
    QTest::newRow("the current and all before it") << QList<int>{0, 1, 2, 5} << 2 << "3467" << 0;
    QTest::newRow("every row") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7} << 2 << "" << -1;
  }
  void clearingSelectedRowsKeepsTheCurrentRowNearby() {
    QFETCH(QList<int>, selected);
    QFETCH(int, current);
    QFETCH(QString, kept);
    QFETCH(int, currentAfter);
    TFMain& w = Open();
    QStringList files;
    for (int i = 0; i < 8; ++i) {
      files << Path(QStringLiteral("%1").arg(i));
      testing::WriteFile(files.back(), "x");
    }
    testing::DropLocalFiles(&w, files);
    w.lvwResult->setCurrentItem(w.lvwResult->topLevelItem(current), 0,
                                QItemSelectionModel::NoUpdate);
    for (int row : selected) w.lvwResult->topLevelItem(row)->setSelected(true);
    w.tmiEditListClear->trigger();
    QString shown;
    for (int row = 0; row < w.RowCount(); ++row) shown += w.lvwResult->topLevelItem(row)->text(0);
    QCOMPARE(shown, kept);
    QCOMPARE(w.lvwResult->currentIndex().row(), currentAfter);
    QVERIFY(w.lvwResult->selectedItems().isEmpty());
    QVERIFY(w.lvwResult->selectionModel()->selectedRows().isEmpty());
  }

  void closeEndsWithoutAsking() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "x");
    testing::DropLocalFiles(&w, {Path("a.html")});
    const size_t boxes = fx_.Fake().messageBoxes.size();
    // A search window the main window opened would otherwise keep the program running.
    auto* search = new QWidget(&w, Qt::Window);
    search->show();
    w.tmiFileClose->trigger();
    QVERIFY(!w.isVisible());
    QVERIFY(!search->isVisible());
    QCOMPARE(fx_.Fake().messageBoxes.size(), boxes);
  }

  void fileNameOfPath_data() {
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("plain") << QByteArray("/dir/a.html") << QByteArray("a.html");
    QTest::newRow("trailing") << QByteArray("/dir/sub/") << QByteArray("sub");
    QTest::newRow("bare") << QByteArray("a.html") << QByteArray("a.html");
    QTest::newRow("root") << QByteArray("/") << QByteArray("");
    QTest::newRow("backslash") << QByteArray("/d/\x83\x5C.html") << QByteArray("\x83\x5C.html");
  }
  void fileNameOfPath() {
    QFETCH(QByteArray, path);
    QFETCH(QByteArray, name);
    QCOMPARE(QByteArray::fromStdString(FileNameOfPath(path.toStdString())), name);
  }

  // How every place shows a name or path: decoded in the user's code set, control characters as
  // their pictures, anything else that could hide, break or pass for something else as \xNN.
  // What is shown reads back to the very bytes, so two names never look the same.
  void fileNamesShowByOneRule_data() {
    QTest::addColumn<QByteArray>("codeSet");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    auto row = [](const char* name, const char* codeSet, QByteArray bytes, const char* shown) {
      QTest::newRow(name) << QByteArray(codeSet) << bytes << QString::fromUtf8(shown);
    };
    row("plain", "UTF-8", "/d/a.html", "/d/a.html");
    row("empty", "UTF-8", "", "");
    row("japanese", "UTF-8", "日本語 ページ.html", "日本語 ページ.html");
    row("controls as pictures", "UTF-8", "new\nline\t\r\x1b\x7f",
        "new\u240Aline\u2409\u240D\u241B\u2421");
    row("latin-1 byte", "UTF-8", "caf\xe9.html", "caf\\xE9.html");
    row("shift-jis on a utf-8 desktop", "UTF-8", "\x93\xfa\x96\x7b.html", "\\x93\\xFA\\x96{.html");
    row("overlong slash", "UTF-8", "a\xc0\xaf", "a\\xC0\\xAF");
    row("surrogate half", "UTF-8", "\xed\xa0\x80", "\\xED\\xA0\\x80");
    row("cut-off sequence", "UTF-8", "\xe6\x97", "\\xE6\\x97");
    row("backslash", "UTF-8", "a\\b.html", "a\\b.html");
    row("backslash that reads as an escape", "UTF-8", "a\\x41", "a\\x5Cx41");
    row("backslash before lower-case hex", "UTF-8", "a\\xe9", "a\\xe9");
    row("backslash before an escaped byte", "UTF-8", "a\\\xe9", "a\\\\xE9");
    row("a control picture itself", "UTF-8", "\xe2\x90\x8a", "\\xE2\\x90\\x8A");
    row("line separator", "UTF-8",
        "a\xe2\x80\xa8"
        "b",
        "a\\xE2\\x80\\xA8b");
    row("C1 control", "UTF-8", "a\xc2\x85", "a\\xC2\\x85");
    row("right-to-left override", "UTF-8", "\xe2\x80\xaegpj.exe", "\\xE2\\x80\\xAEgpj.exe");
    row("C locale reads UTF-8", "ANSI_X3.4-1968", "caf\xc3\xa9\n", "café\u240A");
    row("shift-jis", "SHIFT_JIS", "\x93\xfa\x96\x7b.html", "日本.html");
    row("shift-jis second byte 0x5C", "SHIFT_JIS", "\x95\x5c\x83\x5c", "表ソ");
    row("shift-jis lone lead byte", "SHIFT_JIS", "a\x93", "a\\x93");
    row("shift-jis ASCII stays ASCII", "SHIFT_JIS", "~\\x41\x93\xfa", "~\\x5Cx41日");
    row("shift-jis lead byte of no character keeps its second byte", "SHIFT_JIS",
        "\x87\x90\x81\xe0", "\\x87\\x90≒");
    row("cp932 second code of a character", "CP932", "\xfa\x4a\x87\x54", "\\xFA\\x4AⅠ");
    row("utf-8 on a shift-jis desktop is not guessed", "SHIFT_JIS", "caf\xc3\xa9", "cafﾃｩ");
  }
  void fileNamesShowByOneRule() {
    QFETCH(QByteArray, codeSet);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const std::string set = codeSet.toStdString();
    QCOMPARE(DecodeFileName(bytes.toStdString(), set), shown);
    QCOMPARE(QByteArray::fromStdString(EncodeFileName(shown, set)), bytes);
  }

  // Every name of two bytes, alone and after a backslash and x, shows differently from every
  // other and reads back to itself.
  void noTwoNamesLookTheSame() {
    for (const char* codeSet : {"UTF-8", "SHIFT_JIS", "CP932"}) {
      QSet<QString> seen;
      for (int pair = 0; pair < 0x10000; ++pair) {
        const std::string two = {static_cast<char>(pair >> 8), static_cast<char>(pair & 0xFF)};
        for (const std::string& name : {two, "\\x" + two}) {
          const QString shown = DecodeFileName(name, codeSet);
          QVERIFY2(!seen.contains(shown), qPrintable(shown));
          seen.insert(shown);
          QCOMPARE(EncodeFileName(shown, codeSet), name);
          QVERIFY(!shown.contains(QChar::ReplacementCharacter));
        }
      }
    }
  }
};

TAVRIN_GUI_TEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
