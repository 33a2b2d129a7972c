// What a firmware reader hands back besides its result: the result code and
// the text of the error box the port's run shows for it. The readers (file
// access, S-record image, loader splice) show nothing themselves, so the
// pre-flight check, the fuzz targets and the tests call them without a port;
// the update engines turn a fault into the run's box (ShowReadFault).
#pragma once

#include <atomic>
#include <string>
#include <utility>

#include "link/update_status.h"

struct ReadFault {
  UpdateStatus status = UPD_OK;
  std::string text;  // the box's text; empty for a silent result (an abort)

  ReadFault() = default;
  ReadFault(UpdateStatus s, std::string t = {}) : status(s), text(std::move(t)) {}

  bool Ok() const { return status == UPD_OK; }
};

// The abort request a long read looks at between two pieces; null when the
// reader has nobody to stop it (the pre-flight check, a fuzz run).
using AbortFlag = const std::atomic<bool>*;

inline bool AbortRequested(AbortFlag abort) {
  return abort != nullptr && abort->load(std::memory_order_relaxed);
}
