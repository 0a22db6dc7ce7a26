// A band of the cool bar: a toolbar that stays in the top area of its window, moved and sized
// there with its gripper, never hidden or floated; a double click on the gripper maximises it.
#pragma once

#include <QToolBar>

namespace tavrin {

class TCoolBand : public QToolBar {
 public:
  // The title is what a screen reader calls the band: Qt reads a toolbar's name from its title,
  // once, when the band is made.
  TCoolBand(const QString& name, const QString& title, QWidget* parent);

  // Where the gripper is drawn, in the band's coordinates.
  QRect GripperRect() const;

  // Widens the band to all of its row that the other bands of the row leave at their minimum
  // width.
  void Maximise();

 protected:
  bool event(QEvent* event) override;
};

}  // namespace tavrin
