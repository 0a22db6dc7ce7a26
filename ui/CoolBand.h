// A band of the cool bar: a toolbar that stays in the top area of its window, moved and sized
// there with its gripper, never hidden or floated; a double click on the gripper maximises it.
#pragma once

#include <QToolBar>

namespace tavrin {

class TCoolBand : public QToolBar {
 public:
  TCoolBand(const QString& name, QWidget* parent);

  // Where the gripper is drawn, in the band's coordinates.
  QRect GripperRect() const;

  // Widens the band to all of its row that the other bands of the row leave at their minimum
  // width.
  void Maximise();

 protected:
  bool event(QEvent* event) override;
};

}  // namespace tavrin
