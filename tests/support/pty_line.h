// A pseudo-terminal whose slave side stands in for a serial device that
// another program (a console, a modem dialler) had set up before the station
// opened it: the slave is given known line settings through a descriptor of
// the test's own, which also reads them back after the station has let go.
// POSIX only; used by the tests that check that a port gives its line back
// as it found it.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>

namespace testsupport {

class PtyLine {
 public:
  PtyLine() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    char name[256];
    if (ptsname_r(master_, name, sizeof name) != 0) return;
    slavePath_ = name;
    // Opened before the station's port: the port keeps later opens out.
    observer_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  }
  ~PtyLine() {
    if (observer_ >= 0) ::close(observer_);
    if (master_ >= 0) ::close(master_);
  }
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  bool Ready() const { return observer_ >= 0; }
  const std::string& SlavePath() const { return slavePath_; }

  // Cooked mode as a login console has it: line editing, echo, signals,
  // CR to NL on input, NL to CR NL on output, 9600 8N1 without handshake,
  // and control characters of its own. False when the system refused them.
  bool SetConsoleSettings() {
    termios tio{};
    if (tcgetattr(observer_, &tio) != 0) return false;
    tio.c_iflag = ICRNL | IXON | BRKINT;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_cflag = CS8 | CREAD | HUPCL;
    tio.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    tio.c_cc[VINTR] = 3;
    tio.c_cc[VERASE] = 0x7F;
    tio.c_cc[VEOF] = 4;
    tio.c_cc[VMIN] = 2;
    tio.c_cc[VTIME] = 5;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    return tcsetattr(observer_, TCSANOW, &tio) == 0;
  }

  // The slave's settings now, in words that compare and print.
  std::string Settings() const {
    termios tio{};
    if (tcgetattr(observer_, &tio) != 0) return "unreadable";
    std::ostringstream out;
    out << std::hex << "iflag " << tio.c_iflag << " oflag " << tio.c_oflag << " cflag "
        << tio.c_cflag << " lflag " << tio.c_lflag << std::dec << " ispeed "
        << cfgetispeed(&tio) << " ospeed " << cfgetospeed(&tio) << " cc";
    for (size_t i = 0; i < NCCS; ++i) out << ' ' << static_cast<unsigned>(tio.c_cc[i]);
    return out.str();
  }

 private:
  int master_ = -1;
  int observer_ = -1;
  std::string slavePath_;
};

}  // namespace testsupport
