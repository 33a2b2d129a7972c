#include "platform/serial_port.h"

namespace platform {

PortPtr OpenNativeSerialPort(const std::string&, int& error) {
  error = kErrorFileNotFound;
  return nullptr;
}

}  // namespace platform
