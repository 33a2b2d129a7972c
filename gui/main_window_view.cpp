#include "main_window_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>

#include "about_box.h"
#include "app/programmer_dlg.h"
#include "dialog_units.h"
#include "link/comm_dialog.h"
#include "port_panel_view.h"
#include "qt_message_sink.h"
#include "setup_sheet_view.h"

namespace vtgui {

MainWindowView::MainWindowView(CProgrammerDlg& model, QtMessageSink* sink)
    : model_(model), sink_(sink) {
  setObjectName("mainWindow");
  setWindowTitle(kProductTitle);
  setWindowIcon(ApplicationIcon());
  setFont(DialogFont());

  fileMenu_ = menuBar()->addMenu("&File");
  helpMenu_ = menuBar()->addMenu("&Help");

  client_ = new QWidget(this);
  client_->setObjectName("client");
  setCentralWidget(client_);

  usbButton_ = new QPushButton("USB", client_);
  usbButton_->setObjectName("usbButton");
  connect(usbButton_, &QPushButton::clicked, this, &MainWindowView::OnUsbButton);
  usbPrompt_ = new QLabel(client_);
  usbPrompt_->setObjectName("usbPrompt");
  usbPrompt_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  usbTimer_.setInterval(kUsbTimerPeriodMs);
  connect(&usbTimer_, &QTimer::timeout, this, &MainWindowView::OnUsbTick);

  if (sink_ != nullptr) {
    connect(sink_, &QtMessageSink::windowBoxesClosed, this, [this] {
      if (!closeAfterBoxes_) return;
      closeAfterBoxes_ = false;
      // Queued: the commands the boxes held go on first.
      QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
  }
}

MainWindowView::~MainWindowView() {
  // Whoever destroys the window without closing it keeps the model; the
  // panel views only let go of it.
  usbTimer_.stop();
  resultsDbTimer_.stop();
  for (PortPanelView* panel : panels_) panel->Detach();
}

void MainWindowView::Initialise() {
  // The model sizes the window from its outer size: the menu bar is part of
  // the frame around the client area that holds the panels.
  menuBarHeight_ = menuBar()->sizeHint().height();
  model_.m_frame = FrameInsets{0, menuBarHeight_, 0, 0};
  // The panels and the USB button as large as the templates make them in
  // the dialog font in use.
  const DialogBaseUnits base = DialogBase();
  model_.m_szPanel = DialogUnitsToPixels(kPanelTemplateUnits, base);
  model_.m_szUsbButton = DialogUnitsToPixels(kUsbButtonUnits, base);
  model_.OnInitDialog();
  if (!model_.GetResultsDbStatus().empty()) {
    resultsDbStatus_ = new QLabel(QString::fromStdString(model_.GetResultsDbStatus()));
    resultsDbStatus_->setObjectName("resultsDbStatus");
    statusBar()->addWidget(resultsDbStatus_, 1);
    statusBarHeight_ = statusBar()->sizeHint().height();
    model_.SetFrame(FrameInsets{0, menuBarHeight_, 0, statusBarHeight_});
    resultsDbTimer_.setInterval(1000);
    connect(&resultsDbTimer_, &QTimer::timeout, this, [this] {
      resultsDbStatus_->setText(QString::fromStdString(model_.GetResultsDbStatus()));
    });
    resultsDbTimer_.start();
  }

  FillMenu(fileMenu_, model_.GetFileMenu());
  FillMenu(helpMenu_, model_.GetHelpMenu());
  SyncPanels();
  move(model_.m_rcWindow.x, model_.m_rcWindow.y);
  ApplyLayout();
}

void MainWindowView::FillMenu(QMenu* menu, const std::vector<MenuItem>& items) {
  menu->clear();
  for (const MenuItem& item : items) {
    if (item.separator) {
      menu->addSeparator();
      continue;
    }
    QAction* action = menu->addAction(QString::fromLocal8Bit(item.text));
    action->setData(item.id);
    action->setEnabled(item.enabled);
    const int id = item.id;
    connect(action, &QAction::triggered, this, [this, id] { RunMenuCommand(id); });
  }
}

void MainWindowView::RunMenuCommand(int commandId) {
  if (shutDown_) return;
  switch (commandId) {
    case ID_FILE_SETUP:
      model_.RunSetup([this](CFileOpenPropSheet& sheet) { return RunSetupSheet(sheet); });
      break;
    case ID_FILE_EXIT:
      close();
      break;
    case ID_HELP_ABOUT:
      ShowAbout();
      break;
    default:
      break;
  }
}

bool MainWindowView::RunSetupSheet(CFileOpenPropSheet& sheet) {
  SetupSheetView view(sheet, this);
  return view.exec() == QDialog::Accepted;
}

void MainWindowView::ShowAbout() {
  AboutBox box(this);
  box.exec();
}

PortPanelView* MainWindowView::PanelOf(const CCommDialog* panel) const {
  for (PortPanelView* view : panels_) {
    if (view->Model() == panel) return view;
  }
  return nullptr;
}

void MainWindowView::SyncPanels() {
  for (const CProgrammerDlg::PanelSlot& slot : model_.GetPanels()) {
    if (!slot.panel || PanelOf(slot.panel.get()) != nullptr) continue;
    auto* view = new PortPanelView(
        *slot.panel, [this](CFileOpenPropSheet& sheet) { return RunSetupSheet(sheet); }, client_);
    view->setGeometry(ToQRect(slot.rect));
    view->show();
    panels_.push_back(view);
    emit panelCreated(slot.panel.get());
  }
}

void MainWindowView::ApplyLayout() {
  const Rect& outer = model_.m_rcWindow;
  const FrameInsets& frame = model_.m_frame;
  // The window's own size is the outer size less the window manager's frame;
  // the menu bar stays inside it, above the client area.
  const int width = outer.width - frame.left - frame.right;
  const int height = outer.height - frame.top - frame.bottom + menuBarHeight_;
  setFixedSize(width, height);
  for (const CProgrammerDlg::PanelSlot& slot : model_.GetPanels()) {
    if (PortPanelView* view = PanelOf(slot.panel.get())) view->setGeometry(ToQRect(slot.rect));
  }
  ApplyUsbRow();
}

void MainWindowView::ApplyUsbRow() {
  usbButton_->setGeometry(ToQRect(model_.m_rcUsbButton));
  usbPrompt_->setGeometry(ToQRect(model_.m_rcUsbPrompt));
  usbPrompt_->setText(QString::fromLocal8Bit(model_.m_strUsbPrompt));
  usbButton_->setEnabled(model_.m_bUsbButtonEnabled);
  usbButton_->setVisible(model_.m_bUsbRowVisible);
  usbPrompt_->setVisible(model_.m_bUsbRowVisible);
  if (model_.m_nUsbTimerId >= 0 && !usbTimer_.isActive()) usbTimer_.start();
}

void MainWindowView::OnUsbButton() {
  if (shutDown_) return;
  const bool wasPending = model_.m_bUsbSearchPending;
  model_.OnUsbButton();
  ApplyUsbRow();
  if (!wasPending && model_.m_bUsbSearchPending) emit usbSearchStarted();
}

void MainWindowView::OnUsbTick() {
  if (shutDown_) return;
  // The tick may show a box whose loop runs further ticks; the model skips
  // those, and a close during the box waits for the tick to end.
  const int added = model_.OnTimer();
  if (shutDown_) return;
  if (added > 0) SyncPanels();
  ApplyLayout();
}

void MainWindowView::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The window manager frames the window once it is mapped.
  QMetaObject::invokeMethod(this, &MainWindowView::MeasureFrame, Qt::QueuedConnection);
}

void MainWindowView::MeasureFrame() {
  if (shutDown_) return;
  const QRect outer = frameGeometry();
  const QRect inner = geometry();
  const QMargins decoration(inner.left() - outer.left(), inner.top() - outer.top(),
                            outer.right() - inner.right(), outer.bottom() - inner.bottom());
  if (decoration == decoration_) return;
  decoration_ = decoration;
  // The window grows by the frame, so that the client area still holds the
  // panels and the USB row.
  model_.SetFrame(FrameInsets{decoration.left(), decoration.top() + menuBarHeight_,
                              decoration.right(), decoration.bottom() + statusBarHeight_});
  ApplyLayout();
}

void MainWindowView::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  // A modal window (the sheet, the About box) belongs to a command that is
  // still running: the window closes after it.
  if (QApplication::activeModalWidget() != nullptr) {
    event->ignore();
    return;
  }
  // A box of the window thread holds a command (a panel's Reset, a USB poll
  // tick) in the box's own loop, beneath this close. The boxes are answered,
  // and the window closes once those commands have gone on, so no command
  // resumes on a panel the close has destroyed.
  if (sink_ != nullptr && !sink_->WindowBoxes().isEmpty()) {
    closeAfterBoxes_ = true;
    sink_->CloseWindowBoxes();
    event->ignore();
    return;
  }
  ShutDown();
  event->accept();
}

void MainWindowView::ShutDown() {
  if (closing_) return;
  closing_ = true;
  emit aboutToShutDown();
  usbTimer_.stop();
  resultsDbTimer_.stop();
  for (PortPanelView* panel : panels_) panel->Detach();
  // Port threads waiting for a box are released before the teardown waits
  // for them.
  if (sink_ != nullptr) sink_->Shutdown();
  model_.DestroyWindow();
  shutDown_ = true;
  emit shutDownDone();
}

}  // namespace vtgui
