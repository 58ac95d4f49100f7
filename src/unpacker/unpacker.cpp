#include "unpacker/unpacker.h"

#include "common/unpack_budget.h"

namespace {

constexpr uint64_t kCluster = 4096;

// In tenths of a megabyte: what is needed rounded up, what is free down.
std::string megabytes(uint64_t bytes, bool up) {
  uint64_t tenths = (bytes * 10 + (up ? (1 << 20) - 1 : 0)) >> 20;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MB";
}

// Counts what is written for the bar; the user's cancel stops the copy.
class Counted : public unpack::ByteSink {
 public:
  Counted(UnpackerPorts& ports, UnpackedFile& file, uint64_t& done, uint64_t total)
      : ports_(ports), file_(file), done_(done), total_(total) {}
  bool write(const void* data, std::size_t size) override {
    if (!file_.write(data, size)) return failed = true, false;
    done_ += size;
    if (!ports_.keep_going(done_, total_)) return cancelled = true, false;
    return true;
  }
  bool failed = false, cancelled = false;

 private:
  UnpackerPorts& ports_;
  UnpackedFile& file_;
  uint64_t& done_;
  uint64_t total_;
};

int download_again(UnpackerPorts& ports, const std::string& why) {
  ports.message("The file " + ports.own_file() + " is damaged or incomplete, so nothing was installed.\n\n" + why +
                "\n\nPlease download it again.");
  return kUnpackerDamaged;
}

// Every entry written out, folders before what they hold. 0 when done.
int unpack_all(UnpackerPorts& ports, unpack::ByteSource& source, const unpack::Archive& archive) {
  uint64_t done = 0;
  ports.show_window(ports.own_file());
  for (const unpack::Entry& entry : archive.entries) {
    if (!ports.keep_going(done, archive.file_bytes)) return kUnpackerCancelled;
    if (entry.folder) {
      if (ports.make_folder(entry)) continue;
      ports.message("The folder " + entry.name + " could not be made while unpacking " + ports.own_file() + ".");
      return kUnpackerWriteFailed;
    }
    std::unique_ptr<UnpackedFile> file = ports.create_file(entry);
    Counted counted(ports, *file, done, archive.file_bytes);
    std::string why;
    unpack::Copied copied = file ? unpack::copy_entry(source, entry, counted, why) : unpack::Copied::Stopped;
    bool closed = file && file->close();
    if (copied == unpack::Copied::Damaged) return download_again(ports, why);
    if (counted.cancelled) return kUnpackerCancelled;
    if (copied != unpack::Copied::Done || !closed) {
      ports.message("The file " + entry.name + " could not be written while unpacking " + ports.own_file() +
                    ". Is the temporary folder full?");
      return kUnpackerWriteFailed;
    }
  }
  return 0;
}

}  // namespace

uint64_t room_needed(const unpack::Archive& archive) {
  uint64_t room = 0;
  for (const unpack::Entry& entry : archive.entries)
    room += entry.folder ? kCluster : (entry.size + kCluster - 1) / kCluster * kCluster;
  return room;
}

int run_unpacker(UnpackerPorts& ports, const std::string& arguments) {
  std::unique_ptr<unpack::ByteSource> source = ports.open_own_file();
  if (!source) {
    ports.message("The file " + ports.own_file() + " could not be read.");
    return kUnpackerUnreadable;
  }
  std::string temporary;
  std::size_t temporary_chars = 0;
  if (!ports.temporary_folder(temporary, temporary_chars)) {
    ports.message("There is no temporary folder to unpack " + ports.own_file() + " in. Set TEMP to a folder.");
    return kUnpackerNoFolder;
  }

  // The whole archive is checked before anything is made.
  unpack::Archive archive;
  std::string why;
  if (!unpack::read_archive(*source, temporary_chars + 1 + kUnpackFolderName, archive, why))
    return download_again(ports, why);
  const unpack::Entry* setup = archive.find("setup.exe");
  if (setup == nullptr || setup->folder) return download_again(ports, "It holds no setup.exe.");

  uint64_t free = 0, needed = room_needed(archive);
  // Where the room cannot be measured, a failed write still stops it.
  if (ports.free_bytes(free) && free < needed) {
    ports.message("There is not enough room in " + temporary + " to unpack " + ports.own_file() + ": it needs " +
                  megabytes(needed, true) + ", and " + megabytes(free, false) + " are free.");
    return kUnpackerNoRoom;
  }

  // A new folder, never one that exists: another program could have made
  // that one and hold a way into it.
  UnpackerPorts::Made made = UnpackerPorts::Made::Exists;
  for (int i = 0; i < kFolderTries && made == UnpackerPorts::Made::Exists; ++i) {
    unsigned char random[4];
    if (!ports.random_bytes(random, sizeof random)) break;
    std::string name = unpack_budget::folder_prefix;
    for (unsigned char byte : random) name += "0123456789abcdef"[byte >> 4], name += "0123456789abcdef"[byte & 15];
    made = ports.make_unpack_folder(name);
  }
  if (made != UnpackerPorts::Made::Made) {
    ports.message("No new folder could be made in " + temporary + " to unpack " + ports.own_file() + ".");
    return kUnpackerNoFolder;
  }

  int status = unpack_all(ports, *source, archive);
  ports.close_window();
  uint32_t setup_status = 0;
  if (status == 0 && !ports.run_setup(arguments, setup_status)) {
    ports.message("The installer could not be started from " + temporary + ".");
    status = kUnpackerNotStarted;
  } else if (status == 0) {
    status = static_cast<int>(setup_status);
  }
  ports.remove_unpack_folder();
  return status;
}
