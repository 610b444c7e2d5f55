// The one way the tests start the headless runner (or any program): argv as given, no shell, stdout
// and stderr kept apart, the exit code or the signal that ended it, and a generous deadline after
// which the program is killed and the run marked timed out (so a hang fails the test, not the CI).
#pragma once
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace headless {

struct Run {
  int exit_code = -1;      // -1: it did not exit normally
  int signal = 0;          // the signal that ended it, or 0
  bool timed_out = false;  // killed at the deadline
  std::string out, err;
  // Lines of stderr (the last one need not end in a newline).
  size_t error_lines() const {
    size_t lines = 0;
    for (size_t i = 0; i < err.size(); ++i)
      if (err[i] == '\n' || i + 1 == err.size()) ++lines;
    return lines;
  }
  // For failure messages.
  std::string describe() const {
    std::ostringstream s;
    s << "exit " << exit_code << (signal ? " signal " + std::to_string(signal) : "")
      << (timed_out ? " (timed out)" : "") << "\nstdout: " << out.substr(0, 2000) << "\nstderr: " << err.substr(0, 2000);
    return s.str();
  }
};

// Splits simple options ("--frames 10 --result") at spaces; for values with spaces pass a vector.
inline std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

inline std::string read_all(FILE* f) {
  std::string text;
  if (!f) return text;
  std::rewind(f);
  char buffer[4096];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, f)) text.append(buffer, n);
  std::fclose(f);
  return text;
}

// A started program. Ended and reaped by wait(); the destructor kills one never waited for.
class Process {
 public:
#ifdef NES_HEADLESS
  explicit Process(const std::vector<std::string>& args) : Process(NES_HEADLESS, args) {}
#endif
  Process(const std::string& program, const std::vector<std::string>& args)
      : out_(std::tmpfile()), err_(std::tmpfile()) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      if (out_) ::dup2(::fileno(out_), 1);
      if (err_) ::dup2(::fileno(err_), 2);
      ::execv(argv[0], argv.data());
      std::perror(argv[0]);
      ::_exit(127);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_) std::fclose(out_);
    if (err_) std::fclose(err_);
  }
  pid_t pid() const { return pid_; }
  bool running() const { return pid_ > 0; }
  void send(int signal_number) const {
    if (pid_ > 0) ::kill(pid_, signal_number);
  }

  Run wait(std::chrono::seconds deadline = std::chrono::seconds(600)) {
    Run run;
    if (pid_ <= 0) return run;
    const auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    for (;;) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) break;
      if (done < 0) return run;
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        run.timed_out = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
    run.out = read_all(out_);
    run.err = read_all(err_);
    out_ = err_ = nullptr;
    return run;
  }

 private:
  pid_t pid_ = -1;
  FILE* out_;
  FILE* err_;
};

#ifdef NES_HEADLESS
// Runs nes-headless with `args` to its end (or the deadline).
inline Run run(const std::vector<std::string>& args, std::chrono::seconds deadline = std::chrono::seconds(600)) {
  return Process(args).wait(deadline);
}
#endif

}  // namespace headless
