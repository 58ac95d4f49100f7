#include "integration/progman.h"

#include <cstdio>
#include <cstring>

#include "integration/integration_ports.h"
#include "integration/settings_reader.h"

namespace {

const char kExitCommand[] = "[ExitProgman(1)]";
constexpr int32_t kExitLength = static_cast<int32_t>(sizeof kExitCommand - 1);
constexpr int32_t kCommandWizardFinish = 8;

// The text's length once each run of "$" inside it is the folder. Commands
// begin with "[" and end with "]", so no run stands at an end of the text.
int32_t expanded_length(const char* text, int32_t folder_length) {
  int32_t length = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c != '$') {
      ++length;
    } else if (c[1] != '$') {
      length += folder_length;
    }
  }
  return length;
}

// One command from a line of `section`; false for the sections that give none.
bool compose_command(int32_t section, const char* line, char* command) {
  static const char* const kOpen[] = {"[CreateGroup(", "[AddItem(", "[ShowGroup("};
  static const char* const kClose[] = {", )]", ")]", ",4, )]"};
  if (section > 2) return false;
  command[0] = '\0';
  std::strcat(command, kOpen[section]);
  std::strcat(command, line);
  std::strcat(command, kClose[section]);
  return true;
}

bool put(char* text, int32_t* position, const char* from, int32_t length) {
  if (*position + length + 1 > kCommandBufferSize) return false;
  std::memcpy(text + *position, from, static_cast<std::size_t>(length));
  *position += length;
  return true;
}

}  // namespace

ProgmanConversation& progman_conversation() {
  static ProgmanConversation conversation;
  return conversation;
}

void build_group_commands(std::FILE* file, char* work, const char* folder) {
  SettingsLineReader reader;
  char line[kGroupLineBufferSize];
  char command[kGroupLineBufferSize + 32];
  int32_t folder_length = static_cast<int32_t>(std::strlen(folder));
  int32_t section = 0, position = 0, expanded = 0;
  bool full = false;
  for (int32_t length; (length = read_line(reader, file, line, kGroupLineBufferSize)) != -1;) {
    if (length > kGroupLineBufferSize - 1) continue;  // a cut line would be a wrong command
    if (std::strcmp(line, "::") == 0) {
      ++section;
      continue;
    }
    if (full || !compose_command(section, line, command)) continue;
    int32_t command_length = static_cast<int32_t>(std::strlen(command));
    int32_t command_expanded = expanded_length(command, folder_length);
    // Each command goes whole or not at all, before and after the folder
    // takes the place of "$", and the exit command always has its room.
    if (position + command_length + kExitLength >= kCommandBufferSize ||
        expanded + command_expanded + kExitLength >= kCommandBufferSize) {
      full = true;
      continue;
    }
    std::memcpy(work + position, command, static_cast<std::size_t>(command_length));
    position += command_length;
    expanded += command_expanded;
  }
  std::memcpy(work + position, kExitCommand, sizeof kExitCommand);
}

void read_group_commands(char* work, const char* folder) {
  work[0] = '\0';
  std::FILE* file = integration_ports().files->open_text("inf");
  if (file == nullptr) return;
  build_group_commands(file, work, folder);
  std::fclose(file);
}

bool expand_folder_marks(const char* assembled, const char* folder, char* command_text) {
  int32_t folder_length = static_cast<int32_t>(std::strlen(folder));
  int32_t position = 0;
  int32_t whole = 0;  // the end of the last whole command that leaves room to exit
  const char* c = assembled;
  while (*c == '$') ++c;
  bool fits = true;
  while (*c != '\0' && fits) {
    if (*c == '$') {
      while (*c == '$') ++c;
      if (*c != '\0') fits = put(command_text, &position, folder, folder_length);
      continue;
    }
    fits = put(command_text, &position, c, 1);
    if (fits && *c == ']' && (c[1] == '[' || c[1] == '\0') &&
        position + kExitLength < kCommandBufferSize)
      whole = position;
    ++c;
  }
  if (!fits) {
    position = whole;
    put(command_text, &position, kExitCommand, kExitLength);
  }
  command_text[position] = '\0';
  return fits;
}

void start_group_conversation(WindowHandle wizard_window) {
  IntegrationPorts& ports = integration_ports();
  ProgmanConversation& conversation = progman_conversation();
  // Stored first: the answers arrive inside the broadcast below.
  conversation.progman_atom = ports.dde->add_atom("PROGMAN");
  ports.dde->broadcast_initiate(wizard_window, conversation.progman_atom, conversation.progman_atom);
  if (ports.dde->delete_atom(conversation.progman_atom) != 0) {
    ports.fatal->fail("GlobalDeleteAtom failed: Cannot create a task bar.", "Error");
    return;
  }
  ports.dde->broadcast_terminate(wizard_window);
}

void on_dde_ack(WindowHandle wizard_window, uintptr_t wparam, intptr_t lparam) {
  ProgmanConversation& conversation = progman_conversation();
  if (static_cast<uint16_t>(lparam & 0xFFFF) != conversation.progman_atom) return;
  DdeChannel* dde = integration_ports().dde;
  MemoryBlock block = dde->allocate_block(kCommandBufferSize);
  if (block == nullptr) return;
  char* text = dde->lock_block(block);
  if (text == nullptr) {
    dde->free_block(block);
    return;
  }
  conversation.command_block = block;
  conversation.command_text = text;
  char work[kCommandBufferSize];
  const char* folder = install_state().destination_folder;
  if (conversation.commands != nullptr)
    std::snprintf(work, sizeof work, "%s", conversation.commands);
  else
    read_group_commands(work, folder);
  expand_folder_marks(work, folder, text);
  dde->post_execute(reinterpret_cast<WindowHandle>(wparam), wizard_window, block);
  ++conversation.answers;
}

void on_dde_terminate(WindowHandle wizard_window, uintptr_t, intptr_t) {
  IntegrationPorts& ports = integration_ports();
  ProgmanConversation& conversation = progman_conversation();
  // With no block held there is nothing to release, and no failure to show.
  if (conversation.command_block != nullptr) {
    if (ports.dde->unlock_block(conversation.command_text) == 0)
      ports.messages->show("GlobalUnlock: failed.", "Error");
    conversation.command_block = ports.dde->free_block(conversation.command_block);
    if (conversation.command_block != nullptr)
      ports.messages->show("GlobalFree: failed.", "Error");
    else
      conversation.command_text = nullptr;
  }
  ports.dde->send_command(wizard_window, kCommandWizardFinish);
}
