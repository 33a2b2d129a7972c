// The wait of a POSIX port write for its bytes to leave: a write returns once
// the driver holds none of its bytes any more, or when the port is closed or
// its line hangs up. CTS holds back only bytes not yet sent: while bytes are
// queued and CTS is low the wait goes on without time limit, but once the
// queue is empty the write is done whatever CTS does. A loader lowers CTS as
// soon as it has the end byte of a transfer (it writes flash, or it hangs);
// that drop must not hold the end byte's write, or the completion time-out
// would never start. Called by the POSIX serial port's Write on devices that
// have modem-control lines; the device side is behind OutputLine so the
// waiting can be exercised without a UART.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform::posix {

// What the wait reads from the device, and how it pauses.
class OutputLine {
 public:
  virtual ~OutputLine() = default;

  struct Sample {
    size_t queued = 0;         // bytes the driver still holds for sending
    bool clearToSend = false;  // the line may send: CTS is on, or output ignores it;
                               // looked at only while bytes are queued
  };
  // False with error set when the device cannot be read (a hung-up line
  // gives kErrorDeviceNotConnected).
  virtual bool Read(Sample& sample, int& error) = 0;
  // Pauses up to ms milliseconds. False with error set when the port was
  // closed meanwhile (kErrorOperationAborted) or the line hung up; a close
  // ends the pause at once.
  virtual bool Pause(int ms, int& error) = 0;
};

// The longest pause between two looks at the device. A line held by CTS is
// looked at ever less often up to this, so a long hold (the scanner is off)
// costs little, while a short one (the loader holding off the next bytes
// while it writes flash) is noticed within a millisecond or two.
constexpr int kLongestPauseMs = 20;

// Waits until every byte handed to the driver has left its queue. A queue
// found empty ends the wait at once, with CTS on or off.
// byteMicros is the time one byte takes on the line (0: unknown); while the
// line moves, the wait sleeps about as long as the queued bytes take to go
// out, so it returns close to the moment the queue runs empty and the next
// block follows without a gap. Returns 0 once sent, kErrorOperationAborted
// when the port was closed, or the error that ended the wait.
int WaitUntilSent(OutputLine& line, uint32_t byteMicros);

}  // namespace platform::posix
