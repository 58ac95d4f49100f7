// The unpacker: the program at the head of a one-file package. It checks
// the archive it carries, unpacks it into a new folder of its own under the
// user's temporary folder, starts setup.exe there, waits for it, removes the
// folder and ends with setup.exe's status. Its logic speaks to the system
// only through UnpackerPorts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "unpacker/archive.h"

// The unpacker's own ends; any other status is setup.exe's.
enum UnpackerStatus : int {
  kUnpackerUnreadable = 90,   // its own file could not be opened
  kUnpackerDamaged = 91,      // the archive is damaged or cut short: download again
  kUnpackerNoFolder = 92,     // no temporary folder, or no new folder could be made in it
  kUnpackerNoRoom = 93,       // too little room in the temporary folder
  kUnpackerWriteFailed = 94,  // a file or folder could not be written
  kUnpackerCancelled = 95,    // the user cancelled; the folder is removed
  kUnpackerNotStarted = 96,   // setup.exe could not be started
};

// The new folder's name: the prefix and 8 hexadecimal digits.
constexpr std::size_t kUnpackFolderName = 16;
// Tries at a new random name when one already exists.
constexpr int kFolderTries = 16;

class UnpackedFile : public unpack::ByteSink {
 public:
  // False when the data could not be written out whole.
  virtual bool close() = 0;
};

class UnpackerPorts {
 public:
  virtual ~UnpackerPorts() = default;
  // The program's own file, as shown to the user, and opened for reading.
  virtual std::string own_file() = 0;
  virtual std::unique_ptr<unpack::ByteSource> open_own_file() = 0;
  // The user's temporary folder (no separator at its end) and its length in
  // characters; false when there is none.
  virtual bool temporary_folder(std::string& path, std::size_t& chars) = 0;
  virtual bool free_bytes(uint64_t& bytes) = 0;  // in the temporary folder
  virtual bool random_bytes(unsigned char* out, std::size_t size) = 0;
  // Creates `name` anew in the temporary folder, never opening one that
  // exists; it becomes the folder that what follows works in.
  enum class Made { Made, Exists, Failed };
  virtual Made make_unpack_folder(const std::string& name) = 0;
  // Below that folder, an entry's folder or a new file (never one that
  // exists, never through a link).
  virtual bool make_folder(const unpack::Entry& entry) = 0;
  virtual std::unique_ptr<UnpackedFile> create_file(const unpack::Entry& entry) = 0;
  // Removes the folder whole, retrying a few seconds while a file is held.
  virtual bool remove_unpack_folder() = 0;
  // The window with its bar: shown, its bar set (false once the user has
  // cancelled), closed.
  virtual void show_window(const std::string& file) = 0;
  virtual bool keep_going(uint64_t done, uint64_t total) = 0;
  virtual void close_window() = 0;
  // Starts the folder's setup.exe there with `arguments` and waits for it.
  virtual bool run_setup(const std::string& arguments, uint32_t& status) = 0;
  virtual void message(const std::string& text) = 0;
};

// `arguments`: the unpacker's own command line after the program's name,
// handed on to setup.exe as it stands. Returns the process's status.
int run_unpacker(UnpackerPorts& ports, const std::string& arguments);

// The room unpacking needs: each file rounded up to a 4096-byte cluster,
// and a cluster for each folder.
uint64_t room_needed(const unpack::Archive& archive);
