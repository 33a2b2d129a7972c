// A scripted stand-in for the scanner loader, for tests of single engine
// dialogues whose answers the loader simulator would never give (a stray
// line end in a dump, a question only at a later block): it answers each
// awaited key, in order, with its reply, and records every byte it received.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/sim/sim_line.h"

namespace updtest {

class ScriptedLoader {
 public:
  struct Step {
    char key;           // the byte that triggers the reply
    std::string reply;  // written at once, in one burst; empty for silence
  };

  ScriptedLoader(std::shared_ptr<platform::sim::SimLine> line, std::deque<Step> script)
      : line_(std::move(line)), script_(std::move(script)), thread_([this] { Serve(); }) {}
  ~ScriptedLoader() {
    stop_.store(true);
    thread_.join();
  }
  ScriptedLoader(const ScriptedLoader&) = delete;
  ScriptedLoader& operator=(const ScriptedLoader&) = delete;

  std::string Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }

 private:
  void Serve() {
    while (!stop_.load()) {
      uint8_t buffer[256];
      const size_t n = line_->FarRead(buffer, sizeof buffer, 10);
      for (size_t i = 0; i < n; ++i) {
        std::string reply;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          received_.push_back(static_cast<char>(buffer[i]));
          if (script_.empty() || script_.front().key != static_cast<char>(buffer[i])) continue;
          reply = script_.front().reply;
          script_.pop_front();
        }
        if (!reply.empty()) line_->FarWrite(reply);
      }
    }
  }

  std::shared_ptr<platform::sim::SimLine> line_;
  mutable std::mutex mutex_;  // guards script_ and received_
  std::deque<Step> script_;
  std::string received_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace updtest
