// The runner's output files. Every one is checked before the run starts (its folder takes a new
// file, it is not the image, no two outputs are the same file), every write and the close are
// checked, and a regular file is written beside its target and renamed over it only when complete:
// an interrupted or failed run leaves the old file as it was, never a cut one. A character device
// or pipe (/dev/stdout, /dev/null, a process substitution) is written directly.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // removes the temporary of a file never committed

  // Creates the temporary beside `path` (or opens the device or pipe). False with a one-line
  // message naming the path (after `option`, when given) when it cannot.
  bool open(const std::string& path, std::string& error, const char* option = nullptr);
  bool is_open() const { return file_ != nullptr; }

  // False from the first failed write on; the reason is kept for commit().
  bool write(const void* data, size_t size);
  bool print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Writes `size` bytes over the start of the file and returns to its end (the WAV header's sizes).
  bool overwrite_start(const void* data, size_t size);
  bool failed() const { return failed_; }

  // Flushes, syncs and closes, then renames the temporary over the target. False with a one-line
  // message naming the path when anything written since open() did not reach the file.
  bool commit(std::string& error);

 private:
  void fail(const char* what, int error_number);
  std::string path_, name_, temporary_;  // name_: option and path; temporary_ empty: written directly
  FILE* file_ = nullptr;
  bool failed_ = false;
  std::string failure_;
};

// One output of the run, as the command line named it.
struct OutputPath {
  const char* option;  // "--trace", ...
  const char* path;
  bool regular_only;   // replaced by rename, or read too: a device or pipe is refused
};

// Checks the outputs before anything is written: none may be a folder, the image, nor the same file
// as another; a path that does not exist needs an existing folder. `state_input` (the save state
// read at the start, or null) may be replaced only by the output named `state_output_option`.
// Files are compared by device and inode, so symbolic and hard links are seen through. Returns
// an empty string when all is well, else a one-line message.
std::string check_output_paths(const char* image, const std::vector<OutputPath>& outputs,
                               const char* state_input = nullptr, const char* state_output_option = nullptr);
