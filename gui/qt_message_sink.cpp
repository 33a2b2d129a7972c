#include "qt_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <algorithm>

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

void QtMessageSink::Waiter::Release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
  }
  changed_.notify_all();
}

void QtMessageSink::Waiter::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return released_; });
}

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
    // The window thread's own box: modal, the program carries on after OK.
    std::unique_ptr<QMessageBox> box(MakeBox(kind, caption, text, Qt::ApplicationModal));
    box->exec();
    return;
  }

  auto waiter = std::make_shared<Waiter>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_) return;
    waiters_.push_back(waiter);
    requests_.push_back(Request{waiter, kind, caption, text});
  }
  QMetaObject::invokeMethod(this, "OpenRequested", Qt::QueuedConnection);
  waiter->Wait();
  std::lock_guard<std::mutex> lock(mutex_);
  waiters_.erase(std::remove(waiters_.begin(), waiters_.end(), waiter), waiters_.end());
}

void QtMessageSink::OpenRequested() {
  std::vector<Request> requests;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Released already when the program is closing.
    if (closing_) return;
    requests.swap(requests_);
  }
  for (const Request& request : requests) {
    QMessageBox* box = MakeBox(request.kind, request.caption, request.text, Qt::NonModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Every way the box goes (OK, Escape, close box, deletion) releases its
    // thread; releasing twice does no harm.
    const std::shared_ptr<Waiter> waiter = request.waiter;
    connect(box, &QMessageBox::finished, this, [waiter] { waiter->Release(); });
    connect(box, &QObject::destroyed, this, [waiter] { waiter->Release(); });
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

void QtMessageSink::Shutdown() {
  std::vector<std::shared_ptr<Waiter>> waiting;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
    waiting = waiters_;
    requests_.clear();
  }
  for (const auto& waiter : waiting) waiter->Release();
  if (!OnWindowThread()) return;
  const QList<QPointer<QMessageBox>> open = boxes_;
  boxes_.clear();
  for (const QPointer<QMessageBox>& box : open) {
    if (!box) continue;
    box->done(QMessageBox::Ok);
    box->deleteLater();
  }
}

bool QtMessageSink::IsShutDown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closing_;
}

QList<QMessageBox*> QtMessageSink::OpenBoxes() const {
  QList<QMessageBox*> open;
  for (const QPointer<QMessageBox>& box : boxes_) {
    if (box && box->isVisible()) open.append(box.data());
  }
  return open;
}

}  // namespace vtgui
