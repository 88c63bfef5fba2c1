// A second machine for the tests: an OpenSSH server of their own on
// 127.0.0.1, with a throwaway host key and user key.
#pragma once

#include <sys/types.h>

#include <string>

namespace kdsp {

// The programs the server and its clients need, or a message that names the
// first one missing; empty when all are there.
std::string missing_ssh_programs();

// Started in a folder the caller owns (keys, configuration, log, sockets all
// live there), on a free unprivileged port, in the foreground as a child of
// the test; stopped, and waited for, when the object goes away.
class LoopbackSshServer {
 public:
  explicit LoopbackSshServer(const std::string& folder);
  ~LoopbackSshServer();
  LoopbackSshServer(const LoopbackSshServer&) = delete;
  LoopbackSshServer& operator=(const LoopbackSshServer&) = delete;

  // Empty once a login through the server has worked; else why it did not
  // start or let the user in, with the server's own log.
  const std::string& failure() const { return failure_; }
  // The host name the client configuration knows it by.
  static constexpr const char* HOST = "kdsp-second-host";
  // An ssh command that reaches HOST: `ssh -F <configuration>`.
  std::string ssh_command() const;

 private:
  bool start_on_free_port();
  bool wait_until_listening();
  void stop();

  std::string folder_;
  std::string log_;
  pid_t pid_ = -1;
  std::string failure_;
};

}  // namespace kdsp
