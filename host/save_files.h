// The files the programs keep beside a cartridge image (battery RAM, save states), read and written
// safely: reads accept only regular files of the expected size, and every write goes to a temporary
// file in the same folder that is flushed to the disk and then renamed over the old one, so a crash
// at any moment leaves the old file or the new one, never a mix.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The image's path with its extension replaced: ("games/zelda.nes", ".sav") gives "games/zelda.sav";
// a name without an extension gets the new one appended.
std::string path_beside_image(const std::string& image, const std::string& extension);

// The per-user folder for the program's own files: $XDG_DATA_HOME/nes, else ~/.local/share/nes on
// Linux; %APPDATA%\nes on Windows. Empty when none of those is set.
std::string user_data_folder();

// Where the files kept for `image` go (NAME.sav, NAME.st0 ...), as the path whose extension is
// replaced: the image itself when its folder takes new files, else the per-user folder's "saves"
// (created) under NAME-XXXXXXXX, the eight hex digits a hash of the image's folder (absolute, links
// resolved), so that images of the same name in different folders keep their own files. `note`
// says where, whenever that is not beside the image. Saves already made for this image are found
// wherever they are:
// - a folder that takes files, with saves made in the per-user folder while it could not (and
//   none newer beside the image), keeps them there;
// - a folder that takes none, with saves beside the image newer than those in the per-user folder
//   (made while it could be written), has them copied there;
// - a folder that takes none, with nothing of its own in the per-user folder, takes the files the
//   earlier versions kept there under NAME alone (shared by all images of that name): renamed.
// Without a per-user folder, or one that cannot be made, the image's path stays, and the writes
// then say why they fail.
std::string save_base_for(const std::string& image, std::string& note);
// The same, with whether the image's folder takes new files given instead of tried.
std::string save_base_for(const std::string& image, bool folder_writable, std::string& note);

// Writes `size` bytes as the whole new content of `path`. On failure returns false with a one-line
// message naming the file, and the old file is untouched.
bool write_file_atomically(const std::string& path, const uint8_t* data, size_t size, std::string& error);

// Removes the temporaries of earlier writes to `path` (PATH.tmpPID-N) whose process is gone, left
// by a process killed while it wrote. Those of living processes stay. Once per path and process:
// the folder is looked through at the first write there.
void remove_orphaned_temporaries(const std::string& path);

// A lock on a file that other processes see and the system drops when the process ends, however
// it ends: the programs hold one on the image they play, so that a second program on the same image
// knows that the battery file is taken. The file itself stays readable and writable to all.
class FileLock {
 public:
  FileLock() = default;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock() { release(); }
  // Takes the lock on `path` without waiting: `in_use` when another holder has it, `failed` when
  // the file cannot be opened for it; nothing is held then.
  enum Result { taken, in_use, failed };
  Result acquire(const std::string& path);
  void release();

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
};

enum class ReadResult { ok, missing, refused };
// Reads a whole regular file of at most `max_size` bytes into `out` (exactly `max_size` when `exact`
// is set). A file that does not exist gives `missing`; a folder, an unreadable file or one of the
// wrong size gives `refused` with a one-line message naming the file.
ReadResult read_file(const std::string& path, size_t max_size, bool exact, std::vector<uint8_t>& out,
                     std::string& error);
