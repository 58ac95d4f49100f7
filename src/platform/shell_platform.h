// The platform's adapters for the installer shell.
#pragma once

#include "integration/integration_ports.h"
#include "shell/window_ports.h"

// The window system, folder dialog, threads, account and process adapters.
ShellPorts platform_shell_ports();

// The DDE channel that goes with this window system when the integration
// adapters leave it out (natively: the stand-in group server); null when
// they carry one of their own.
DdeChannel* platform_dde_channel();
