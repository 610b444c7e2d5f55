// Reading and atomic writing of the files kept beside an image.
#include "host/save_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {
std::string failure(const std::string& path, const std::string& what, int error_number) {
  return path + ": " + what + ": " + std::strerror(error_number);
}

#ifdef _WIN32
bool write_temporary(const std::string& temporary, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(temporary.c_str(), "wbx");
  if (!f) return false;
  bool ok = std::fwrite(data, 1, size, f) == size && std::fflush(f) == 0 && _commit(_fileno(f)) == 0;
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}
bool replace_file(const std::string& temporary, const std::string& path) {
  return MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
#else
bool write_temporary(const std::string& temporary, const uint8_t* data, size_t size) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t done = 0; ok && done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (!ok && errno == 0) errno = saved;
  return ok;
}
bool replace_file(const std::string& temporary, const std::string& path) {
  if (std::rename(temporary.c_str(), path.c_str()) != 0) return false;
  // The rename itself reaches the disk with the folder's entry.
  const std::string folder = fs::path(path).parent_path().empty() ? "." : fs::path(path).parent_path().string();
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
  return true;
}
#endif
}  // namespace

std::string path_beside_image(const std::string& image, const std::string& extension) {
  fs::path p(image);
  p.replace_extension(extension);
  return p.string();
}

bool write_file_atomically(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    error = path + ": cannot write: Is a directory";
    return false;
  }
  // A name of our own beside the target, unique to this process and call.
  static unsigned counter = 0;
#ifdef _WIN32
  const unsigned long pid = GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  const std::string temporary = path + ".tmp" + std::to_string(pid) + "-" + std::to_string(++counter);
  errno = 0;
  if (!write_temporary(temporary, data, size)) {
    error = failure(path, "cannot write", errno);
    std::remove(temporary.c_str());
    return false;
  }
  if (!replace_file(temporary, path)) {
    error = failure(path, "cannot replace", errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

ReadResult read_file(const std::string& path, size_t max_size, bool exact, std::vector<uint8_t>& out,
                     std::string& error) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (status.type() == fs::file_type::not_found) return ReadResult::missing;
  if (ec || status.type() != fs::file_type::regular) {
    error = path + ": " + (ec ? "cannot read: " + ec.message() : std::string("not a regular file"));
    return ReadResult::refused;
  }
  const uintmax_t length = fs::file_size(path, ec);
  if (ec || length > max_size || (exact && length != max_size)) {
    error = path + ": " + (ec ? "cannot read: " + ec.message()
                              : "is " + std::to_string(length) + " bytes, expected " +
                                    (exact ? "" : "at most ") + std::to_string(max_size));
    return ReadResult::refused;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    error = failure(path, "cannot read", errno);
    return ReadResult::refused;
  }
  out.resize(static_cast<size_t>(length));
  const size_t got = std::fread(out.data(), 1, out.size(), f);
  const bool read_error = std::ferror(f) != 0;
  std::fclose(f);
  if (read_error || got != out.size()) {
    error = path + ": cannot read: the file changed while it was read";
    return ReadResult::refused;
  }
  return ReadResult::ok;
}
