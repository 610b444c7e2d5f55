// Checked output files: temporaries renamed into place, every write and close checked.
#include "tools/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {
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
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | (S_ISREG(st.st_mode) ? O_TRUNC : 0));
    if (fd < 0) {
      error = name_ + ": cannot write: " + std::strerror(errno);
      return false;
    }
  } else {
    static unsigned counter = 0;
    temporary_ = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
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
  if (!failed_ && !temporary_.empty() && ::fsync(::fileno(file_)) != 0) fail("cannot write to the disk", errno);
  errno = 0;
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail("cannot close", errno);
  if (!failed_ && !temporary_.empty()) {
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
      fail("cannot replace", errno);
    } else {
      temporary_.clear();
      const int dir = ::open(folder_of(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
      }
    }
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
  dev_t dev = 0;
  ino_t ino = 0;
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
    id = Identity{st.st_dev, st.st_ino, {}, S_ISCHR(st.st_mode)};
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
  id = Identity{st.st_dev, st.st_ino, fs::path(path).filename().string(), false};
  return true;
}
}  // namespace

std::string check_output_paths(const char* image, const std::vector<OutputPath>& outputs,
                               const char* state_input, const char* state_output_option) {
  struct stat image_stat {}, state_stat {};
  const bool image_known = ::stat(image, &image_stat) == 0;
  const bool state_known = state_input && ::stat(state_input, &state_stat) == 0 && S_ISREG(state_stat.st_mode);
  std::vector<std::pair<const OutputPath*, Identity>> seen;
  for (const OutputPath& out : outputs) {
    if (!out.path) continue;
    Identity id;
    std::string error;
    if (!identify(out.path, id, out.regular_only, error)) return std::string(out.option) + " " + error;
    if (image_known && id.name.empty() && id.dev == image_stat.st_dev && id.ino == image_stat.st_ino)
      return std::string(out.option) + " " + out.path + ": is the image " + image + "; it would be overwritten";
    if (state_known && id.name.empty() && id.dev == state_stat.st_dev && id.ino == state_stat.st_ino &&
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
