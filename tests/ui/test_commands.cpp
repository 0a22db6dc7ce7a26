// The trash, search and table-check commands, answered through the fake desktop.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "Main.h"
#include "QtDesktopServices.h"
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

  // Each desktop command runs from its menu item; their flows are the behaviour's own tests.
  void desktopCommandsRunFromTheirMenuItems() {
    TFMain& w = Open("x=y=z\r\n");
    testing::WriteFile(Path("a.html"), "x");
    testing::DropLocalFiles(&w, {Path("a.html")});
    QSignalSpy spy(&w, &TFMain::statusTextChanged);
    w.tmiEditListIsRecycled->trigger();
    QCOMPARE(Statuses(spy), (QStringList{"削除開始", "削除終了"}));
    QCOMPARE(fx_.Fake().trashCalls,
             std::vector<std::string>{Path("a.html").toStdString() + '\0' + '\0'});
    QCOMPARE(w.RowCount(), 0);

    fx_.Fake().folderAnswers = {fx_.Folder().toStdString()};
    w.tmiFileFindFile->trigger();
    QCOMPARE(fx_.Fake().searchWindows, std::vector<std::string>{fx_.Folder().toStdString()});

    w.tmiEditCEntity->trigger();
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes.back().text), QStringLiteral("x y z\n"));
    QCOMPARE(testing::Q(fx_.Fake().messageBoxes.back().caption), QStringLiteral("CEntity"));
  }

  // The table check's text shown in the real box: the box fits the screen's working area with
  // its caption, text and one OK button; the text scrolls, down to its last line.
  void theTableCheckBoxFitsTheScreen_data() {
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("lastLine");
    QFile shipped(QStringLiteral(TAVRIN_EXAMPLES_DIR "/utf-8/CEntity.txt"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    QTest::newRow("the shipped table") << shipped.readAll() << "&amp; &";
    QByteArray huge;
    for (int i = 0; i < 200000; ++i) huge += "&e" + QByteArray::number(i) + ";=r\r\n";
    QTest::newRow("200,000 rows") << huge << "行を省略)";
    QTest::newRow("a word wider than the screen") << QByteArray(4000, 'x') + "=end"
                                                  << "end";
    QByteArray japanese;  // one row of 10,000 bytes: a Japanese name without a space
    while (japanese.size() < 10000) japanese += "日本語";
    QTest::newRow("a row of 10,000 bytes") << japanese + "=終わり"
                                           << "終わり";
  }
  void theTableCheckBoxFitsTheScreen() {
    QFETCH(QByteArray, table);
    QFETCH(QString, lastLine);
    TFMain& w = Open(table);
    w.tmiEditCEntity->trigger();
    QCOMPARE(fx_.Fake().messageBoxes.size(), size_t{1});
    const testing::MessageBoxCall call = fx_.Fake().messageBoxes[0];

    bool looked = false;
    QTimer::singleShot(0, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box != nullptr);
      // Closed whatever is found, so that a failure cannot leave the box waiting.
      const std::unique_ptr<QMessageBox, void (*)(QMessageBox*)> closer(
          box, [](QMessageBox* open) { open->done(QMessageBox::Ok); });
      QVERIFY(QTest::qWaitForWindowExposed(box));
      looked = true;
      QCOMPARE(box->windowTitle(), QStringLiteral("CEntity"));
      QVERIFY(box->text().startsWith(testing::Q(call.text).left(1000)));
      QVERIFY(box->text().trimmed().endsWith(lastLine));
      QVERIFY(box->screen()->availableGeometry().contains(box->frameGeometry()));
      QCOMPARE(box->buttons().size(), 1);
      QAbstractButton* ok = box->button(QMessageBox::Ok);
      QVERIFY(ok != nullptr && ok->isVisible());
      QVERIFY(box->rect().contains(QRect(ok->mapTo(box, QPoint(0, 0)), ok->size())));

      auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
      auto* pane = box->findChild<QScrollArea*>();
      QVERIFY(label != nullptr && pane != nullptr);
      QCOMPARE(label->text(), box->text());
      pane->verticalScrollBar()->setValue(pane->verticalScrollBar()->maximum());
      pane->horizontalScrollBar()->setValue(pane->horizontalScrollBar()->maximum());
      // The label's last pixel rows and columns, where the text ends, are in view.
      const QRect seen = label->visibleRegion().boundingRect();
      QCOMPARE(seen.bottomRight(), QPoint(label->width() - 1, label->height() - 1));
    });
    QtDesktopServices real;
    QCOMPARE(real.MessageBox(&w, call.text, call.caption, call.flags), kIdOk);
    QVERIFY(looked);
  }
};

TAVRIN_GUI_TEST_MAIN(CommandsTest)
#include "test_commands.moc"
