#include "tools/loopback_ssh_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/process.h"
#include "support/test_files.h"

extern char** environ;

namespace kdsp {

namespace {

constexpr const char* SSHD = "/usr/sbin/sshd";
constexpr const char* SSH = "/usr/bin/ssh";
constexpr const char* SSH_KEYGEN = "/usr/bin/ssh-keygen";

// A loaded machine (the suite runs two at a time beside other work) can be
// slow to start a server; one that has not listened by then will not.
constexpr auto START_TIMEOUT = std::chrono::seconds(30);
constexpr int PORT_ATTEMPTS = 3;

// A port the kernel has just handed out on 127.0.0.1 and taken back. The
// server binds it moments later; a port taken in between is tried again.
int free_loopback_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

std::string user_name() {
  const passwd* entry = ::getpwuid(::geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

bool make_key(const std::string& path, std::string* failure) {
  const ProcessResult r = run_process(SSH_KEYGEN, {"-q", "-t", "ed25519", "-N", "", "-C", "kdsp-test", "-f", path});
  if (r.status != 0) *failure = "ssh-keygen failed: " + r.err;
  return r.status == 0;
}

// "type key" from a public key file, without its comment.
std::string public_key(const std::string& path) {
  const std::string text = read_text(path);
  const std::size_t space = text.find(' ');
  return text.substr(0, space == std::string::npos ? space : text.find(' ', space + 1));
}

std::string server_config(const std::string& folder, int port) {
  return "ListenAddress 127.0.0.1:" + std::to_string(port) + "\n" + "HostKey " + folder + "/host_key\n" + "PidFile " +
         folder + "/sshd.pid\n" + "AuthorizedKeysFile " + folder + "/authorized_keys\n" + "AllowUsers " + user_name() +
         "\n" +
         "AuthenticationMethods publickey\n"
         "PasswordAuthentication no\n"
         "KbdInteractiveAuthentication no\n"
         "PermitRootLogin prohibit-password\n"
         // The scratch folder is the test's, not a home with the usual modes.
         "StrictModes no\n"
         "UsePAM no\n"
         "PrintMotd no\n";
}

std::string client_config(const std::string& folder, int port) {
  return std::string("Host ") + LoopbackSshServer::HOST + "\n" +
         "  HostName 127.0.0.1\n"
         "  Port " +
         std::to_string(port) + "\n" + "  User " + user_name() + "\n" + "  IdentityFile " + folder + "/user_key\n" +
         "  IdentitiesOnly yes\n"
         "  IdentityAgent none\n"
         "  UserKnownHostsFile " +
         folder + "/known_hosts\n" +
         "  GlobalKnownHostsFile /dev/null\n"
         "  StrictHostKeyChecking yes\n"
         "  BatchMode yes\n"
         "  ConnectTimeout 30\n"
         "  LogLevel ERROR\n";
}

pid_t spawn_server(const std::string& config, const std::string& log) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // In the foreground (-D), its log on standard error (-e), so that even a
  // refusal before it reads its configuration ends up in the log.
  std::vector<std::string> args = {SSHD, "-D", "-e", "-f", config};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, SSHD, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

std::string missing_ssh_programs() {
  for (const char* program : {SSHD, SSH, SSH_KEYGEN}) {
    if (::access(program, X_OK) != 0) {
      return std::string(program) + " is not installed (scripts/install-deps.sh installs openssh-server)";
    }
  }
  if (run_process("/bin/sh", {"-c", "command -v rsync"}).status != 0) {
    return "rsync is not installed (scripts/install-deps.sh installs it): GNU parallel sends files with it";
  }
  return "";
}

LoopbackSshServer::LoopbackSshServer(const std::string& folder) : folder_(folder), log_(folder + "/sshd.log") {
  if (!make_key(folder_ + "/host_key", &failure_) || !make_key(folder_ + "/user_key", &failure_)) return;
  write_text(folder_ + "/authorized_keys", public_key(folder_ + "/user_key.pub") + "\n");
  // Run by root, sshd insists on its privilege separation folder, which a
  // machine that never started the system's own server may lack.
  if (::geteuid() == 0 && !file_exists("/run/sshd")) ::mkdir("/run/sshd", 0755);
  if (!start_on_free_port()) return;
  const ProcessResult login = run_process(SSH, {"-F", folder_ + "/ssh_config", HOST, "true"});
  if (login.status != 0) {
    failure_ = "a login through the server failed (status " + std::to_string(login.status) + "): " + login.err +
               "\nthe server's log:\n" + read_text(log_);
  }
}

LoopbackSshServer::~LoopbackSshServer() { stop(); }

std::string LoopbackSshServer::ssh_command() const { return std::string(SSH) + " -F " + folder_ + "/ssh_config"; }

bool LoopbackSshServer::start_on_free_port() {
  for (int attempt = 0; attempt < PORT_ATTEMPTS; ++attempt) {
    const int port = free_loopback_port();
    if (port <= 0) {
      failure_ = "no free port on 127.0.0.1";
      return false;
    }
    write_text(folder_ + "/sshd_config", server_config(folder_, port));
    write_text(folder_ + "/ssh_config", client_config(folder_, port));
    write_text(folder_ + "/known_hosts",
               "[127.0.0.1]:" + std::to_string(port) + " " + public_key(folder_ + "/host_key.pub") + "\n");
    ::unlink((folder_ + "/sshd.pid").c_str());
    pid_ = spawn_server(folder_ + "/sshd_config", log_);
    if (pid_ < 0) {
      failure_ = std::string("cannot start ") + SSHD;
      return false;
    }
    if (wait_until_listening()) return true;
    if (read_text(log_).find("Address already in use") == std::string::npos) return false;
  }
  return false;
}

// The server writes its pid file once it listens.
bool LoopbackSshServer::wait_until_listening() {
  const auto deadline = std::chrono::steady_clock::now() + START_TIMEOUT;
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      failure_ = "sshd ended at once (" +
                 (WIFEXITED(status) ? "status " + std::to_string(WEXITSTATUS(status))
                                    : "signal " + std::to_string(WTERMSIG(status))) +
                 "): " + read_text(log_);
      return false;
    }
    if (file_exists(folder_ + "/sshd.pid")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  failure_ = "sshd did not listen within 30 s: " + read_text(log_);
  stop();
  return false;
}

void LoopbackSshServer::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace kdsp
