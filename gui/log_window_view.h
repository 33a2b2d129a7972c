// The log view of a port (template 146): the tail of the port's traffic log
// as read-only text, with an OK button. The CLogWin model reads the file once
// when it is made; this window shows its caption and text. The port panel's
// view opens it and, when the model is closed from the panel's menu, drops it.
//
// Closing the window (OK, close box, Escape) closes the model too, which then
// forgets itself in its panel. Window thread only.
#pragma once

#include <QDialog>

class CLogWin;
class QPlainTextEdit;
class QPushButton;

namespace vtgui {

class LogWindowView : public QDialog {
  Q_OBJECT

 public:
  // Shows the model's caption and text; the view is modeless and deletes
  // itself once closed.
  LogWindowView(CLogWin* model, QWidget* parent);

  CLogWin* Model() const { return model_; }
  QPlainTextEdit* TextBox() const { return text_; }
  QPushButton* OkButton() const { return ok_; }

  // The model has been destroyed elsewhere (the panel's menu, the panel's
  // teardown): the window closes without touching it.
  void Abandon();

  // The log bytes as the edit box shows them: every byte kept as it is (the
  // log holds raw received data), line ends made uniform.
  static QString DisplayText(const std::string& bytes);

 protected:
  void done(int result) override;

 private:
  CLogWin* model_;
  QPlainTextEdit* text_;
  QPushButton* ok_;
};

}  // namespace vtgui
