// The About box (template 100): the application icon, the product name with
// its version, a line about the program, and OK. Shown modally from Help >
// About Vantorel.
#pragma once

#include <QDialog>

namespace vtgui {

class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent);
};

// The application's icon (icon resource 144), drawn at the sizes asked for.
QIcon ApplicationIcon();

}  // namespace vtgui
