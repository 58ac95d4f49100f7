// What the platform gives the unpacker program.
#pragma once

#include <string>

#include "unpacker/unpacker.h"

UnpackerPorts& platform_unpacker_ports();

// The program's own command line after its name, as it stands.
std::string platform_unpacker_arguments();
