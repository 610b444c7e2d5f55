// Checked output files: temporaries renamed into place, every write and close checked.
#include "tools/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "host/save_files.h"

namespace fs = std::filesystem;

namespace {
// What the two systems do differently: opening flags, syncing, replacing a file, and telling
// whether two paths are the same file.
#ifdef _WIN32
constexpr int OPEN_FLAGS = O_BINARY;  // never translate line ends
int sync_file(int fd) { return ::_commit(fd); }
// rename() cannot replace an existing file here; MoveFileEx can, and returns once it is on the disk.
bool replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  errno = EACCES;
  return false;
}
// The volume and the file index name a file whatever path leads to it (st_ino is always 0 here).
bool file_identity(const char* path, uint64_t& volume, uint64_t& index) {
  const HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  volume = info.dwVolumeSerialNumber;
  index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return ok;
}
#else
constexpr int OPEN_FLAGS = O_CLOEXEC;
int sync_file(int fd) { return ::fsync(fd); }
bool replace_file(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // The rename itself reaches the disk with the folder's entry.
  const fs::path parent = fs::path(to).parent_path();
  const int dir = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}
bool file_identity(const char* path, uint64_t& device, uint64_t& inode) {
  struct stat st {};
  if (::stat(path, &st) != 0) return false;
  device = st.st_dev;
  inode = st.st_ino;
  return true;
}
#endif

// /dev/stdout, /proc/self/fd/N and the like: written where they point, never replaced by a rename
// (even when they lead to a regular file, as /dev/stdout does when it is redirected to one).
bool system_path(const std::string& path) { return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0; }

std::string folder_of(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}
}  // namespace

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputFile::open(const std::string& path, std::string& error, const char* option) {
  path_ = path;
  name_ = option ? std::string(option) + " " + path : path;
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  int fd;
  if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || system_path(path))) {
    fd = ::open(path.c_str(), O_WRONLY | OPEN_FLAGS | (S_ISREG(st.st_mode) ? O_TRUNC : 0));
    if (fd < 0) {
      error = name_ + ": cannot write: " + std::strerror(errno);
      return false;
    }
  } else {
    remove_orphaned_temporaries(path);  // a killed run's trace can be hundreds of megabytes
    static unsigned counter = 0;
    temporary_ = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | OPEN_FLAGS, 0644);
    if (fd < 0) {
      const int saved = errno;
      temporary_.clear();
      error = name_ + ": cannot create a file in " + folder_of(path) + ": " + std::strerror(saved);
      return false;
    }
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    error = name_ + ": cannot write: " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  return true;
}

void OutputFile::fail(const char* what, int error_number) {
  if (failed_) return;
  failed_ = true;
  failure_ = name_ + ": " + what + ": " + std::strerror(error_number ? error_number : EIO);
}

bool OutputFile::write(const void* data, size_t size) {
  if (failed_ || !file_) return false;
  errno = 0;
  if (size != 0 && std::fwrite(data, 1, size, file_) != size) fail("cannot write", errno);
  return !failed_;
}

bool OutputFile::print(const char* format, ...) {
  if (failed_ || !file_) return false;
  va_list args;
  va_start(args, format);
  errno = 0;
  const int n = std::vfprintf(file_, format, args);
  va_end(args);
  if (n < 0) fail("cannot write", errno);
  return !failed_;
}

bool OutputFile::overwrite_start(const void* data, size_t size) {
  if (failed_ || !file_) return false;
  errno = 0;
  if (std::fflush(file_) != 0) fail("cannot write", errno);
  else if (std::fseek(file_, 0, SEEK_SET) != 0) fail("cannot go back to the start (not a seekable file)", errno);
  else if (std::fwrite(data, 1, size, file_) != size) fail("cannot write", errno);
  else if (std::fseek(file_, 0, SEEK_END) != 0) fail("cannot seek", errno);
  return !failed_;
}

bool OutputFile::commit(std::string& error) {
  if (!file_) {
    error = name_ + ": not open";
    return false;
  }
  errno = 0;
  if (!failed_ && std::fflush(file_) != 0) fail("cannot write", errno);
  if (!failed_ && std::ferror(file_)) fail("cannot write", errno);
  if (!failed_ && !temporary_.empty() && sync_file(::fileno(file_)) != 0) fail("cannot write to the disk", errno);
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail("cannot close", errno);
  if (!failed_ && !temporary_.empty()) {
    if (!replace_file(temporary_, path_)) fail("cannot replace", errno);
    else temporary_.clear();
  }
  if (failed_) {
    error = failure_;
    return false;
  }
  return true;
}

namespace {
// What names the file a path will be once written: the existing file's device and inode, or, for
// a name not there yet, its folder's and the name.
struct Identity {
  uint64_t dev = 0;
  uint64_t ino = 0;
  std::string name;  // empty for an existing file
  bool character_device = false;
  bool operator==(const Identity& o) const { return dev == o.dev && ino == o.ino && name == o.name; }
};

bool identify(const char* path, Identity& id, bool regular_only, std::string& error) {
  struct stat st {};
  if (::stat(path, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = std::string(path) + ": is a folder";
      return false;
    }
    const bool stream = S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode);
    if ((!S_ISREG(st.st_mode) && (!stream || regular_only)) || (regular_only && system_path(path))) {
      error = std::string(path) + ": not a regular file";
      return false;
    }
    id = Identity{0, 0, {}, S_ISCHR(st.st_mode)};
    if (!file_identity(path, id.dev, id.ino)) {
      error = std::string(path) + ": cannot read: " + std::strerror(errno);
      return false;
    }
    return true;
  }
  if (errno != ENOENT) {
    error = std::string(path) + ": cannot write: " + std::strerror(errno);
    return false;
  }
  // A dangling symbolic link is replaced by the new file, as is any name: its folder must exist.
  const std::string folder = folder_of(path);
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = std::string(path) + ": cannot create: no folder " + folder;
    return false;
  }
  id = Identity{0, 0, fs::path(path).filename().string(), false};
  if (!file_identity(folder.c_str(), id.dev, id.ino)) {
    error = std::string(path) + ": cannot create: no folder " + folder;
    return false;
  }
  return true;
}
}  // namespace

std::string check_output_paths(const char* image, const std::vector<OutputPath>& outputs,
                               const char* state_input, const char* state_output_option) {
  uint64_t image_dev = 0, image_ino = 0, state_dev = 0, state_ino = 0;
  const bool image_known = file_identity(image, image_dev, image_ino);
  struct stat state_stat {};
  const bool state_known = state_input && ::stat(state_input, &state_stat) == 0 && S_ISREG(state_stat.st_mode) &&
                           file_identity(state_input, state_dev, state_ino);
  std::vector<std::pair<const OutputPath*, Identity>> seen;
  for (const OutputPath& out : outputs) {
    if (!out.path) continue;
    Identity id;
    std::string error;
    if (!identify(out.path, id, out.regular_only, error)) return std::string(out.option) + " " + error;
    if (image_known && id.name.empty() && id.dev == image_dev && id.ino == image_ino)
      return std::string(out.option) + " " + out.path + ": is the image " + image + "; it would be overwritten";
    if (state_known && id.name.empty() && id.dev == state_dev && id.ino == state_ino &&
        !(state_output_option && std::strcmp(out.option, state_output_option) == 0))
      return std::string(out.option) + " " + out.path + ": is the save state read at the start; it would be overwritten";
    for (const auto& [other, other_id] : seen)
      if (id == other_id && !id.character_device)
        return std::string(out.option) + " " + out.path + ": is the same file as " + other->option + " " +
               other->path;
    seen.emplace_back(&out, id);
  }
  return {};
}
