// Helpers for the tests of vantorel-cli: a scratch folder, a captured output
// stream split into lines, and child processes (the program itself and the
// pseudo-terminal scanner) run with a generous safety limit.
#pragma once

#include "support/scratch_dir.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace clitest {

namespace fs = std::filesystem;

using ScratchDir = testsupport::ScratchDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

inline std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// Index of the first line equal to text at or after from; -1 when none.
inline int IndexOf(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
  for (int i = std::max(from, 0); i < static_cast<int>(lines.size()); ++i) {
    if (lines[i] == text) return i;
  }
  return -1;
}

// True when every text appears as a whole line, in this order.
inline bool InOrder(const std::vector<std::string>& lines, const std::vector<std::string>& texts) {
  int at = 0;
  for (const std::string& text : texts) {
    at = IndexOf(lines, text, at);
    if (at < 0) return false;
    ++at;
  }
  return true;
}

// A stdio stream backed by a temporary file, read back whole.
class CapturedStream {
 public:
  CapturedStream() : file_(std::tmpfile()) {}
  ~CapturedStream() {
    if (file_) std::fclose(file_);
  }
  CapturedStream(const CapturedStream&) = delete;
  CapturedStream& operator=(const CapturedStream&) = delete;

  std::FILE* File() const { return file_; }
  std::string Text() const {
    std::fflush(file_);
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file_)) > 0) text.append(buffer, n);
    std::fseek(file_, 0, SEEK_END);
    return text;
  }
  std::vector<std::string> Lines() const { return SplitLines(Text()); }

 private:
  std::FILE* file_;
};

#if !defined(_WIN32)
// A child process with its standard output and error on pipes (fork and
// exec: POSIX only).
class ChildProcess {
 public:
  // How the child's standard output starts.
  enum class Output {
    kOpen,  // empty
    // Full: the child's first write waits until the test reads (ReadLine,
    // Finish), so the child cannot end before then. The filler is not part
    // of out.
    kHeldFull,
  };

  // Starts argv[0] (a path) with the arguments in folder cwd.
  ChildProcess(const std::vector<std::string>& argv, const std::string& cwd,
               Output output = Output::kOpen) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    if (output == Output::kHeldFull) FillPipe(out[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      if (chdir(cwd.c_str()) != 0) _exit(126);
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      close(out[1]);
      close(err[1]);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // Reads standard output until a whole line has arrived; false when the
  // process closed it or limitSeconds (real time) passed first.
  bool ReadLine(std::string& line, int limitSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    for (;;) {
      size_t end = out.find('\n', lineStart_);
      if (end != std::string::npos) {
        line = out.substr(lineStart_, end - lineStart_);
        lineStart_ = end + 1;
        return true;
      }
      if (!Pump(deadline)) return false;
    }
  }

  // Collects both streams until the process ends, then reaps it. False when
  // limitSeconds passed first (the process is then killed).
  bool Finish(int limitSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
    while (out_ >= 0 || err_ >= 0) {
      if (!Pump(deadline) && std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        reaped_ = true;
        return false;
      }
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }

  void Signal(int signal) {
    if (pid_ > 0 && !reaped_) kill(pid_, signal);
  }

  // Asks the process to end (SIGTERM) and reaps it.
  void Terminate() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGTERM);
    Finish(10);
  }

  std::string out;
  std::string err;
  int exitCode = -1;

 private:
  // Reads what is there on either pipe; false on end of both or at deadline.
  bool Pump(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2];
    int n = 0;
    if (out_ >= 0) fds[n++] = {out_, POLLIN, 0};
    if (err_ >= 0) fds[n++] = {err_, POLLIN, 0};
    if (n == 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    int ready = poll(fds, n, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
    if (ready <= 0) return ready == 0 || errno == EINTR;
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      const bool isOut = fds[i].fd == out_;
      if (got > 0 && isOut && filler_ > 0) {
        const size_t dropped = std::min(filler_, static_cast<size_t>(got));
        filler_ -= dropped;
        out.append(buffer + dropped, static_cast<size_t>(got) - dropped);
      } else if (got > 0) {
        (isOut ? out : err).append(buffer, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        (isOut ? out_ : err_) = -1;
      }
    }
    return true;
  }

  // Writes to the pipe until it takes no more, then makes writes wait again.
  void FillPipe(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, '.');
    for (size_t size : {chunk.size(), size_t{1}}) {
      for (;;) {
        const ssize_t wrote = write(fd, chunk.data(), size);
        if (wrote <= 0) break;
        filler_ += static_cast<size_t>(wrote);
      }
    }
    fcntl(fd, F_SETFL, flags);
  }

  pid_t pid_ = -1;
  size_t filler_ = 0;  // bytes of FillPipe still to be dropped from stdout
  int out_ = -1;
  int err_ = -1;
  bool reaped_ = false;
  size_t lineStart_ = 0;
};
#endif  // !_WIN32

}  // namespace clitest
