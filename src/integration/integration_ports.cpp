#include "integration/integration_ports.h"

IntegrationPorts& integration_ports() {
  static IntegrationPorts ports;
  return ports;
}
