// The platform's adapters for the integration code.
#pragma once

#include "integration/integration_ports.h"

// The registry, environment, settings-file and message adapters, and the
// fatal reporter. On Windows the DDE channel too; natively `dde` is left
// for the caller (the stand-in group server comes with the window system).
IntegrationPorts platform_integration_ports();
