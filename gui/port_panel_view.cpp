#include "port_panel_view.h"

#include <algorithm>

#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include "app/log_win.h"
#include "app/panel_menu.h"
#include "dialog_units.h"
#include "app/comm_dialog.h"
#include "log_window_view.h"
#include "menu_fill.h"
#include "ui_relay.h"

namespace vtgui {

namespace {

constexpr int kStatusPeriodMs = 1000;

}  // namespace

PortPanelView::PortPanelView(CCommDialog& model, SetupRunner runSetup, QWidget* parent)
    : QFrame(parent), model_(&model), runSetup_(std::move(runSetup)) {
  setObjectName(QString::fromLocal8Bit(model.m_session.m_szPortName));
  setFont(DialogFont());
  // A child window with a thin border; the controls stand inside it.
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  const QPoint inside(frameWidth(), frameWidth());

  button_ = new QPushButton(QString::fromLocal8Bit(model.m_strButtonCaption.Get()), this);
  button_->setObjectName("portButton");
  button_->setGeometry(DluRect(1, 2, 46, 25).translated(inside));
  connect(button_, &QPushButton::clicked, this, &PortPanelView::OnPortButton);

  progress_ = new QProgressBar(this);
  progress_->setObjectName("progress");
  progress_->setGeometry(DluRect(52, 2, 259, 14).translated(inside));
  progress_->setTextVisible(false);

  status_ = new QLabel(this);
  status_->setObjectName("statusLine");
  status_->setGeometry(DluRect(61, 17, 250, 10).translated(inside));
  status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  progressRelay_ = new UiRelay(this, [this] { RefreshProgress(); });
  buttonRelay_ = new UiRelay(this, [this] { RefreshButton(); });
  model.m_progress.SetObserver([post = progressRelay_->Poster()](int) { post(); });
  model.SetButtonObserver([post = buttonRelay_->Poster()](bool) { post(); });

  RefreshProgress();
  RefreshButton();
  // The controls show the members once as the panel opens; from then on the
  // status line follows the model at each tick of the panel's timer. A panel
  // whose opening failed started no timer, and its status line stays empty.
  if (model.m_nTimerId != 0) {
    RefreshStatus();
    timer_.setInterval(kStatusPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &PortPanelView::RefreshStatus);
    timer_.start();
  }
}

PortPanelView::~PortPanelView() { Detach(); }

void PortPanelView::Detach() {
  timer_.stop();
  progressRelay_->Detach();
  buttonRelay_->Detach();
  if (model_ != nullptr) {
    model_->m_progress.SetObserver({});
    model_->SetButtonObserver({});
    model_ = nullptr;
  }
  // The model's log view goes with the model; its window goes now.
  if (logView_) logView_->Abandon();
  logView_ = nullptr;
}

LogWindowView* PortPanelView::LogView() const { return logView_.data(); }

void PortPanelView::OnPortButton() {
  if (model_ == nullptr || inCommand_) return;
  inCommand_ = true;
  model_->Start();
  inCommand_ = false;
  RefreshButton();
}

void PortPanelView::RefreshStatus() {
  if (model_ == nullptr) return;
  const QString text = QString::fromLocal8Bit(model_->m_strStatus.Get());
  if (status_->text() != text) status_->setText(text);
}

void PortPanelView::RefreshProgress() {
  if (model_ == nullptr) return;
  const int low = model_->m_progress.GetLow();
  const int high = model_->m_progress.GetHigh();
  if (progress_->minimum() != low || progress_->maximum() != high) progress_->setRange(low, high);
  // A position outside the range would be dropped by the bar; the model's
  // senders keep it inside, a reset sets 0.
  progress_->setValue(std::clamp(model_->m_progress.GetPos(), std::min(low, high),
                                 std::max(low, high)));
}

void PortPanelView::RefreshButton() {
  if (model_ == nullptr) return;
  button_->setEnabled(model_->m_bButtonEnabled.load());
}

std::unique_ptr<QMenu> PortPanelView::BuildContextMenu() {
  auto menu = std::make_unique<QMenu>(this);
  if (model_ == nullptr) return menu;
  // The item states are read from the model as the menu opens.
  AddMenuItems(menu.get(), GetPanelMenu(*model_));
  return menu;
}

void PortPanelView::RunCommand(int commandId) {
  if (model_ == nullptr || inCommand_) return;
  inCommand_ = true;
  OnPanelCommand(*model_, commandId, runSetup_);
  inCommand_ = false;
  // The command may have run a nested loop (a box, the sheet) during which
  // the panel was detached.
  if (model_ == nullptr) return;
  if (commandId == ID_PANEL_LOG_WINDOW) SyncLogView();
}

void PortPanelView::SyncLogView() {
  CLogWin* open = model_->m_pLogWin.load();
  if (logView_ && logView_->Model() != open) {
    logView_->Abandon();
    logView_ = nullptr;
  }
  if (open != nullptr && !logView_) {
    logView_ = new LogWindowView(open, this);
    logView_->show();
  }
}

void PortPanelView::contextMenuEvent(QContextMenuEvent* event) {
  if (inCommand_) return;
  std::unique_ptr<QMenu> menu = BuildContextMenu();
  QAction* chosen = menu->exec(event->globalPos());
  if (chosen != nullptr) RunCommand(chosen->data().toInt());
}

}  // namespace vtgui
