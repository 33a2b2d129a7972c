// The line watch of a port: what the line itself says about the scanner while
// a run goes on, apart from the loader's answers.
//
// Two things end a step at once, whatever it is waiting for:
// - the device is gone (a USB scanner unplugged or switched off, an adapter
//   pulled out): its port fails with "device not connected";
// - the scanner restarted in the middle of a step: its loader's banner came
//   while a file streamed or while the step waited for its completion text,
//   or DSR dropped or changed (a power cycle) since the step began.
// The receiver (rcvProc) and the block senders note a fault; the waits on the
// ring return UPD_LINK_DOWN as soon as the ring is empty and a fault is noted;
// the programming sequence says which fault it was. Start clears the fault.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/update_status.h"

class PortSession;
class RunReporter;

enum LineFault : int {
  kLineHealthy = 0,
  kLineDeviceGone = 1,
  kLineRestarted = 2,
};

// The box shown once when a run loses its device.
inline constexpr const char* kDeviceGoneText =
    "The scanner's device is gone (unplugged or switched off)";

// Notes a fault and wakes whatever waits on the port. A device that is gone
// stays gone; a restart noted before does not hide it. The first note of a
// vanished device shows kDeviceGoneText, unless the run has already shown its
// outcome or the port is being stopped.
void NoteLineFault(PortSession& session, RunReporter& reporter, LineFault fault);
// At the end of a run whose device vanished: closes and drops the dead
// handle, so that the next press of the port button opens the device again.
void ReleaseGonePort(PortSession& session);
LineFault CurrentLineFault(const PortSession& session);

// True for the error a port reports once its device has vanished
// (kErrorDeviceNotConnected: every backend maps its system's codes onto it).
bool IsDeviceGoneError(int error);

// Arms the watch of a step as it begins: DSR changes are counted from here
// and a restart noted by an earlier step is forgotten. Disarming also turns
// the banner watch off. Called by the programming sequence around each step.
void WatchForRestart(PortSession& session, bool on);

// The banner watch: a loader banner that comes while it is on is a restart.
// On only while a file streams and its completion text is awaited. In the
// menu steps the loader's banner can still be arriving from the wake-up that
// found it (after the logic device's restart, say), and the answers there
// come from a loader that was just asked; a scanner that restarts under a
// menu step shows through DSR (StepLineMoved).
void WatchForBanner(PortSession& session, bool on);

// True when the scanner restarted under the step under way: a restart was
// noted, or (while a step is watched) DSR is low or has changed since the
// step began; the restart is then noted. Asked by the waits whenever the ring
// runs empty and before they report success.
bool StepLineMoved(PortSession& session);

// Looks for the loader's banner ("QZ" ... "version" ... "Build") in a stream
// of received bytes, block by block. Only a banner whose "Build" arrives in
// the newest block counts, so a banner seen before the watch was armed never
// does.
class BannerScanner {
 public:
  // True when a banner ends in this block.
  bool Scan(const uint8_t* data, size_t length);
  void Forget() { held_ = 0; }

 private:
  // The longest banner head kept from earlier blocks.
  static constexpr size_t kTailBytes = 160;
  uint8_t window_[kTailBytes + 4096] = {};
  size_t held_ = 0;
};

// Between two blocks of a transfer: UPD_OK while the line is sound, else
// UPD_LINK_DOWN with the fault noted (the port fails as a vanished device
// does, or DSR is low: the scanner lost its power).
UpdateStatus CheckLineBetweenBlocks(PortSession& session, RunReporter& reporter);

// Writes one block of a transfer after the line check. UPD_ABORTED when the
// port was told to stop or closed under the transfer, UPD_LINK_DOWN when the
// line check fails or the device vanished during the write.
UpdateStatus WriteTransferBlock(PortSession& session, RunReporter& reporter, const void* data, uint32_t length);

// After a write that failed: notes a vanished device. True when it was one.
bool NoteFailedWrite(PortSession& session, RunReporter& reporter);
