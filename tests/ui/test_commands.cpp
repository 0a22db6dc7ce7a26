// The trash, search and table-check commands, answered through the fake desktop.
#include <QAction>
#include <QApplication>
#include <QSignalSpy>
#include <QTreeWidget>

#include "FakeDesktopServices.h"
#include "GuiTest.h"
#include "Main.h"
#include "QtDesktopServices.h"

using namespace tavrin;
using tavrin::testing::FakeDesktopServices;

class CommandsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> work_;
  QtDesktopServices real_;
  std::unique_ptr<FakeDesktopServices> fake_;
  std::unique_ptr<TFMain> window_;

  QString Path(const QString& name) const { return work_->filePath(name); }

  TFMain& Open(const QByteArray& table = "a=b\r\n") {
    testing::WriteFile(Path("CEntity.txt"), table);
    window_ = std::make_unique<TFMain>(*fake_);
    window_->show();
    if (!QTest::qWaitForWindowExposed(window_.get())) qFatal("window not exposed");
    return *window_;
  }

  QStringList Statuses(const QSignalSpy& spy) {
    QStringList texts;
    for (const QList<QVariant>& args : spy) texts << args[0].toString();
    return texts;
  }

 private Q_SLOTS:
  void init() {
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir::setCurrent(work_->path()));
    fake_ = std::make_unique<FakeDesktopServices>();
    fake_->UseRealFileSystem(&real_);
  }
  void cleanup() {
    window_.reset();
    QDir::setCurrent(QDir::tempPath());
    work_.reset();
  }

  void answeringNoToTheTrashQuestionChangesNothing() {
    TFMain& w = Open();
    testing::WriteFile(Path("a.html"), "x");
    testing::DropLocalFiles(&w, {Path("a.html")});
    fake_->messageBoxAnswers = {kIdNo};
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(fake_->messageBoxes.size(), size_t{1});
    QCOMPARE(fake_->messageBoxes[0].text, QStringLiteral("ファイル群を削除しますか?"));
    QCOMPARE(fake_->messageBoxes[0].caption, QStringLiteral("クッション"));
    QCOMPARE(fake_->messageBoxes[0].flags, mb::kYesNo);
    QVERIFY(spy.isEmpty());
    QCOMPARE(w.RowCount(), 1);
    QVERIFY(fake_->trashCalls.empty());
  }

  void yesWithAnEmptyListOnlySetsTheStatus() {
    TFMain& w = Open();
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(fake_->messageBoxes.size(), size_t{1});
    QCOMPARE(Statuses(spy), (QStringList{"削除開始", "削除終了"}));
    QVERIFY(fake_->trashCalls.empty());
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
    QCOMPARE(fake_->trashCalls.size(), size_t{1});
    const std::string a = Path("a.html").toStdString();
    const std::string bc = Path("b c.html").toStdString();
    QCOMPARE(fake_->trashCalls[0], a + '\0' + bc + '\0' + a + '\0' + '\0');
    QCOMPARE(w.RowCount(), 0);
    // The fake moved nothing: the list is emptied whatever the desktop did.
    QVERIFY(QFile::exists(Path("a.html")));
  }

  void cancellingTheFolderPickerOpensNothing() {
    TFMain& w = Open();
    w.tmiFileFindFile->trigger();
    QCOMPARE(fake_->folderPickers, 1);
    QVERIFY(fake_->searchWindows.empty());
    fake_->folderAnswers = {work_->path().toStdString()};
    w.tmiFileFindFile->trigger();
    QCOMPARE(fake_->searchWindows, std::vector<std::string>{work_->path().toStdString()});
  }

  void tableCheckShowsTheReloadedTable() {
    TFMain& w = Open("&amp;=&\r\n&nbsp;=&tavri:spe;\r\nx=y=z\r\n");
    w.tmiEditCEntity->trigger();
    QCOMPARE(fake_->messageBoxes.size(), size_t{1});
    QCOMPARE(fake_->messageBoxes[0].caption, QStringLiteral("CEntity"));
    QCOMPARE(fake_->messageBoxes[0].flags, mb::kOk);
    QCOMPARE(fake_->messageBoxes[0].text, QStringLiteral("&amp; &\n&nbsp;  \nx y z\n"));

    // An edit shows at once and is what the next run uses.
    testing::WriteFile(Path("CEntity.txt"), "a=&tavri:ret;");
    w.tmiEditCEntity->trigger();
    QCOMPARE(fake_->messageBoxes[1].text, QStringLiteral("a \n"));
    QCOMPARE(w.EntityTable(), (ArrayOfArrayOfString{{"a", "\r\n"}}));

    // A deleted file shows the open error and the earlier table stays in use.
    QFile::remove(Path("CEntity.txt"));
    w.tmiEditCEntity->trigger();
    QCOMPARE(fake_->messageBoxes.size(), size_t{3});
    QCOMPARE(fake_->messageBoxes[2].text, QStringLiteral("ファイル CEntity.txt は開けません."));
    QCOMPARE(fake_->messageBoxes[2].flags, mb::kOk | mb::kIconError);
    QCOMPARE(w.EntityTable(), (ArrayOfArrayOfString{{"a", "\r\n"}}));
  }
};

TAVRIN_GUI_TEST_MAIN(CommandsTest)
#include "test_commands.moc"
