// The trash, search and table-check commands, answered through the fake desktop.
#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTreeWidget>

#include "Main.h"
#include "WindowFixture.h"

using namespace tavrin;

class CommandsTest : public QObject {
  Q_OBJECT

 private:
  testing::WindowFixture fx_;

  TFMain& Open(const QByteArray& table = "a=b\r\n") { return fx_.Open(table); }
  QString Path(const QString& name) const { return fx_.Path(name); }
  static QStringList Statuses(const QSignalSpy& spy) {
    return testing::WindowFixture::Statuses(spy);
  }

 private Q_SLOTS:
  void init() { fx_.SetUp(); }
  void cleanup() { fx_.TearDown(); }

  void answeringNoToTheTrashQuestionChangesNothing() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "x");
    testing::DropLocalFiles(&w, {Path("a.html")});
    fx_.Fake().messageBoxAnswers = {kIdNo};
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(fx_.Fake().messageBoxes[0].text, QStringLiteral("ファイル群を削除しますか?"));
    QCOMPARE(fx_.Fake().messageBoxes[0].caption, QStringLiteral("クッション"));
    QCOMPARE(fx_.Fake().messageBoxes[0].flags, mb::kYesNo);
    QVERIFY(spy.isEmpty());
    QCOMPARE(w.RowCount(), 1);
    QVERIFY(fx_.Fake().trashCalls.empty());
  }

  void yesWithAnEmptyListOnlySetsTheStatus() {
    TFMain& w = Open();
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(Statuses(spy), (QStringList{"削除開始", "削除終了"}));
    QVERIFY(fx_.Fake().trashCalls.empty());
  }

  void yesHandsEveryRowOverAndEmptiesTheList() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "x");
    testing::WriteFile(Path("b c.html"), "x");
    testing::DropLocalFiles(&w, {Path("a.html"), Path("b c.html"), Path("a.html")});
    w.lvwResult->topLevelItem(1)->setSelected(true);
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(Statuses(spy), (QStringList{"削除開始", "削除終了"}));
    QCOMPARE(fx_.Fake().trashCalls.size(), size_t{1});
    const std::string a = Path("a.html").toStdString();
    const std::string bc = Path("b c.html").toStdString();
    QCOMPARE(fx_.Fake().trashCalls[0], a + '\0' + bc + '\0' + a + '\0' + '\0');
    QCOMPARE(w.RowCount(), 0);
    // The fake moved nothing: the list is emptied whatever the desktop did.
    QVERIFY(QFile::exists(Path("a.html")));
  }

  void cancellingTheFolderPickerOpensNothing() {
    TFMain& w = Open();
    w.tmiFileFindFile->trigger();
    QCOMPARE(fx_.Fake().folderPickers, 1);
    QVERIFY(fx_.Fake().searchWindows.empty());
    fx_.Fake().folderAnswers = {fx_.Folder().toStdString()};
    w.tmiFileFindFile->trigger();
    QCOMPARE(fx_.Fake().searchWindows, std::vector<std::string>{fx_.Folder().toStdString()});
  }

  void tableCheckShowsTheReloadedTable() {
    TFMain& w = Open("&amp;=&\r\n&nbsp;=&tavri:spe;\r\nx=y=z\r\n");
    w.tmiEditCEntity->trigger();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    QCOMPARE(fx_.Fake().messageBoxes[0].caption, QStringLiteral("CEntity"));
    QCOMPARE(fx_.Fake().messageBoxes[0].flags, mb::kOk);
    QCOMPARE(fx_.Fake().messageBoxes[0].text, QStringLiteral("&amp; &\n&nbsp;  \nx y z\n"));

    // An edit shows at once and is what the next run uses.
    testing::WriteFile(Path("CEntity.txt"), "a=&tavri:ret;");
    w.tmiEditCEntity->trigger();
    QCOMPARE(fx_.Fake().messageBoxes[1].text, QStringLiteral("a \n"));
    QCOMPARE(w.EntityTable(), (ArrayOfArrayOfString{{"a", "\r\n"}}));

    // A deleted file shows the open error and the earlier table stays in use.
    QFile::remove(Path("CEntity.txt"));
    w.tmiEditCEntity->trigger();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{3});
    QCOMPARE(fx_.Fake().messageBoxes[2].text, QStringLiteral("ファイル CEntity.txt は開けません."));
    QCOMPARE(fx_.Fake().messageBoxes[2].flags, mb::kOk | mb::kIconError);
    QCOMPARE(w.EntityTable(), (ArrayOfArrayOfString{{"a", "\r\n"}}));
  }
};

TAVRIN_GUI_TEST_MAIN(CommandsTest)
#include "test_commands.moc"
