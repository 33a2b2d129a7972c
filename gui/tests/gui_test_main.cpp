#include <QApplication>

#include <gtest/gtest.h>

#include "dialog_units.h"

int main(int argc, char** argv) {
  // The views are tested without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setFont(vtgui::DialogFont());
  return RUN_ALL_TESTS();
}
