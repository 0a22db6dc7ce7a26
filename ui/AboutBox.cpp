#include "AboutBox.h"

#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <QtGlobal>

#include "ImageList.h"
#include "JpegImage.h"
#include "Texts.h"

namespace tavrin {

namespace {

constexpr int kClientWidth = 240;
constexpr int kClientHeight = 320;
constexpr int kLabelX = 8;
constexpr int kLabelWidth = 225;
constexpr int kLabelHeight = 17;

// Names the compiler and the toolkit that built this copy.
QString BuildToolLine() {
  return QString::fromUtf8(texts::kCompiler) + QStringLiteral(" / Qt ") +
         QStringLiteral(QT_VERSION_STR);
}

QPixmap AboutPicture() {
  RegisterPictureResources();
  QFile file(QStringLiteral(":/about.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return QPixmap();
  return QPixmap::fromImage(DecodeJpeg(file.readAll()));
}

QFont LabelFont() {
  QFont font;
  // Tahoma where it exists; the fallbacks keep the same size on a bare Linux desktop.
  font.setFamilies(
      {QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"), QStringLiteral("IPAPGothic")});
  font.setPixelSize(11);
  return font;
}

}  // namespace

TFAboutBox::TFAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FAboutBox"));
  setWindowTitle(QStringLiteral("バージョン情報"));
  setModal(true);
  setSizeGripEnabled(false);
  setFixedSize(kClientWidth, kClientHeight);

  Image1 = new QLabel(this);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, kClientWidth, kClientHeight);
  Image1->setPixmap(AboutPicture());
  // What the picture shows, for those who cannot see it.
  Image1->setAccessibleName(QStringLiteral("tavrin ver 2"));
  Image1->setAccessibleDescription(
      QStringLiteral("砂岩の壁の写真。右上に鉄格子の窓、下から駐車禁止の丸い標識が傾いて立ち、"
                     "右寄りの中ほどに黒い太字で「tavrin」と「ver 2」。"));

  Label2 = AddLabel("Label2", 248, QStringLiteral("作者: tavrin 開発チーム"));
  Label3 = AddLabel("Label3", 264, QStringLiteral("連絡先: tavrin-dev@example.invalid"));
  Label5 = AddLabel("Label5", 280, QStringLiteral("compired with"));
  Label4 = AddLabel("Label4", 296, BuildToolLine());
}

void TFAboutBox::Execute(QWidget* owner) {
  TFAboutBox box(owner);
  box.exec();
}

void TFAboutBox::showEvent(QShowEvent* event) {
  CentreOnScreen();
  QDialog::showEvent(event);
}

QLabel* TFAboutBox::AddLabel(const char* name, int y, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setObjectName(QString::fromLatin1(name));
  label->setGeometry(kLabelX, y, kLabelWidth, kLabelHeight);
  label->setFont(LabelFont());
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setWordWrap(false);
  label->setAutoFillBackground(false);
  label->setAttribute(Qt::WA_TranslucentBackground);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, Qt::black);
  label->setPalette(palette);
  return label;
}

// The box stands in the middle of the screen, not over its owner.
void TFAboutBox::CentreOnScreen() {
  const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
  if (!where) return;
  QRect frame = frameGeometry();
  frame.moveCenter(where->availableGeometry().center());
  move(frame.topLeft());
}

}  // namespace tavrin
