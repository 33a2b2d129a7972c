// A simulated scanner on a sim line with the program's end driven by the
// test: switch on, wake up, type keys and read the answers.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/sim/sim_line.h"
#include "scanner_sim.h"
#include "support/sim_near_end.h"

namespace simtest {

class ScannerSimTest : public ::testing::Test {
 protected:
  // Creates the scanner (switched off) and opens the program's end.
  void Create(const scanner::ScannerConfig& config) {
    line_ = platform::sim::SimLine::Create();
    sim_ = std::make_unique<scanner::ScannerSim>(line_, config);
    near_ = std::make_unique<SimNearEnd>(line_);
    ASSERT_TRUE(near_->IsOpen());
  }
  // Creates the scanner, switches it on and waits for its lines.
  void SwitchOn(const scanner::ScannerConfig& config) {
    Create(config);
    sim_->PowerOn();
    ASSERT_TRUE(near_->WaitForLines(true));
  }
  // Wakes the loader and reads up to the menu's prompt.
  void WakeUp() {
    near_->Take();
    ASSERT_TRUE(near_->Type("****"));
    ASSERT_TRUE(near_->ReadUntil("Loader menu"));
    ASSERT_TRUE(near_->ReadUntil("> "));
    near_->Take();
  }
  // Types keys and reads until text arrives; returns what was read.
  std::string Ask(const std::string& keys, const std::string& text) {
    near_->Take();
    EXPECT_TRUE(near_->Type(keys));
    EXPECT_TRUE(near_->ReadUntil(text)) << "typed '" << keys << "', waiting for '" << text
                                        << "', got: " << near_->Seen();
    return near_->Take();
  }

  std::shared_ptr<platform::sim::SimLine> line_;
  std::unique_ptr<scanner::ScannerSim> sim_;
  std::unique_ptr<SimNearEnd> near_;
};

}  // namespace simtest
