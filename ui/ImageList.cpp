#include "ImageList.h"

#include <QPixmap>
#include <QString>
#include <array>

// The resources live in a static library, whose unreferenced initialiser the linker would
// drop; this call references it. It must stand outside any namespace.
static void InitTavrinQrc() {
  Q_INIT_RESOURCE(tavrin);
}

namespace tavrin {

namespace {

constexpr int kTilMainCount = 14;

QString TilMainResource(int index) {
  return QStringLiteral(":/icons/til%1.xpm").arg(index, 2, 10, QLatin1Char('0'));
}

}  // namespace

void RegisterPictureResources() {
  static const bool registered = (InitTavrinQrc(), true);
  (void)registered;
}

int TilMainCount() {
  return kTilMainCount;
}

QIcon TilMainIcon(int index) {
  if (index < 0 || index >= kTilMainCount) return QIcon();
  RegisterPictureResources();
  // Every list row and menu item asks for its picture; decode each XPM once.
  static std::array<QIcon, kTilMainCount> cache;
  QIcon& icon = cache[static_cast<std::size_t>(index)];
  if (icon.isNull()) icon.addPixmap(QPixmap(TilMainResource(index)));
  return icon;
}

QIcon ProgramIcon() {
  static QIcon icon;
  if (icon.isNull()) {
    RegisterPictureResources();
    icon.addPixmap(QPixmap(QStringLiteral(":/icons/tavrin16.xpm")));
    icon.addPixmap(QPixmap(QStringLiteral(":/icons/tavrin32.xpm")));
  }
  return icon;
}

}  // namespace tavrin
