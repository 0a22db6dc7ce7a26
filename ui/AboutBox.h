// The About box FAboutBox: the About picture with four credit lines over its lower band.
#pragma once

#include <QDialog>

class QLabel;
class QWidget;

namespace tavrin {

class TFAboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit TFAboutBox(QWidget* owner = nullptr);

  // Builds a fresh box, shows it modally until the user closes it, then destroys it.
  static void Execute(QWidget* owner);

  QLabel* Image1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QLabel* AddLabel(const char* name, int y, const QString& text);
  void CentreOnScreen();
};

}  // namespace tavrin
