// The folder a one-file package is unpacked in, as the package maker
// budgets for it and the unpacker makes it: the user's temporary folder
// (C:\Users\ with a 20-character name and \AppData\Local\Temp), then
// "\gcc-pkg-" and 8 random hexadecimal digits.
#pragma once

namespace unpack_budget { constexpr int temp_chars = 48; constexpr int folder_chars = 65;
                          constexpr const char* folder_prefix = "gcc-pkg-"; }
