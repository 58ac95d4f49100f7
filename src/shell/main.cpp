// The installer program: the platform's adapters behind every port, then
// the program entry.
#include "engine/engine_ports.h"
#include "platform/integration_platform.h"
#include "platform/platform.h"
#include "platform/shell_platform.h"
#include "shell/wizard.h"

int main(int argc, char** argv) {
  restrict_library_search();
  static MessageBoxFatalReporter fatal;
  shell_ports() = platform_shell_ports();
  EnginePorts engine = platform_engine_ports();
  engine.fatal = &fatal;
  engine.wizard = &wizard_link();
  engine_ports() = engine;
  IntegrationPorts integration = platform_integration_ports();
  if (integration.dde == nullptr) integration.dde = platform_dde_channel();
  integration_ports() = integration;
  return program_entry(argc, argv, kSwShowDefault);
}
