#include "bench_operator.h"

#include <chrono>

#include "cli_app.h"

namespace vtcli {

Bench::Bench(bool oneAtATime, size_t operators) : oneAtATime_(oneAtATime) {
  for (size_t i = 0; i < operators; ++i) pending_.insert(i);
}

bool Bench::Acquire(size_t who) {
  if (!oneAtATime_) return true;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] {
    if (shutdown_) return true;
    if (busy_) return false;
    // An operator whose turn is over comes again only after everyone else.
    return pending_.count(who) ? *pending_.begin() == who : pending_.empty();
  });
  if (shutdown_) return false;
  busy_ = true;
  return true;
}

void Bench::Release(size_t who) {
  if (!oneAtATime_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  busy_ = false;
  pending_.erase(who);
  changed_.notify_all();
}

void Bench::Leave(size_t who) {
  if (!oneAtATime_) return;
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
                             PowerSwitch power, Bench& bench, Console& console, int reactionMs,
                             std::function<void()> beforePowerOn)
    : index_(index),
      port_(std::move(port)),
      model_(std::move(model)),
      power_(std::move(power)),
      bench_(bench),
      console_(console),
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

void BenchOperator::Say(const std::string& what) { console_.Line(port_ + ": operator " + what); }

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
        Say("switches the " + model_ + " off");
        power_(false);
        on_ = false;
        if (holdsBench_) {
          holdsBench_ = false;
          bench_.Release(index_);
        }
        break;
      case Action::kLeave:
        // The panel was reset: the run is over, switched on or not.
        if (on_) {
          Say("switches the " + model_ + " off");
          power_(false);
          on_ = false;
        }
        if (holdsBench_) {
          holdsBench_ = false;
          bench_.Release(index_);
        } else {
          bench_.Leave(index_);
        }
        break;
    }
  }
}

}  // namespace vtcli
