#include "app/programmer_app.h"

#include <filesystem>
#include <system_error>

#include "app/programmer_dlg.h"
#include "platform/path_text.h"

void CProgrammerApp::InitInstance() {
  // The first scan probes USB ports by name, so it must already know where
  // the names lead; LoadSettings installs the same section again later.
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  if (!ec) InstallPortsSection(platform::TextFromPath(dir / kIniFileName));
  m_pPortList = std::make_unique<CPortList>();
}

void CProgrammerApp::ExitInstance() { m_pPortList.reset(); }
