#include "integration/integration_ports.h"

#include <cstdlib>

IntegrationPorts& integration_ports() {
  static IntegrationPorts ports;
  return ports;
}

// A store of bytes holds the UTF-8 as it is: the text is its data.
int32_t Registry::query_text(RegistryKey key, const char* name, uint32_t* type, std::string* text) {
  uint32_t capacity = 1;
  char* buffer = static_cast<char*>(std::malloc(capacity));
  for (;;) {
    if (buffer == nullptr) return -1;
    uint32_t size = capacity;
    int32_t answer = query_value(key, name, type, buffer, &size);
    if (answer == kRegistryOk && size <= capacity) {
      while (size > 0 && buffer[size - 1] == '\0') --size;
      text->assign(buffer, size);
      std::free(buffer);
      return answer;
    }
    std::free(buffer);
    // A size that does not grow would ask again for ever.
    if (answer != kRegistryMoreData || size <= capacity) return answer == kRegistryOk ? -1 : answer;
    capacity = size;
    buffer = static_cast<char*>(std::malloc(capacity));
  }
}

int32_t Registry::set_text(RegistryKey key, const char* name, uint32_t type, const std::string& text) {
  return set_value(key, name, type, text.c_str(), static_cast<uint32_t>(text.size() + 1));
}

bool Registry::text_from_ansi(const char* ansi, std::string* text) {
  text->assign(ansi);
  return true;
}
