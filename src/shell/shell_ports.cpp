#include "shell/window_ports.h"

ShellPorts& shell_ports() {
  static ShellPorts ports;
  return ports;
}
