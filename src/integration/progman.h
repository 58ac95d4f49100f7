// The program group: the commands of the group file "inf", sent to the
// shell's group server in one DDE conversation.
#pragma once

#include <cstdint>
#include <cstdio>

#include "common/install_state.h"

constexpr int32_t kCommandBufferSize = 1024;
constexpr int32_t kGroupLineBufferSize = 80;

struct ProgmanConversation {
  uint16_t progman_atom = 0;
  void* command_block = nullptr;  // the shareable block sent to the server
  char* command_text = nullptr;   // its locked address
  // When set, the commands sent in place of those of "inf" (the
  // uninstaller's), "$" still to become the folder; whole commands that
  // fit the block.
  const char* commands = nullptr;
  int32_t answers = 0;  // servers that were sent the commands
};

ProgmanConversation& progman_conversation();

// The end of command 9: opens the conversation (answers arrive nested, as
// WM_DDE_ACK), drops the atom and broadcasts the terminate.
void start_group_conversation(WindowHandle wizard_window);
// WM_DDE_ACK: an answer to the initiate gets the command text.
void on_dde_ack(WindowHandle wizard_window, uintptr_t wparam, intptr_t lparam);
// WM_DDE_TERMINATE: releases the block still held, then command 8.
void on_dde_terminate(WindowHandle wizard_window, uintptr_t wparam, intptr_t lparam);

// Opens "inf" and builds its commands into `work` (kCommandBufferSize
// bytes); an empty text when it cannot be opened. `folder` is what each "$"
// will become: only commands that fit whole after that are kept.
void read_group_commands(char* work, const char* folder);
void build_group_commands(std::FILE* file, char* work, const char* folder);

// Copies `assembled` into `command_text` (kCommandBufferSize bytes) with
// each run of "$" replaced by `folder` ("$" at either end of the text is
// dropped). Returns false when the whole did not fit; the text then holds
// the whole commands that did, ended by "[ExitProgman(1)]".
bool expand_folder_marks(const char* assembled, const char* folder, char* command_text);
