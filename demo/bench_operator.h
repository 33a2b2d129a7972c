// The simulated bench operator of the demonstration station: one per scanner,
// reading that scanner's panel status line and working its power switch the
// way the panel asks ("Turn scanner power on", "Please cycle scanner power to
// continue!", and off once the run reports its outcome). Used by the demo and
// by the tests of the station; the command line says its lines on its console.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace vtdemo {

// The status texts an operator reacts to: the requests to switch the scanner
// on or to cycle its power, and the outcomes after which it goes off.
inline constexpr const char* kPowerOnText = "Turn scanner power on";
inline constexpr const char* kCycleText = "Please cycle scanner power to continue!";
inline constexpr const char* kDoneText =
    "Programming Done. Please exit Vantorel before turning scanner power off.";
inline constexpr const char* kFailedText = "Programming sequence failed!";
// The status with which a run gives the panel back once the scanner is off.
inline constexpr const char* kReleasedText = "Turn scanner power off";

// Who may have a scanner switched on. Operators take turns in the order of
// their turn numbers, and operators who share a turn number switch their
// scanners on together: an operator waits until every operator of an earlier
// turn has had their turn (switched their scanner off, or left) and no one of
// another turn holds the bench.
class Bench {
 public:
  // turns[i]: the turn of operator i.
  explicit Bench(std::vector<size_t> turns);
  // operators (indices 0..operators-1) each in a turn of their own, or all
  // in one turn.
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
  // True when who may take the bench now. Caller holds mutex_.
  bool MayTake(size_t who) const;

  const std::vector<size_t> turns_;
  std::mutex mutex_;  // guards pending_, holders_, turn_ and shutdown_
  std::condition_variable changed_;
  std::set<size_t> pending_;  // operators whose turn has not yet been
  size_t holders_ = 0;        // operators who have their scanner switched on
  size_t turn_ = 0;           // the turn of the holders
  bool shutdown_ = false;
};

// The person at one scanner, on a thread of their own so the port's threads
// never wait for them. Every action is said as a line
// "<port>: operator ...".
class BenchOperator {
 public:
  using PowerSwitch = std::function<void(bool on)>;
  // Where the operator's lines go (the command line's console); called on
  // the operator's thread.
  using LineSink = std::function<void(const std::string& line)>;

  // index orders the operators on the bench. beforePowerOn (may be empty) runs
  // right before the scanner is switched on.
  BenchOperator(size_t index, std::string port, std::string model, PowerSwitch power,
                Bench& bench, LineSink say, int reactionMs,
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
  // Operator thread: the scanner goes off, said aloud.
  void SwitchOff();
  // Operator thread: gives the bench back; false when this operator did not
  // hold it.
  bool ReleaseBench();
  void Loop();

  const size_t index_;
  const std::string port_;
  const std::string model_;
  const PowerSwitch power_;
  Bench& bench_;
  const LineSink say_;
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

}  // namespace vtdemo
