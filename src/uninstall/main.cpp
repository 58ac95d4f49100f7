// The uninstaller program: the platform's adapters behind every port, then
// its entry.
#include <string>

#include "engine/engine_ports.h"
#include "platform/integration_platform.h"
#include "platform/platform.h"
#include "platform/shell_platform.h"
#include "platform/uninstall_platform.h"
#include "uninstall/uninstall_window.h"

int main(int argc, char** argv) {
  // Before anything can load a DLL: its copy runs from a temporary folder.
  restrict_library_search();
  shell_ports() = platform_shell_ports();
  IntegrationPorts integration = platform_integration_ports();
  if (integration.dde == nullptr) integration.dde = platform_dde_channel();
  integration_ports() = integration;
  uninstall_ports() = platform_uninstall_ports();
  // Without a folder on the command line, the one the program lies in.
  std::string program = own_program_path();
  std::size_t cut = program.find_last_of("\\/");
  std::string folder = cut == std::string::npos ? std::string() : program.substr(0, cut);
  return uninstall_entry(argc, argv, folder.c_str());
}
