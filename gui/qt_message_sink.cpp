#include "qt_message_sink.h"

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>

namespace vtgui {

namespace {

QMessageBox::Icon IconOf(platform::BoxKind kind) {
  switch (kind) {
    case platform::BoxKind::kError:
    case platform::BoxKind::kPlainError:
    case platform::BoxKind::kApiError:
      return QMessageBox::Critical;
    case platform::BoxKind::kWarning:
      return QMessageBox::Warning;
    case platform::BoxKind::kNotice:
    case platform::BoxKind::kInfo:
      break;
  }
  return QMessageBox::Information;
}

}  // namespace

QtMessageSink::QtMessageSink(QObject* parent) : QObject(parent) {}

QtMessageSink::~QtMessageSink() { Shutdown(); }

bool QtMessageSink::OnWindowThread() const { return QThread::currentThread() == thread(); }

QMessageBox* QtMessageSink::MakeBox(platform::BoxKind kind, const std::string& caption,
                                    const std::string& text, Qt::WindowModality modality,
                                    QWidget* parent) {
  auto* box = new QMessageBox(parent);
  box->setIcon(IconOf(kind));
  box->setWindowTitle(QString::fromLocal8Bit(caption));
  box->setText(QString::fromLocal8Bit(text));
  box->setTextFormat(Qt::PlainText);
  box->setStandardButtons(QMessageBox::Ok);
  box->setDefaultButton(QMessageBox::Ok);
  box->setWindowModality(modality);
  // After the modality: setting it makes the box a plain dialog again.
  box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  return box;
}

void QtMessageSink::Show(platform::BoxKind kind, const std::string& caption,
                         const std::string& text) {
  if (OnWindowThread()) {
    ShowOnWindowThread(kind, caption, text);
    return;
  }

  std::shared_ptr<platform::BoxQueue::Waiter> waiter;
  if (!queue_.Enqueue(kind, caption, text, waiter)) return;
  QMetaObject::invokeMethod(this, "OpenRequested", Qt::QueuedConnection);
  queue_.Wait(waiter);
}

void QtMessageSink::ShowOnWindowThread(platform::BoxKind kind, const std::string& caption,
                                       const std::string& text) {
  // The command that asked for the box carries on after OK, as it would
  // after a modal box; but the box is not modal, so every other window of
  // the program takes input meanwhile. The local loop keeps them running.
  QPointer<QMessageBox> box = MakeBox(kind, caption, text, Qt::NonModal);
  QEventLoop loop;
  connect(box, &QMessageBox::finished, &loop, &QEventLoop::quit);
  connect(box, &QObject::destroyed, &loop, &QEventLoop::quit);
  windowBoxes_.append(box);
  box->show();
  box->raise();
  emit windowBoxOpened(box);
  // A box answered already (from within windowBoxOpened) needs no loop.
  if (box && box->isVisible()) loop.exec();
  windowBoxes_.removeAll(box);
  windowBoxes_.removeAll(nullptr);
  // The loop also ends when the application quits; the box goes then too.
  delete box.data();
  if (windowBoxes_.isEmpty()) emit windowBoxesClosed();
}

QList<QMessageBox*> QtMessageSink::WindowBoxes() const {
  QList<QMessageBox*> open;
  for (const QPointer<QMessageBox>& box : windowBoxes_) {
    if (box && box->isVisible()) open.append(box.data());
  }
  return open;
}

void QtMessageSink::CloseWindowBoxes() {
  for (QMessageBox* box : WindowBoxes()) box->done(QMessageBox::Ok);
}

void QtMessageSink::OpenRequested() {
  const std::vector<platform::BoxQueue::Request> requests = queue_.Take();
  for (const platform::BoxQueue::Request& request : requests) {
    QMessageBox* box = MakeBox(request.kind, request.caption, request.text, Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Every way the box goes (OK, Escape, close box, deletion) releases its
    // thread; releasing twice does no harm.
    if (const std::shared_ptr<platform::BoxQueue::Waiter> waiter = request.waiter) {
      connect(box, &QMessageBox::finished, this, [waiter] { waiter->Release(); });
      connect(box, &QObject::destroyed, this, [waiter] { waiter->Release(); });
    }
    boxes_.removeAll(nullptr);
    boxes_.append(box);
    box->show();
    box->raise();
    emit boxOpened(box);
  }
}

void QtMessageSink::Beep(uint32_t /*type*/) {
  if (OnWindowThread()) {
    QApplication::beep();
    return;
  }
  QMetaObject::invokeMethod(this, "BeepNow", Qt::QueuedConnection);
}

void QtMessageSink::BeepNow() { QApplication::beep(); }

void QtMessageSink::ReleaseThread(std::thread::id thread) { queue_.ReleaseThread(thread); }

void QtMessageSink::ForgetThread(std::thread::id thread) { queue_.ForgetThread(thread); }

void QtMessageSink::Shutdown() {
  queue_.Close();
  if (!OnWindowThread()) return;
  CloseWindowBoxes();
  const QList<QPointer<QMessageBox>> open = boxes_;
  boxes_.clear();
  for (const QPointer<QMessageBox>& box : open) {
    if (!box) continue;
    box->done(QMessageBox::Ok);
    box->deleteLater();
  }
}

bool QtMessageSink::IsShutDown() const { return queue_.IsClosed(); }

QList<QMessageBox*> QtMessageSink::OpenBoxes() const {
  QList<QMessageBox*> open;
  for (const QPointer<QMessageBox>& box : boxes_) {
    if (box && box->isVisible()) open.append(box.data());
  }
  return open;
}

}  // namespace vtgui
