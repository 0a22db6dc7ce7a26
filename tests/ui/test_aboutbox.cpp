// The About box as the user sees it, the JPEG decoder behind its picture, and the
// pictures of the image list and the program icon.
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

// jpeglib.h uses size_t and FILE without declaring them.
#include <jpeglib.h>

#include "AboutBox.h"
#include "ImageList.h"
#include "JpegImage.h"

using tavrin::DecodeJpeg;
using tavrin::TFAboutBox;

namespace {

QByteArray AboutJpeg() {
  tavrin::RegisterPictureResources();
  QFile file(QStringLiteral(":/about.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

// Encodes a picture of one flat colour per component with libjpeg, so the decoder's
// grey and CMYK paths can be checked against known values.
QByteArray EncodeFlat(int width, int height, J_COLOR_SPACE space, std::vector<JSAMPLE> pixel) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = static_cast<int>(pixel.size());
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<JSAMPLE> row;
  for (int x = 0; x < width; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray bytes(reinterpret_cast<const char*>(buffer), static_cast<qsizetype>(size));
  std::free(buffer);
  return bytes;
}

double MeanLightness(const QImage& image, QRect area) {
  double sum = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) sum += qGray(image.pixel(x, y));
  return sum / (area.width() * area.height());
}

}  // namespace

class TestAboutBox : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void CaptionNameAndFixedClientArea();
  void HasNoMinimiseOrMaximiseButton();
  void StandsInTheMiddleOfTheScreen();
  void Image1ShowsTheDecodedPictureOverTheWholeClientArea();
  void PictureHasTheSignAndALighterLowerBand();
  void LabelsLieOverTheLowerBand_data();
  void LabelsLieOverTheLowerBand();
  void EscapeClosesTheBox();
  void ExecuteShowsAModalBoxOwnedByTheWindowAndDestroysIt();

  void DecodeJpegReturnsNullForBadBytes_data();
  void DecodeJpegReturnsNullForBadBytes();
  void DecodeJpegReadsGreyAndCmykPictures();

  void TilMainHasFourteenPicturesOf16Pixels();
  void TilMainOutOfRangeIsNull();
  void ProgramIconHasBothSizes();
};

void TestAboutBox::CaptionNameAndFixedClientArea() {
  TFAboutBox box;
  QCOMPARE(box.objectName(), QStringLiteral("FAboutBox"));
  QCOMPARE(box.windowTitle(), QStringLiteral("バージョン情報"));
  QVERIFY(box.isModal());
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QCOMPARE(box.size(), QSize(240, 320));
  QCOMPARE(box.minimumSize(), QSize(240, 320));
  QCOMPARE(box.maximumSize(), QSize(240, 320));
  QVERIFY(!box.isSizeGripEnabled());
  QVERIFY(box.findChildren<QAbstractButton*>().isEmpty());
}

void TestAboutBox::HasNoMinimiseOrMaximiseButton() {
  TFAboutBox box;
  const Qt::WindowFlags flags = box.windowFlags();
  QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
  QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
  QVERIFY(flags & Qt::WindowCloseButtonHint);
  QVERIFY(flags & Qt::WindowSystemMenuHint);
}

void TestAboutBox::StandsInTheMiddleOfTheScreen() {
  // An owner in the top-left corner must not pull the box over itself.
  QWidget owner;
  owner.setGeometry(0, 0, 200, 150);
  owner.show();
  TFAboutBox box(&owner);
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  const QPoint screenCentre = box.screen()->availableGeometry().center();
  const QPoint boxCentre = box.frameGeometry().center();
  QVERIFY2((boxCentre - screenCentre).manhattanLength() <= 2,
           qPrintable(QStringLiteral("box centre %1,%2 screen centre %3,%4")
                          .arg(boxCentre.x())
                          .arg(boxCentre.y())
                          .arg(screenCentre.x())
                          .arg(screenCentre.y())));
}

void TestAboutBox::Image1ShowsTheDecodedPictureOverTheWholeClientArea() {
  TFAboutBox box;
  auto* image1 = box.findChild<QLabel*>(QStringLiteral("Image1"));
  QVERIFY(image1);
  QCOMPARE(image1, box.Image1);
  QCOMPARE(image1->geometry(), QRect(0, 0, 240, 320));
  const QPixmap shown = image1->pixmap();
  QVERIFY(!shown.isNull());
  QCOMPARE(shown.size(), QSize(240, 320));

  const QImage decoded = DecodeJpeg(AboutJpeg());
  QCOMPARE(decoded.size(), QSize(240, 320));
  QCOMPARE(shown.toImage().convertToFormat(QImage::Format_RGB32),
           decoded.convertToFormat(QImage::Format_RGB32));
}

void TestAboutBox::PictureHasTheSignAndALighterLowerBand() {
  const QImage picture = DecodeJpeg(AboutJpeg());
  QVERIFY(!picture.isNull());
  // The blue disc and the red ring of the sign, read back in the right channel order.
  const QColor disc = picture.pixelColor(90, 130);
  QVERIFY2(disc.blue() > disc.red() + 60, qPrintable(disc.name()));
  const QColor ring = picture.pixelColor(70, 112);
  QVERIFY2(ring.red() > ring.blue() + 60, qPrintable(ring.name()));
  // The labels stand on the band below y = 240, which must be lighter than the wall.
  const double band = MeanLightness(picture, QRect(60, 244, 170, 70));
  const double wall = MeanLightness(picture, QRect(0, 0, 140, 100));
  QVERIFY2(band > wall + 10, qPrintable(QStringLiteral("band %1 wall %2").arg(band).arg(wall)));
}

void TestAboutBox::LabelsLieOverTheLowerBand_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("y");
  QTest::addColumn<QString>("text");
  QTest::newRow("author") << "Label2" << 248 << QStringLiteral("作者: tavrin 開発チーム");
  QTest::newRow("contact") << "Label3" << 264
                           << QStringLiteral("連絡先: tavrin-dev@example.invalid");
  QTest::newRow("compiled") << "Label5" << 280 << QStringLiteral("compired with");
  // The compiler's own version text names it, whichever compiler built the test.
  QTest::newRow("tool") << "Label4" << 296
                        << QString::fromUtf8(__VERSION__ " / Qt " QT_VERSION_STR);
}

void TestAboutBox::LabelsLieOverTheLowerBand() {
  QFETCH(QString, name);
  QFETCH(int, y);
  QFETCH(QString, text);
  TFAboutBox box;
  auto* label = box.findChild<QLabel*>(name);
  QVERIFY(label);
  QCOMPARE(label->geometry(), QRect(8, y, 225, 17));
  if (name == QStringLiteral("Label4"))
    QVERIFY2(label->text().endsWith(text), qPrintable(label->text()));
  else
    QCOMPARE(label->text(), text);
  QCOMPARE(label->font().pixelSize(), 11);
  QCOMPARE(label->font().families().value(0), QStringLiteral("Tahoma"));
  QCOMPARE(label->alignment() & Qt::AlignVertical_Mask, Qt::AlignVCenter);
  QVERIFY(!label->wordWrap());
  QVERIFY(!label->autoFillBackground());
  QCOMPARE(label->palette().color(QPalette::WindowText), QColor(Qt::black));
  // Over the picture, not beside it.
  QVERIFY(box.Image1->geometry().contains(label->geometry()));
  QVERIFY(label->isVisibleTo(&box));
}

void TestAboutBox::EscapeClosesTheBox() {
  TFAboutBox box;
  box.show();
  QVERIFY(QTest::qWaitForWindowExposed(&box));
  QTest::keyClick(&box, Qt::Key_Escape);
  QVERIFY(!box.isVisible());
}

void TestAboutBox::ExecuteShowsAModalBoxOwnedByTheWindowAndDestroysIt() {
  QWidget owner;
  owner.show();
  QString seenName;
  bool seenModal = false;
  QWidget* seenParent = nullptr;
  // Runs inside the box's own event loop, as soon as it is up.
  QTimer::singleShot(0, this, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    seenName = modal->objectName();
    seenModal = modal->isModal();
    seenParent = modal->parentWidget();
    QTest::keyClick(modal, Qt::Key_Escape);
  });
  TFAboutBox::Execute(&owner);
  QCOMPARE(seenName, QStringLiteral("FAboutBox"));
  QVERIFY(seenModal);
  QCOMPARE(seenParent, &owner);
  QVERIFY(owner.findChildren<TFAboutBox*>().isEmpty());
}

void TestAboutBox::DecodeJpegReturnsNullForBadBytes_data() {
  const QByteArray good = AboutJpeg();
  QVERIFY(good.size() > 1000);
  QTest::addColumn<QByteArray>("bytes");
  QTest::newRow("empty") << QByteArray();
  QTest::newRow("one byte") << QByteArray("\xFF", 1);
  QTest::newRow("text") << QByteArray("<html><body>not a picture</body></html>");
  QTest::newRow("start marker then garbage") << QByteArray("\xFF\xD8\x01\x02\x03\x04garbage");
  QTest::newRow("header only") << good.left(600);
  QTest::newRow("cut in half") << good.left(good.size() / 2);
  QTest::newRow("last bytes missing") << good.left(good.size() - 40);
  QByteArray noStart = good;
  noStart[1] = 0x00;
  QTest::newRow("start marker broken") << noStart;
  QByteArray zeroWidth = good;
  const qsizetype sof = zeroWidth.indexOf(QByteArray("\xFF\xC0", 2));
  QVERIFY(sof > 0);
  zeroWidth[sof + 7] = 0;  // width, high byte
  zeroWidth[sof + 8] = 0;  // width, low byte
  QTest::newRow("zero width") << zeroWidth;
}

void TestAboutBox::DecodeJpegReturnsNullForBadBytes() {
  QFETCH(QByteArray, bytes);
  QVERIFY(DecodeJpeg(bytes).isNull());
}

void TestAboutBox::DecodeJpegReadsGreyAndCmykPictures() {
  const QImage grey = DecodeJpeg(EncodeFlat(9, 5, JCS_GRAYSCALE, {200}));
  QCOMPARE(grey.size(), QSize(9, 5));
  QVERIFY(qAbs(qGray(grey.pixel(4, 2)) - 200) <= 2);

  const QImage rgb = DecodeJpeg(EncodeFlat(17, 3, JCS_RGB, {250, 20, 30}));
  QCOMPARE(rgb.size(), QSize(17, 3));
  const QColor c = rgb.pixelColor(8, 1);
  QVERIFY2(c.red() > 230 && c.green() < 50 && c.blue() < 60, qPrintable(c.name()));

  // Inverted CMYK as Adobe writes it: full cyan and magenta ink, no black ink, is blue.
  const QImage cmyk = DecodeJpeg(EncodeFlat(8, 8, JCS_CMYK, {0, 0, 255, 255}));
  QCOMPARE(cmyk.size(), QSize(8, 8));
  const QColor b = cmyk.pixelColor(3, 3);
  QVERIFY2(b.blue() > 230 && b.red() < 25 && b.green() < 25, qPrintable(b.name()));
}

void TestAboutBox::TilMainHasFourteenPicturesOf16Pixels() {
  QCOMPARE(tavrin::TilMainCount(), 14);
  for (int i = 0; i < tavrin::TilMainCount(); ++i) {
    const QIcon icon = tavrin::TilMainIcon(i);
    QVERIFY2(!icon.isNull(), qPrintable(QString::number(i)));
    const QImage image = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(16, 16));
    // Masked pictures: some background shows through, and the outlines are black.
    bool transparent = false, black = false;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const QRgb p = image.pixel(x, y);
        transparent |= qAlpha(p) == 0;
        black |= p == qRgba(0, 0, 0, 255);
      }
    QVERIFY2(transparent, qPrintable(QString::number(i)));
    QVERIFY2(black, qPrintable(QString::number(i)));
    // Asked for again, the same decoded picture comes back.
    QCOMPARE(tavrin::TilMainIcon(i).cacheKey(), icon.cacheKey());
  }
}

void TestAboutBox::TilMainOutOfRangeIsNull() {
  QVERIFY(tavrin::TilMainIcon(-1).isNull());
  QVERIFY(tavrin::TilMainIcon(14).isNull());
}

void TestAboutBox::ProgramIconHasBothSizes() {
  const QIcon icon = tavrin::ProgramIcon();
  QVERIFY(!icon.isNull());
  const QList<QSize> sizes = icon.availableSizes();
  QVERIFY(sizes.contains(QSize(16, 16)));
  QVERIFY(sizes.contains(QSize(32, 32)));
  QCOMPARE(icon.pixmap(32, 32).size(), QSize(32, 32));
  QCOMPARE(icon.pixmap(16, 16).size(), QSize(16, 16));
  // The small size is its own drawing, not the large one scaled down.
  tavrin::RegisterPictureResources();
  const QImage small = QImage(QStringLiteral(":/icons/tavrin16.xpm"));
  QCOMPARE(icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32),
           small.convertToFormat(QImage::Format_ARGB32));
}

QTEST_MAIN(TestAboutBox)
#include "test_aboutbox.moc"
