// The desktop program's message boxes: every box of the program (ShowError,
// ShowWarning, ShowNotice, ...) becomes a real box with an OK button, kept on
// top of other windows.
//
// A box asked for on a port thread blocks only that thread: the box is made
// on the window thread, which stays responsive, and the port thread waits
// until the operator presses OK. Several ports may each have a box open at
// the same time. A box asked for on the window thread itself waits for OK in
// a local event loop without being modal, so the other panels, the USB button
// and the menus stay usable while it is open: the program's boxes have no
// owner window. A port thread that is being ended is released from its
// boxes: they stay on screen, and the thread goes on without waiting.
// When the program closes, Shutdown closes every open box and releases
// every waiting thread, and boxes asked for afterwards by port threads are
// dropped, so the teardown of the ports never waits for a box.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/box_queue.h"
#include "platform/message_box.h"

class QMessageBox;

namespace vtgui {

class QtMessageSink : public QObject, public platform::MessageSink {
  Q_OBJECT

 public:
  // Lives on the window thread, where it is made.
  explicit QtMessageSink(QObject* parent = nullptr);
  ~QtMessageSink() override;

  void Show(platform::BoxKind kind, const std::string& caption, const std::string& text) override;
  void Beep(uint32_t type) override;
  void ReleaseThread(std::thread::id thread) override;
  void ForgetThread(std::thread::id thread) override;

  // Window thread: closes every open box and releases every waiting port
  // thread; from now on boxes of port threads are dropped at once.
  void Shutdown();
  bool IsShutDown() const;

  // Window thread: the boxes of port threads that are open now.
  QList<QMessageBox*> OpenBoxes() const;
  // Window thread: the boxes of the window thread open now, innermost last.
  // Each holds the command that asked for it until it is answered.
  QList<QMessageBox*> WindowBoxes() const;
  // Window thread: answers every box of the window thread as by OK; the
  // commands they held go on once the window thread returns to them.
  void CloseWindowBoxes();

  // A box as every caller gets it: the caption, the text, an OK button, the
  // icon of its kind, always on top. Not shown yet.
  static QMessageBox* MakeBox(platform::BoxKind kind, const std::string& caption,
                              const std::string& text, Qt::WindowModality modality,
                              QWidget* parent = nullptr);

 signals:
  // A port thread's box has just been shown (window thread).
  void boxOpened(QMessageBox* box);
  // A box of the window thread has just been shown; the command that asked
  // for it waits in the box's loop.
  void windowBoxOpened(QMessageBox* box);
  // The last box of the window thread has been answered and every command
  // that asked for one has gone on.
  void windowBoxesClosed();

 private slots:
  // Window thread: shows the boxes port threads have asked for. Queued by
  // name, so that the requests pass only through this sink's lock.
  void OpenRequested();
  void BeepNow();

 private:
  bool OnWindowThread() const;
  // The window thread's box: shown, then waited for in a local loop.
  void ShowOnWindowThread(platform::BoxKind kind, const std::string& caption,
                          const std::string& text);

  // The boxes of port threads not shown yet, and the threads waiting for
  // theirs.
  platform::BoxQueue queue_;

  QList<QPointer<QMessageBox>> boxes_;        // window thread only
  QList<QPointer<QMessageBox>> windowBoxes_;  // window thread only
};

}  // namespace vtgui
