// CRC-32, the polynomial of zip and PNG: the uninstaller's list and the
// one-file package's archive check files with it.
#pragma once

#include <cstddef>
#include <cstdint>

// Continues from `crc`, 0 to begin.
uint32_t crc32_update(uint32_t crc, const void* data, std::size_t size);
