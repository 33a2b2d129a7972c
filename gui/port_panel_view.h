// The window side of one port panel (template 129): the port button, the
// progress bar and the status line over a CCommDialog model, and the panel's
// context menu (Setup..., Log window, Reset).
//
// The view is humble: the port's threads only write the model. The status
// line is copied from the model once a second by the panel's timer; the
// progress bar and the port button follow the model through queued refreshes
// that the model's observers post from the port threads. The button and the
// menu commands call the model on the window thread.
//
// Made by the main window's view for every panel its model creates; detached
// before the main window's model destroys the panels.
#pragma once

#include <QFrame>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class CCommDialog;
class CFileOpenPropSheet;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace vtgui {

class LogWindowView;
class UiRelay;

class PortPanelView : public QFrame {
  Q_OBJECT

 public:
  // Runs the Setup sheet modally; true when it ended with OK.
  using SetupRunner = std::function<bool(CFileOpenPropSheet&)>;

  PortPanelView(CCommDialog& model, SetupRunner runSetup, QWidget* parent);
  ~PortPanelView() override;

  // The model, or null once detached.
  CCommDialog* Model() const { return model_; }

  // Stops the timer, drops the model's observers and closes the log view.
  // After this the view never touches the model again, which may then go.
  void Detach();

  // The context menu as it opens now: each command's action carries its
  // command id as data.
  std::unique_ptr<QMenu> BuildContextMenu();
  // A command of the context menu.
  void RunCommand(int commandId);

  QPushButton* PortButton() const { return button_; }
  QProgressBar* Progress() const { return progress_; }
  QLabel* StatusLine() const { return status_; }
  QTimer* StatusTimer() { return &timer_; }
  // The open log view, or null.
  LogWindowView* LogView() const;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void OnPortButton();
  void RefreshStatus();
  void RefreshProgress();
  void RefreshButton();
  // Opens or drops the log view so that it matches the model's m_pLogWin.
  void SyncLogView();

  CCommDialog* model_;
  SetupRunner runSetup_;
  // A command of this panel is running: it may wait in a box while the
  // window takes input, and the panel takes no second command meanwhile.
  bool inCommand_ = false;
  QPushButton* button_;
  QProgressBar* progress_;
  QLabel* status_;
  QTimer timer_;
  QPointer<LogWindowView> logView_;
  UiRelay* progressRelay_;  // children of the view
  UiRelay* buttonRelay_;
};

}  // namespace vtgui
