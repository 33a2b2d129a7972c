#include "update/run_record.h"

const char* ComponentOutcomeText(ComponentOutcome outcome) {
  switch (outcome) {
    case ComponentOutcome::kWritten: return "written";
    case ComponentOutcome::kDeclined: return "declined";
    case ComponentOutcome::kFailed: return "failed";
    case ComponentOutcome::kNotReached: return "not reached";
  }
  return "";
}
