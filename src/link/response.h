// Response matching: the search for loader texts in received bytes and the two
// waits that consume a panel's receive ring until the expected texts arrived,
// the scanner fell silent for the time-out, or the port was told to stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/update_status.h"

class PortSession;
class RunReporter;

// First position where text (without its terminator) lies wholly inside the
// first length bytes of data; null when none. data may hold zero bytes.
const uint8_t* FindBytes(const uint8_t* data, size_t length, const char* text);

// Two texts of the loader that together make an answer; second may be null,
// and the pair is then complete with first alone.
struct TextPair {
  const char* first = nullptr;
  const char* second = nullptr;
};

// What a wait expects from the loader: the success pair, and the failure
// pair that ends the wait with UPD_FAIL_MATCH. A failure pair without its
// first text is never looked for (its second alone is not either).
//   WaitForPair(session, 2000, Expect{.success = {"receive", "send"}})
struct Expect {
  TextPair success{};
  TextPair failure{};
};

// Waits until both texts of the success pair or both of the failure pair
// have been seen. UPD_OK, UPD_FAIL_MATCH, UPD_TIMEOUT,
// UPD_WAIT_FAILED or UPD_ABORTED. timeoutMs is a silence limit. While bytes
// keep coming the window is searched each time it holds twice the longest
// text (L), keeping the last L bytes; when the loader falls silent, bytes not
// yet searched are searched before the wait reports UPD_TIMEOUT.
//
// Both waits also end with UPD_LINK_DOWN once the ring is empty and the line
// watch has noted a fault (the device is gone, the loader restarted), and
// never report success for texts that came with a restarted loader's banner.
UpdateStatus WaitForPair(PortSession& session, uint32_t timeoutMs, const Expect& expect);

// Waits for start text then end text and copies what lies between into out
// (at most capacity bytes; no terminator). copied (if not null) gets the count.
// UPD_OK, UPD_TIMEOUT, UPD_BAD_ARGUMENT, UPD_WAIT_FAILED or UPD_ABORTED.
UpdateStatus WaitBetween(PortSession& session, uint32_t timeoutMs, uint8_t* out, size_t capacity,
                         const char* startText, const char* endText, size_t* copied = nullptr);

// Before a key is typed at the loader: lets the loader finish what it is
// saying and drops it from the ring (the receiver has logged it), so that the
// wait after the key is answered only by what the loader says to that key.
// The tail of an earlier answer (the menu after a completion text, the rest
// of a dump) would otherwise answer the next step before the loader has even
// read its key.
//
// The line has settled once every byte that reached the port has been
// through the receiver and taken out of the ring, and nothing more came for
// kKeyQuietMs: a USB serial adapter hands a message over in packets up to
// 16 ms apart, so a message can still be on its way when the port's queue
// is empty. Where the port counts what reached it, nothing already received
// can be mistaken for an answer, however the reads cut it; the quiet covers
// what is still in the adapter. A loader that never falls quiet is given
// kKeySettleLimitMs, then the key goes all the same (what it said is
// dropped). UPD_OK; UPD_ABORTED when the port is told to stop; UPD_LINK_DOWN
// when the line watch has noted a fault.
inline constexpr uint32_t kKeyQuietMs = 40;
inline constexpr uint32_t kKeySettleLimitMs = 2000;
UpdateStatus SettleBeforeKey(PortSession& session);

// WaitBetween for a wake-up attempt: while the loader is silent the wait also
// asks lineDropped every kSilenceSliceMs and ends with UPD_TIMEOUT when it
// answers true (the scanner that got this attempt's wake-up has restarted,
// so the rest of the silence would be waited for nothing).
inline constexpr uint32_t kSilenceSliceMs = 20;
UpdateStatus WaitBetweenWhileLinesHold(PortSession& session, uint32_t timeoutMs, uint8_t* out,
                                       size_t capacity, const char* startText,
                                       const char* endText, size_t* copied,
                                       const std::function<bool()>& lineDropped);
