#include "CoolBand.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMouseEvent>
#include <QStyleOptionToolBar>
#include <algorithm>

namespace tavrin {

namespace {

// Moves band the way a drag on its gripper does: by dx pixels along its row, pushing or
// squeezing its neighbours down to their minimum widths, never past them. Qt has no call that
// sets a band's width, so its own toolbar code is given the drag.
void DragGripper(TCoolBand* band, int dx) {
  const QPoint from = band->GripperRect().center();
  const QPoint to = from + QPoint(dx, 0);
  const QPoint globalFrom = band->mapToGlobal(from);
  QMouseEvent press(QEvent::MouseButtonPress, from, globalFrom, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(band, &press);
  // A first step past the drag distance starts the move, the second one makes it.
  for (const QPoint& at :
       {from + QPoint(dx > 0 ? 1 : -1, 0) * (QApplication::startDragDistance() + 1), to}) {
    QMouseEvent move(QEvent::MouseMove, at, band->mapToGlobal(at), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(band, &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, to, band->mapToGlobal(to), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(band, &release);
}

}  // namespace

TCoolBand::TCoolBand(const QString& name, QWidget* parent) : QToolBar(name, parent) {
  setObjectName(name);
  setAllowedAreas(Qt::TopToolBarArea);
  setFloatable(false);
  setMovable(true);
  toggleViewAction()->setEnabled(false);
  // Bands as tight as a cool bar's: items side by side, 2 pixels around them, separators of 8;
  // with buttons of 23 x 22 the row is 26 pixels high.
  setStyleSheet(QStringLiteral(
      "QToolBar { spacing: 0px; padding: 2px; } QToolBar::separator { width: 8px; }"));
}

QRect TCoolBand::GripperRect() const {
  QStyleOptionToolBar option;
  initStyleOption(&option);
  return style()->subElementRect(QStyle::SE_ToolBarHandle, &option, this);
}

void TCoolBand::Maximise() {
  auto* window = qobject_cast<QMainWindow*>(parentWidget());
  if (window == nullptr) return;
  // The bands of this band's row, left to right.
  QList<TCoolBand*> row;
  for (TCoolBand* other : window->findChildren<TCoolBand*>(Qt::FindDirectChildrenOnly)) {
    if (other->isVisible() && window->toolBarArea(other) == Qt::TopToolBarArea &&
        other->y() == y()) {
      row.append(other);
    }
  }
  std::sort(row.begin(), row.end(),
            [](const TCoolBand* a, const TCoolBand* b) { return a->x() < b->x(); });
  const qsizetype at = row.indexOf(this);
  if (at < 0) return;
  // Every band after it goes as far right as it can, the last first; then the band itself goes
  // as far left as it can. Each move is clamped at the other bands' minimum widths.
  const int far = 2 * window->width() + 1;
  for (qsizetype i = row.size() - 1; i > at; --i) DragGripper(row[i], far);
  if (at > 0) DragGripper(row[at], -far);
}

bool TCoolBand::event(QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton && GripperRect().contains(mouse->position().toPoint())) {
      Maximise();
      return true;
    }
  }
  return QToolBar::event(event);
}

}  // namespace tavrin
