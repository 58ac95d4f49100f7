// The unpacker program: the DLL search restricted first, then the run.
#include "platform/platform.h"
#include "platform/unpacker_platform.h"

int main() {
  restrict_library_search();
  return run_unpacker(platform_unpacker_ports(), platform_unpacker_arguments());
}
