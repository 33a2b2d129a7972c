// Response matching on a port's receive ring. Both waits run on the port's
// programming or connect thread, the ring's only consumer. The data event is
// only a wake-up: the ring's count is taken before every sleep and the event
// is reset only after what was taken has been examined, so bytes stored in
// between are found by the next count.
#include "link/response.h"

#include <algorithm>
#include <cstring>

#include "link/port_session.h"
#include "link/run_reporter.h"
#include "link/line_watch.h"
#include "platform/event.h"
#include "platform/serial_port.h"
#include "platform/time.h"

namespace {

// The private window of one wait.
constexpr size_t kWindowBytes = 4096;

bool Given(const char* text) { return text != nullptr && text[0] != '\0'; }

void ResetDataEvent(PortSession& session) {
  if (session.m_hDataEvent) session.m_hDataEvent->Reset();
}

// Sleeps until the receiver stored something or the port is told to stop.
int WaitForData(PortSession& session, uint32_t timeoutMs) {
  return platform::WaitForAny({session.m_hDataEvent.get(), session.m_hExitEvent.get()}, timeoutMs);
}

// The device is gone, or the loader restarted in the middle of the step:
// nothing this wait awaits can come any more.
bool LineFailed(PortSession& session) {
  return CurrentLineFault(session) != kLineHealthy || StepLineMoved(session);
}

// Takes everything out of the ring; true when there was anything.
bool DrainRing(PortSession& session) {
  uint8_t discard[256];
  bool any = false;
  for (;;) {
    unsigned count = sizeof discard;
    session.m_rxBuffer.Read(discard, count);
    if (count == 0) return any;
    any = true;
  }
}

// Bytes that reached the port and are not yet in the ring (0 when the port
// cannot tell, or is gone).
uint64_t InputOnItsWay(PortSession& session) {
  platform::PortPtr port = session.m_hPort.Get();
  uint64_t pending = 0;
  if (!port || !port->GetInputPending(pending)) return 0;
  return pending;
}

// How long the settling looks again while bytes are known to be on their way
// to the ring (the receiver's next delivery wakes it sooner).
constexpr uint32_t kOnItsWayPollMs = 2;

// WaitForData in slices of silence, asking lineDropped after each; a dropped
// line ends the wait as its time-out would. The slices are counted, not
// timed, so the whole silence is never shorter than timeoutMs.
int WaitForDataUnlessDropped(PortSession& session, uint32_t timeoutMs,
                             const std::function<bool()>& lineDropped) {
  uint32_t left = timeoutMs;
  for (;;) {
    const bool endless = left == platform::kInfinite;
    const uint32_t slice = endless ? kSilenceSliceMs : std::min(left, kSilenceSliceMs);
    const int waited = WaitForData(session, slice);
    if (waited != platform::kWaitTimeout) return waited;
    if (!endless) left -= slice;
    if (left == 0 || lineDropped()) return platform::kWaitTimeout;
  }
}

UpdateStatus WaitResultToStatus(int waitResult) {
  if (waitResult == 1) return UPD_ABORTED;
  if (waitResult == platform::kWaitTimeout) return UPD_TIMEOUT;
  return UPD_WAIT_FAILED;
}

}  // namespace

const uint8_t* FindBytes(const uint8_t* data, size_t length, const char* text) {
  if (data == nullptr || !Given(text)) return nullptr;
  const size_t n = std::strlen(text);
  if (n > length) return nullptr;
  const uint8_t first = static_cast<uint8_t>(text[0]);
  const uint8_t* last = data + (length - n);  // the last place the text can start
  for (const uint8_t* p = data; p <= last; ++p) {
    p = static_cast<const uint8_t*>(std::memchr(p, first, static_cast<size_t>(last - p) + 1));
    if (p == nullptr) return nullptr;
    if (std::memcmp(p, text, n) == 0) return p;
  }
  return nullptr;
}

UpdateStatus WaitForPair(PortSession& session, uint32_t timeoutMs, const Expect& expect) {
  const char* successA = expect.success.first;
  const char* successB = expect.success.second;
  const char* failureA = expect.failure.first;
  const char* failureB = expect.failure.second;
  if (!Given(successA)) return UPD_BAD_ARGUMENT;

  // The texts taken into account. Without failure text A the failure pair can
  // never complete, and failure text B alone is not looked for.
  struct Text {
    const char* text;
    bool lookedFor;
    bool seen;
  };
  Text texts[4] = {
      {successA, true, false},
      {successB, Given(successB), !Given(successB)},
      {failureA, Given(failureA), false},
      {failureB, Given(failureA) && Given(failureB), Given(failureA) && !Given(failureB)},
  };
  size_t longest = 0;
  for (const Text& t : texts) {
    if (t.lookedFor) longest = std::max(longest, std::strlen(t.text));
  }
  // Each search follows at least L new bytes; L bytes are kept after a search
  // so a text cut between two bursts is found next time. Texts longer than
  // half the window would stop the window from ever taking new bytes, so the
  // amounts are bounded by the window.
  const size_t examineAt = std::min(2 * longest, kWindowBytes);
  const size_t keep = std::min(longest, kWindowBytes / 2);

  uint8_t window[kWindowBytes];
  size_t held = 0;
  // Bytes at the front of the window that an earlier search has already seen.
  size_t searched = 0;
  // Marks the texts found in the window; UPD_OK or UPD_FAIL_MATCH once a pair
  // is complete, UPD_TIMEOUT (meaning: not yet) otherwise.
  auto mark = [&]() -> UpdateStatus {
    for (Text& t : texts) {
      if (t.lookedFor && !t.seen && FindBytes(window, held, t.text) != nullptr) t.seen = true;
    }
    // Success is tested first: when both pairs complete in the same search,
    // the success pair wins. A text that came with the banner of a loader
    // that restarted is no answer to this step.
    if (texts[0].seen && texts[1].seen) return StepLineMoved(session) ? UPD_LINK_DOWN : UPD_OK;
    if (texts[2].lookedFor && texts[2].seen && texts[3].seen) return UPD_FAIL_MATCH;
    return UPD_TIMEOUT;
  };
  // The search that decides: success or failure.
  auto search = [&]() -> UpdateStatus {
    searched = held;
    return mark();
  };
  for (;;) {
    unsigned count = 0;
    session.m_rxBuffer.Read(nullptr, count);
    if (count == 0) {
      if (LineFailed(session)) return UPD_LINK_DOWN;
      const int waited = WaitForData(session, timeoutMs);
      session.m_rxBuffer.Read(nullptr, count);
      // Bytes that arrived with the exit event or just at the time-out are
      // still examined; only an empty ring lets the wait's result decide.
      if (count == 0 && LineFailed(session)) return UPD_LINK_DOWN;
      if (count == 0 && waited != 0) {
        // The loader fell silent. A short answer, or the tail of one whose
        // last burst was shorter than the longest text, has not been
        // searched yet: look at it before calling the scanner silent, or a
        // prompt that did arrive would be reported as "No response".
        if (waited == platform::kWaitTimeout && held > searched) {
          const UpdateStatus found = search();
          if (found != UPD_TIMEOUT) return found;
        }
        return WaitResultToStatus(waited);
      }
    }

    unsigned take = static_cast<unsigned>(kWindowBytes - held);
    session.m_rxBuffer.Read(window + held, take);
    held += take;

    if (held >= examineAt) {
      const UpdateStatus found = search();
      if (found != UPD_TIMEOUT) return found;
      std::memmove(window, window + (held - keep), keep);
      held = keep;
      searched = keep;
    } else if (take > 0 && mark() == UPD_OK) {
      // A complete success pair is reported as soon as it is in, rather than
      // once the window is due for its search: the loader often says nothing
      // more after a prompt until it gets its key, and the due search can
      // only find the same pair (marks are never cleared, and success is
      // tested first). A complete failure pair waits for the due search,
      // where a success pair completed by the same bytes still wins.
      return UPD_OK;
    }
    ResetDataEvent(session);
  }
}

UpdateStatus WaitBetween(PortSession& session, uint32_t timeoutMs, uint8_t* out, size_t capacity,
                         const char* startText, const char* endText, size_t* copied) {
  return WaitBetweenWhileLinesHold(session, timeoutMs, out, capacity, startText, endText, copied,
                                   nullptr);
}

UpdateStatus WaitBetweenWhileLinesHold(PortSession& session, uint32_t timeoutMs, uint8_t* out,
                                       size_t capacity, const char* startText,
                                       const char* endText, size_t* copied,
                                       const std::function<bool()>& lineDropped) {
  if (copied != nullptr) *copied = 0;
  if (!Given(startText) || !Given(endText)) return UPD_BAD_ARGUMENT;
  if (out == nullptr) capacity = 0;

  const size_t startLength = std::strlen(startText);
  const size_t endLength = std::strlen(endText);
  const size_t keep = std::min(std::max(startLength, endLength), kWindowBytes / 2);

  uint8_t window[kWindowBytes];
  size_t held = 0;
  bool startFound = false;
  size_t contentBegin = 0;

  for (;;) {
    unsigned count = 0;
    session.m_rxBuffer.Read(nullptr, count);
    if (count == 0) {
      if (LineFailed(session)) return UPD_LINK_DOWN;
      const int waited = lineDropped ? WaitForDataUnlessDropped(session, timeoutMs, lineDropped)
                                     : WaitForData(session, timeoutMs);
      if (waited != 0) return WaitResultToStatus(waited);
    }

    // One byte at a time, so what follows the end text stays in the ring for
    // the next wait.
    const int byte = session.m_rxBuffer.GetByte();
    if (byte >= 0) window[held++] = static_cast<uint8_t>(byte);

    const uint8_t* endAt = nullptr;
    if (!startFound) {
      if (const uint8_t* at = FindBytes(window, held, startText)) {
        startFound = true;
        contentBegin = static_cast<size_t>(at - window) + startLength;
        endAt = FindBytes(window + contentBegin, held - contentBegin, endText);
      } else if (held > keep) {
        std::memmove(window, window + (held - keep), keep);
        held = keep;
      }
    } else if (byte >= 0) {
      // Earlier places were searched before; only an end text completed by
      // the new byte can be new.
      const size_t from = std::max(contentBegin, held >= endLength ? held - endLength : 0);
      endAt = FindBytes(window + from, held - from, endText);
    }

    if (endAt != nullptr) {
      const size_t length = static_cast<size_t>(endAt - (window + contentBegin));
      // A text longer than the caller's buffer is cut to its capacity.
      const size_t n = std::min(length, capacity);
      if (n > 0) std::memcpy(out, window + contentBegin, n);
      if (copied != nullptr) *copied = n;
      return StepLineMoved(session) ? UPD_LINK_DOWN : UPD_OK;
    }

    if (startFound && held == kWindowBytes) {
      // A whole window after the start text without the end text: this was
      // no reply we are waiting for. Look for the start text anew in what
      // follows, keeping the tail in case a new start text is cut there.
      startFound = false;
      std::memmove(window, window + (held - keep), keep);
      held = keep;
    }
    ResetDataEvent(session);
  }
}

UpdateStatus SettleBeforeKey(PortSession& session) {
  const uint32_t began = platform::GetTickCount();
  const uint32_t limit = platform::ScaleMs(kKeySettleLimitMs);
  for (;;) {
    // The event is reset before the ring is emptied: whatever the receiver
    // stores after this sets it again, so no delivery goes unnoticed.
    ResetDataEvent(session);
    DrainRing(session);
    if (session.m_bAbort.load() || (session.m_hExitEvent && session.m_hExitEvent->IsSet())) {
      return UPD_ABORTED;
    }
    if (LineFailed(session)) return UPD_LINK_DOWN;
    const bool chatty = platform::GetTickCount() - began >= limit;
    if (InputOnItsWay(session) > 0) {
      // Received and not yet stored: the receiver has it in hand. Wait for it
      // rather than for a quiet line, which it would only seem to be.
      if (chatty) return UPD_OK;
      if (WaitForData(session, kOnItsWayPollMs) == 1) return UPD_ABORTED;
      continue;
    }
    if (chatty) return UPD_OK;
    const int waited = WaitForData(session, kKeyQuietMs);
    if (waited == 1) return UPD_ABORTED;
    if (waited == 0) continue;  // more came: the message goes on
    // Quiet for the whole gap. Anything stored or received at its very end
    // belongs to the message too: look once more before the key goes.
    unsigned count = 0;
    session.m_rxBuffer.Read(nullptr, count);
    if (count == 0 && InputOnItsWay(session) == 0) return UPD_OK;
  }
}
