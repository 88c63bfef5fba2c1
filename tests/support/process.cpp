#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <stdexcept>

namespace kdsp {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds to wait in poll: until the kill is due, or for ever (-1).
int poll_timeout_ms(pid_t pid, bool& kill_pending, Clock::time_point kill_at) {
  if (!kill_pending) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(kill_at - Clock::now()).count();
  if (left > 0) return static_cast<int>(left);
  ::kill(pid, SIGKILL);
  kill_pending = false;
  return -1;
}

// Reads both pipes to their end without letting either fill up; kills the
// program when `kill_pending` and `kill_at` has come.
void drain(int out_fd, int err_fd, std::string& out, std::string& err, pid_t pid, bool kill_pending,
           Clock::time_point kill_at) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  if (out_fd < 0) fds[0].fd = -1;
  char buffer[65536];
  while (open_count > 0) {
    const int ready = ::poll(fds, 2, poll_timeout_ms(pid, kill_pending, kill_at));
    if (ready < 0) break;
    if (ready == 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
}

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& args,
                             const ProcessOptions& options, int out_pipe[2], int err_pipe[2]) {
  if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
  if (options.file_size_limit != 0) {
    const rlimit limit = {options.file_size_limit, options.file_size_limit};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
  }
  if (options.close_stdout) {
    ::close(STDOUT_FILENO);
  } else if (!options.stdout_path.empty()) {
    const int fd = ::open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) ::_exit(126);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  } else {
    ::dup2(out_pipe[1], STDOUT_FILENO);
  }
  ::dup2(err_pipe[1], STDERR_FILENO);
  ::close(out_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[0]);
  ::close(err_pipe[1]);
  std::vector<char*> argv;
  if (!options.no_argv0) argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execve(program.c_str(), argv.data(), environ);
  ::_exit(127);
}

}  // namespace

ProcessResult run_process(const std::string& program, const std::vector<std::string>& args,
                          const ProcessOptions& options) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const Clock::time_point kill_at = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                       std::chrono::duration<double>(options.kill_after_seconds));
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(program, args, options, out_pipe, err_pipe);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ProcessResult result;
  drain(out_pipe[0], err_pipe[0], result.out, result.err, pid, options.kill_after_seconds > 0, kill_at);
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  if (WIFEXITED(wait_status)) result.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) result.signal = WTERMSIG(wait_status);
  return result;
}

ProcessResult run_kdsp(const std::vector<std::string>& args, const ProcessOptions& options) {
  return run_process(KDSP_BINARY, args, options);
}

}  // namespace kdsp
