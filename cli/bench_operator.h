// The simulated bench operator of the demonstration station: one per scanner,
// reading that scanner's panel status line and working its power switch the
// way the panel asks ("Turn scanner power on", "Please cycle scanner power to
// continue!", and off once the run reports its outcome). Used by the demo and
// by the tests of the station.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace vtcli {

class Console;

// The status texts an operator reacts to.
inline constexpr const char* kPowerOnText = "Turn scanner power on";
inline constexpr const char* kCycleText = "Please cycle scanner power to continue!";

// Who may have a scanner switched on. With one-at-a-time the operators take
// turns in the order of their index: an operator waits until every operator
// before them has had their turn (switched their scanner off, or left).
class Bench {
 public:
  // operators: how many take turns (indices 0..operators-1).
  Bench(bool oneAtATime, size_t operators);
  // Waits for the bench; false once the bench is shut down.
  bool Acquire(size_t who);
  // The holder's turn is over.
  void Release(size_t who);
  // An operator gives up their turn without taking it (their run ended
  // without asking for power).
  void Leave(size_t who);
  // Ends every wait for good.
  void Shutdown();

 private:
  const bool oneAtATime_;
  std::mutex mutex_;  // guards pending_, busy_ and shutdown_
  std::condition_variable changed_;
  std::set<size_t> pending_;  // operators whose turn has not yet been
  bool busy_ = false;
  bool shutdown_ = false;
};

// The person at one scanner, on a thread of their own so the port's threads
// never wait for them. Every action is said on the console as
// "<port>: operator ...".
class BenchOperator {
 public:
  using PowerSwitch = std::function<void(bool on)>;

  // index orders the operators on the bench. beforePowerOn (may be empty) runs
  // right before the scanner is switched on.
  BenchOperator(size_t index, std::string port, std::string model, PowerSwitch power,
                Bench& bench, Console& console, int reactionMs,
                std::function<void()> beforePowerOn = {});
  ~BenchOperator();
  BenchOperator(const BenchOperator&) = delete;
  BenchOperator& operator=(const BenchOperator&) = delete;

  // Called on the port's threads with every status line.
  void OnStatus(const std::string& status);

 private:
  enum class Action { kPowerOn, kCycle, kPowerOff, kLeave };
  // Waits real time; false when the operator is told to stop.
  bool Pause(int ms);
  void Say(const std::string& what);
  void Loop();

  const size_t index_;
  const std::string port_;
  const std::string model_;
  const PowerSwitch power_;
  Bench& bench_;
  Console& console_;
  const int reaction_;
  const std::function<void()> beforePowerOn_;
  std::mutex mutex_;  // guards requests_ and stop_
  std::condition_variable changed_;
  std::deque<Action> requests_;
  bool stop_ = false;
  bool on_ = false;         // touched only by the operator's thread
  bool holdsBench_ = false;  // touched only by the operator's thread
  std::thread thread_;
};

}  // namespace vtcli
