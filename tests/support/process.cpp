#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace kdsp {

namespace {

// Reads both pipes to their end without letting either fill up.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
  pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {&out, &err};
  int open_count = (out_fd >= 0) + (err_fd >= 0);
  if (out_fd < 0) fds[0].fd = -1;
  char buffer[65536];
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) break;
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
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(program, args, options, out_pipe, err_pipe);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ProcessResult result;
  drain(out_pipe[0], err_pipe[0], result.out, result.err);
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
