#include "bench_operator.h"

#include <chrono>

namespace vtdemo {

namespace {

std::vector<size_t> TurnsOf(bool oneAtATime, size_t operators) {
  std::vector<size_t> turns(operators, 0);
  for (size_t i = 0; oneAtATime && i < operators; ++i) turns[i] = i;
  return turns;
}

}  // namespace

Bench::Bench(std::vector<size_t> turns) : turns_(std::move(turns)) {
  for (size_t i = 0; i < turns_.size(); ++i) pending_.insert(i);
}

Bench::Bench(bool oneAtATime, size_t operators) : Bench(TurnsOf(oneAtATime, operators)) {}

bool Bench::MayTake(size_t who) const {
  const size_t turn = who < turns_.size() ? turns_[who] : 0;
  if (holders_ > 0 && turn_ != turn) return false;
  // An operator whose turn is over comes again only after everyone of
  // another turn.
  const bool again = !pending_.count(who);
  for (size_t other : pending_) {
    if (again ? turns_[other] != turn : turns_[other] < turn) return false;
  }
  return true;
}

bool Bench::Acquire(size_t who) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return shutdown_ || MayTake(who); });
  if (shutdown_) return false;
  ++holders_;
  turn_ = who < turns_.size() ? turns_[who] : 0;
  return true;
}

void Bench::Release(size_t who) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (holders_ > 0) --holders_;
  pending_.erase(who);
  changed_.notify_all();
}

void Bench::Leave(size_t who) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.erase(who);
  changed_.notify_all();
}

void Bench::Shutdown() {
  std::lock_guard<std::mutex> lock(mutex_);
  shutdown_ = true;
  changed_.notify_all();
}

BenchOperator::BenchOperator(size_t index, std::string port, std::string model,
                             PowerSwitch power, Bench& bench, LineSink say, int reactionMs,
                             std::function<void()> beforePowerOn)
    : index_(index),
      port_(std::move(port)),
      model_(std::move(model)),
      power_(std::move(power)),
      bench_(bench),
      say_(std::move(say)),
      reaction_(reactionMs),
      beforePowerOn_(std::move(beforePowerOn)),
      thread_([this] { Loop(); }) {}

BenchOperator::~BenchOperator() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  // An operator still waiting for the bench must not keep the demo alive.
  bench_.Shutdown();
  thread_.join();
}

void BenchOperator::OnStatus(const std::string& status) {
  Action action;
  if (status == kPowerOnText) {
    action = Action::kPowerOn;
  } else if (status == kCycleText) {
    action = Action::kCycle;
  } else if (status == kDoneText || status == kFailedText) {
    action = Action::kPowerOff;
  } else if (status == "Reset") {
    action = Action::kLeave;
  } else {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(action);
  }
  changed_.notify_all();
}

bool BenchOperator::Pause(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stop_; });
}

void BenchOperator::Say(const std::string& what) {
  if (say_) say_(port_ + ": operator " + what);
}

void BenchOperator::SwitchOff() {
  Say("switches the " + model_ + " off");
  power_(false);
  on_ = false;
}

bool BenchOperator::ReleaseBench() {
  if (!holdsBench_) return false;
  holdsBench_ = false;
  bench_.Release(index_);
  return true;
}

void BenchOperator::Loop() {
  for (;;) {
    Action action;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stop_ || !requests_.empty(); });
      if (stop_) return;
      action = requests_.front();
      requests_.pop_front();
    }
    switch (action) {
      case Action::kPowerOn:
        if (on_) break;
        if (!holdsBench_) {
          if (!bench_.Acquire(index_)) return;
          holdsBench_ = true;
        }
        if (!Pause(reaction_)) return;
        if (beforePowerOn_) beforePowerOn_();
        Say("switches the " + model_ + " on");
        power_(true);
        on_ = true;
        break;
      case Action::kCycle:
        if (!Pause(reaction_)) return;
        Say("switches the " + model_ + " off and on again");
        power_(false);
        if (!Pause(reaction_)) return;
        power_(true);
        on_ = true;
        break;
      case Action::kPowerOff:
        if (!on_ || !Pause(reaction_)) break;
        SwitchOff();
        ReleaseBench();
        break;
      case Action::kLeave:
        // The panel was reset: the run is over, switched on or not.
        if (on_) SwitchOff();
        if (!ReleaseBench()) bench_.Leave(index_);
        break;
    }
  }
}

}  // namespace vtdemo
