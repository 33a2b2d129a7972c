// Windows has no pseudo-terminals to serve the simulated scanner on; the
// in-memory sim line serves it there.
#include "scanner_transport.h"

namespace scanner {

std::unique_ptr<ScannerTransport> OpenPtyTransport(std::string& slavePath, std::string& error) {
  slavePath.clear();
  error = "pseudo-terminals are not available on this system";
  return nullptr;
}

}  // namespace scanner
