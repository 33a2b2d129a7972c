// Every fixed text of the windows fits the control that shows it, in the
// dialog font this machine actually draws in, and every control stands
// inside its window.
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "about_box.h"
#include "app/file_open_sheet.h"
#include "app/programmer_dlg.h"
#include "gui_fixture.h"
#include "platform/sim/sim_line.h"
#include "setup_sheet_view.h"

namespace {

// The texts the port threads and the panel's commands put on the status
// line, each as it stands (progress lines are made of numbers and vary).
const char* const kStatusTexts[] = {
    "Turn scanner power off",
    "Turn scanner power on",
    "USB scanner is connected.",
    "Failed to connect scanner!",
    "Scanner connected successfully.",
    "Click USB COM button to start programming.",
    "PLD programming!  Wait for auto-connect",
    "FPGA programming!  Wait for auto-connect",
    "Please cycle scanner power to continue!",
    "No Error ...",
    "Connected",
    "Reset",
    "Reading RCP file.",
    "RCP file read complete.",
    "RCP Download Complete",
    "Reading VTC file.",
    "VTC file read complete.",
    "VTC Download Complete",
    "FPGA Programming...",
    "PLD Done",
    "DSP Done",
    "UIM Done",
    "LDR Done",
    "Programming sequence failed!",
    "Programming Done. Please exit Vantorel before turning scanner power off.",
};

// Port button captions: the widest RS-232 and USB names, and the placeholder.
const char* const kPortCaptions[] = {"COM20", "COM NONE", "USB COM20", "USB ZEV19"};

// Why text does not fit control as that control draws it, or empty.
std::string Misfit(const QWidget* control, const QString& text) {
  const QFontMetrics metrics(control->font());
  // A mnemonic marker is not drawn.
  QString shown = text;
  shown.remove(QRegularExpression("&(?!&)"));
  QRect room = control->rect();
  if (const auto* label = qobject_cast<const QLabel*>(control)) {
    room = label->contentsRect();
    if (label->wordWrap()) {
      const QRect needed = metrics.boundingRect(room, Qt::TextWordWrap | label->alignment(), shown);
      if (needed.width() <= room.width() && needed.height() <= room.height()) return {};
      return "needs " + std::to_string(needed.width()) + " x " + std::to_string(needed.height());
    }
  } else if (const auto* button = qobject_cast<const QPushButton*>(control)) {
    // The button's own margin and frame stand on both sides of its text.
    QStyleOptionButton option;
    option.initFrom(button);
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, &option, button) +
                       2 * button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, button);
    room.setWidth(room.width() - margin);
  }
  const int width = metrics.horizontalAdvance(shown);
  if (width <= room.width() && metrics.height() <= room.height()) return {};
  return "needs " + std::to_string(width) + " x " + std::to_string(metrics.height()) + " in " +
         std::to_string(room.width()) + " x " + std::to_string(room.height());
}

void ExpectFits(const QWidget* control, const QString& text) {
  const std::string why = Misfit(control, text);
  EXPECT_TRUE(why.empty()) << '"' << text.toStdString() << "\" in " << control->metaObject()->className()
                           << ' ' << control->objectName().toStdString() << ": " << why;
}

// Every label and button of a window with the text it shows now.
void ExpectOwnTextsFit(const QWidget* window) {
  for (const QLabel* label : window->findChildren<QLabel*>()) {
    if (!label->text().isEmpty()) ExpectFits(label, label->text());
  }
  for (const QPushButton* button : window->findChildren<QPushButton*>()) {
    ExpectFits(button, button->text());
  }
}

void ExpectInside(const QWidget* area, const QWidget* control) {
  const QRect place(control->mapTo(area, QPoint(0, 0)), control->size());
  EXPECT_TRUE(area->rect().contains(place))
      << control->objectName().toStdString() << " at (" << place.x() << ", " << place.y() << ") "
      << place.width() << " x " << place.height() << " outside " << area->width() << " x "
      << area->height();
}

class TextFitTest : public guitest::StationFixture {};

TEST_F(TextFitTest, MainWindowTextsFitTheirControlsAndPanelsTheClientArea) {
  OpenStation(vtgui::DemoOptions{}, /*withOperators=*/false);
  ASSERT_FALSE(view->Panels().empty());
  const QWidget* client = view->centralWidget();
  vtgui::PortPanelView* panel = view->Panels().front();
  for (const char* text : kStatusTexts) ExpectFits(panel->StatusLine(), text);
  for (const char* text : kPortCaptions) ExpectFits(panel->PortButton(), text);
  for (const char* text : {kUsbPromptWaiting, kUsbPromptSearching}) {
    ExpectFits(view->UsbPrompt(), text);
  }
  ExpectOwnTextsFit(view.get());
  for (vtgui::PortPanelView* each : view->Panels()) {
    ExpectInside(client, each);
    for (const QWidget* control : {static_cast<QWidget*>(each->PortButton()),
                                   static_cast<QWidget*>(each->Progress()),
                                   static_cast<QWidget*>(each->StatusLine())}) {
      ExpectInside(each, control);
    }
  }
  ExpectInside(client, view->UsbButton());
  ExpectInside(client, view->UsbPrompt());
}

TEST_F(TextFitTest, DialogTextsFitTheirControls) {
  OpenStation(vtgui::DemoOptions{}, /*withOperators=*/false);
  vtgui::AboutBox about(view.get());
  ExpectOwnTextsFit(&about);

  CFileOpenPropSheet sheet;
  model->CopySettingsToSheet(sheet);
  vtgui::SetupSheetView setup(sheet, view.get());
  ExpectOwnTextsFit(&setup);
}

// More than eight RS-232 ports stand in two columns; the USB row below them
// stays inside the window, within the operator's reach.
TEST_F(TextFitTest, NinePortsInTwoColumnsLeaveTheUsbRowInsideTheWindow) {
  OpenStation(vtgui::DemoOptions{}, /*withOperators=*/false, [] {
    for (int n = 3; n <= 9; ++n) {
      platform::sim::SimPortRegistry::Instance().Add("COM" + std::to_string(n),
                                                     platform::sim::SimLine::Create());
    }
  });
  ASSERT_EQ(view->Panels().size(), 9u);
  const QWidget* client = view->centralWidget();
  for (vtgui::PortPanelView* panel : view->Panels()) ExpectInside(client, panel);
  EXPECT_TRUE(view->UsbButton()->isVisible());
  ExpectInside(client, view->UsbButton());
  ExpectInside(client, view->UsbPrompt());
  EXPECT_GT(view->Panels().back()->geometry().x(), view->Panels().front()->geometry().x())
      << "two columns";
}

}  // namespace
