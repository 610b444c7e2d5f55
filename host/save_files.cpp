// Reading and atomic writing of the files kept beside an image.
#include "host/save_files.h"

#include "core/fnv1a.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
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

namespace {
unsigned long this_process() {
#ifdef _WIN32
  return GetCurrentProcessId();
#else
  return static_cast<unsigned long>(::getpid());
#endif
}

bool process_alive(unsigned long pid) {
#ifdef _WIN32
  const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!h) return GetLastError() != ERROR_INVALID_PARAMETER;  // no such process; else not ours to tell
  DWORD code = 0;
  const bool running = GetExitCodeProcess(h, &code) && code == STILL_ACTIVE;
  CloseHandle(h);
  return running;
#else
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
#endif
}

// The process number in a temporary's name NAME.tmpPID-N, or 0 when the name is not one.
unsigned long temporary_owner(const std::string& name, const std::string& target) {
  const std::string prefix = target + ".tmp";
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return 0;
  unsigned long pid = 0;
  size_t i = prefix.size();
  for (; i < name.size() && name[i] >= '0' && name[i] <= '9' && pid < 100000000; ++i) pid = pid * 10 + (name[i] - '0');
  if (i == prefix.size() || i + 1 >= name.size() || name[i] != '-') return 0;
  for (++i; i < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return 0;
  return pid;
}
}  // namespace

void remove_orphaned_temporaries(const std::string& path) {
  static std::mutex mutex;
  static std::set<std::string> done;
  {
    std::lock_guard lock(mutex);
    if (!done.insert(path).second) return;
  }
  const fs::path target(path);
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  const std::string name = target.filename().string();
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const unsigned long owner = temporary_owner(it->path().filename().string(), name);
    if (owner == 0 || owner == this_process() || process_alive(owner)) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored)) fs::remove(it->path(), ignored);
  }
}

#ifdef _WIN32
// Windows locks are mandatory, so the lock is on a byte far past the end of the file: reads and
// writes of the file itself never meet it.
constexpr DWORD LOCK_OFFSET_HIGH = 0x40000000;

FileLock::Result FileLock::acquire(const std::string& path) {
  release();
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return failed;
  OVERLAPPED at{};
  at.OffsetHigh = LOCK_OFFSET_HIGH;
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    const bool held = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(h);
    return held ? in_use : failed;
  }
  handle_ = h;
  return taken;
}

void FileLock::release() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));  // closing the handle drops its lock
  handle_ = nullptr;
}
#else
FileLock::Result FileLock::acquire(const std::string& path) {
  release();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return failed;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? in_use : failed;
  }
  fd_ = fd;
  return taken;
}

void FileLock::release() {
  if (fd_ >= 0) ::close(fd_);  // closing drops the lock
  fd_ = -1;
}
#endif

std::string user_data_folder() {
#ifdef _WIN32
  const char* appdata = std::getenv("APPDATA");
  return appdata && *appdata ? (fs::path(appdata) / "nes").string() : std::string();
#else
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data == '/') return (fs::path(data) / "nes").string();
  const char* home = std::getenv("HOME");
  return home && *home ? (fs::path(home) / ".local" / "share" / "nes").string() : std::string();
#endif
}

namespace {
// Whether a new file can be made in `folder`: one is made (under a temporary's name, which a later
// run removes should this one be killed right here) and removed.
bool folder_takes_files(const fs::path& folder) {
  static std::atomic<unsigned> probes{0};
  const fs::path probe = folder / (".nes.tmp" + std::to_string(this_process()) + "-p" + std::to_string(++probes));
  if (!write_temporary(probe.string(), nullptr, 0)) return false;
  std::error_code ignored;
  fs::remove(probe, ignored);
  return true;
}
}  // namespace

namespace {
// The files kept for one image, by the extension that replaces the image's.
constexpr const char* SAVE_EXTENSIONS[] = {".sav", ".st0", ".st1", ".st2", ".st3", ".st4",
                                           ".st5", ".st6", ".st7", ".st8", ".st9"};
// The largest save file copied from one place to the other (battery files and states are far smaller).
constexpr size_t LARGEST_SAVE = size_t{64} << 20;

// The save files that exist for the base `base` (see save_base_for), and the time of the newest.
struct SavesAt {
  std::vector<std::string> extensions;
  fs::file_time_type newest = fs::file_time_type::min();
  bool any() const { return !extensions.empty(); }
};
SavesAt saves_at(const fs::path& base) {
  SavesAt found;
  for (const char* extension : SAVE_EXTENSIONS) {
    const std::string file = path_beside_image(base.string(), extension);
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) continue;
    found.extensions.push_back(extension);
    const fs::file_time_type time = fs::last_write_time(file, ec);
    if (!ec && time > found.newest) found.newest = time;
  }
  return found;
}

// The files of `at` by name, for the notes: "game.sav, game.st1".
std::string names_of(const fs::path& base, const SavesAt& at) {
  std::string names;
  for (const std::string& extension : at.extensions) {
    if (!names.empty()) names += ", ";
    names += fs::path(path_beside_image(base.string(), extension)).filename().string();
  }
  return names;
}

// The image's folder as one name however it was reached: absolute, links resolved where they
// exist, without "." and ".."; on Windows in one letter case, as its names are.
std::string folder_key(const fs::path& folder) {
  std::error_code ec;
  fs::path key = fs::absolute(folder, ec);
  if (ec) key = folder;
  const fs::path resolved = fs::weakly_canonical(key, ec);
  key = ec ? key.lexically_normal() : resolved.lexically_normal();
  if (!key.has_filename() && key.has_relative_path()) key = key.parent_path();  // "/games/" as "/games"
  std::string text = key.string();
#ifdef _WIN32
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
  return text;
}

// The image's own base in the per-user folder `saves`: NAME-XXXXXXXX.EXT, the eight digits a hash of
// the image's folder, so that images of the same name in different folders keep apart.
fs::path own_base(const fs::path& saves, const fs::path& image) {
  const std::string key = folder_key(image.parent_path().empty() ? fs::path(".") : image.parent_path());
  Fnv1a hash;
  hash.add(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  const uint32_t folded = static_cast<uint32_t>(hash.hash ^ (hash.hash >> 32));
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", folded);
  return saves / (image.stem().string() + "-" + digits + image.extension().string());
}

// Copies the files of `from` to the same extensions of `to`, each written atomically; false with
// the first failure in `error`.
bool copy_saves(const fs::path& from, const SavesAt& files, const fs::path& to, std::string& error) {
  for (const std::string& extension : files.extensions) {
    std::vector<uint8_t> data;
    if (read_file(path_beside_image(from.string(), extension), LARGEST_SAVE, false, data, error) != ReadResult::ok)
      return false;
    if (!write_file_atomically(path_beside_image(to.string(), extension), data.data(), data.size(), error))
      return false;
  }
  return true;
}

// Renames the files of `from` to the same extensions of `to` (in the same folder); false with the
// first failure in `error`.
bool move_saves(const fs::path& from, const SavesAt& files, const fs::path& to, std::string& error) {
  for (const std::string& extension : files.extensions) {
    const std::string source = path_beside_image(from.string(), extension);
    std::error_code ec;
    fs::rename(source, path_beside_image(to.string(), extension), ec);
    if (ec) {
      error = source + ": cannot rename: " + ec.message();
      return false;
    }
  }
  return true;
}
}  // namespace

std::string save_base_for(const std::string& image, std::string& note) {
  const fs::path path(image);
  return save_base_for(image, folder_takes_files(path.parent_path().empty() ? fs::path(".") : path.parent_path()),
                       note);
}

std::string save_base_for(const std::string& image, bool folder_writable, std::string& note) {
  note.clear();
  const fs::path path(image);
  const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  const std::string data = user_data_folder();
  if (data.empty()) return image;
  const fs::path saves = fs::path(data) / "saves";
  const fs::path own = own_base(saves, path);
  const std::string own_files =
      saves.string() + " (" + own.stem().string() + ".sav, .st0 to .st9)";
  const SavesAt beside = saves_at(path), kept = saves_at(own);
  if (folder_writable) {
    // Saves made in the per-user folder while this folder could not be written stay there, unless
    // those beside the image are newer.
    if (kept.any() && (!beside.any() || kept.newest > beside.newest)) {
      note = "the saves of " + path.filename().string() + " are in " + own_files + ", made there while " +
             folder.string() + " could not be written";
      return own.string();
    }
    return image;
  }
  std::error_code ec;
  fs::create_directories(saves, ec);
  if (ec || !folder_takes_files(saves)) return image;
  note = folder.string() + " cannot be written: the saves of " + path.filename().string() + " go to " + own_files;
  std::string error;
  if (beside.any() && (!kept.any() || beside.newest > kept.newest)) {
    // Made while the folder could be written: they go on in the per-user folder.
    note += copy_saves(path, beside, own, error) ? "; those beside it (" + names_of(path, beside) + ") are copied there"
                                                 : "; those beside it are not copied: " + error;
  } else if (!kept.any()) {
    // The earlier versions kept them under the image's name alone, shared by all images of that
    // name: the first image to find them takes them as its own.
    const fs::path shared = saves / path.filename();
    const SavesAt earlier = saves_at(shared);
    if (earlier.any())
      note += move_saves(shared, earlier, own, error)
                  ? "; those under the earlier name (" + names_of(shared, earlier) + ") are renamed to it"
                  : "; those under the earlier name are not renamed: " + error;
  }
  return own.string();
}

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
  remove_orphaned_temporaries(path);
  // A name of our own beside the target, unique to this process and call.
  static std::atomic<unsigned> counter{0};
  const std::string temporary = path + ".tmp" + std::to_string(this_process()) + "-" + std::to_string(++counter);
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
