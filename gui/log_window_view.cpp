#include "log_window_view.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include "app/log_win.h"
#include "dialog_units.h"

namespace vtgui {

LogWindowView::LogWindowView(CLogWin* model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  setFont(DialogFont());
  setWindowTitle(QString::fromLocal8Bit(model->m_strCaption));
  setFixedSize(DluSize(247, 164));

  // Edit box 1032: multi-line, read-only, both scroll bars, border.
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("logText");
  text_->setGeometry(DluRect(7, 7, 233, 127));
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setPlainText(DisplayText(model->m_strText));

  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("okButton");
  ok_->setGeometry(DluRect(190, 143, 50, 14));
  ok_->setDefault(true);
  connect(ok_, &QPushButton::clicked, this, &QDialog::accept);
}

QString LogWindowView::DisplayText(const std::string& bytes) {
  // Latin-1 maps every byte to one character, so no received byte is lost
  // or merged with its neighbours.
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace("\r\n", "\n");
  text.replace('\r', '\n');
  return text;
}

void LogWindowView::Abandon() {
  model_ = nullptr;
  close();
}

void LogWindowView::done(int result) {
  // The model forgets itself in its panel and deletes itself, so the next
  // "Log window" opens a fresh view.
  if (CLogWin* model = model_) {
    model_ = nullptr;
    model->OnOK();
  }
  QDialog::done(result);
}

}  // namespace vtgui
