// The platform's adapters for the uninstaller.
#pragma once

#include "uninstall/uninstall_ports.h"

// The file removal, the directory lister and the program copy.
UninstallPorts platform_uninstall_ports();
