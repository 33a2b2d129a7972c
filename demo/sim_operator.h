// A simulated bench operator for one scanner of the demonstration station
// and the tests: a person who watches one port panel's status line and works
// the scanner's power switch the way the panel asks: on at "Turn scanner
// power on", off and on again at "Please cycle scanner power to continue!",
// and off once the run reports "Programming Done. ..." or "Programming
// sequence failed!".
//
// The operator runs on a thread of their own and reads the panel's status
// the way a person reads the screen, a few times a second, so that no port
// thread ever waits for them. The window thread attaches the operator to the
// panel once it exists and detaches them before the panel goes away.
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class CCommDialog;

namespace scanner {
class ScannerSim;
}

namespace vtdemo {

class SimOperator {
 public:
  // reactionMs: real time between seeing a request and acting on it.
  SimOperator(scanner::ScannerSim& scanner, int reactionMs);
  // Stops the operator's thread.
  ~SimOperator();
  SimOperator(const SimOperator&) = delete;
  SimOperator& operator=(const SimOperator&) = delete;

  // Window thread: the panel of this operator's scanner.
  void Attach(CCommDialog* panel);
  // Window thread: once this returns the operator no longer reads the panel.
  void Detach();

 private:
  enum class Request { kNone, kPowerOn, kCycle, kPowerOff };
  static Request RequestOf(const std::string& status);
  // The panel's status now; empty while detached.
  std::string ReadStatus();
  // Waits real time; false when the operator is stopped.
  bool Pause(int ms);
  void Loop();

  scanner::ScannerSim& scanner_;
  const int reactionMs_;
  std::mutex mutex_;  // guards panel_ and stop_; held while the panel is read
  std::condition_variable changed_;
  CCommDialog* panel_ = nullptr;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vtdemo
