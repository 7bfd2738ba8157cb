#include "tests/support/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace pvtest {

std::string ToolPath(const std::string& name) { return std::string(PV_TOOLS_DIR) + "/" + name; }

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input, const std::string& cwd, const Limits& limits) {
  const std::string exe = program.find('/') == std::string::npos ? ToolPath(program) : program;
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    signal(SIGPIPE, SIG_DFL);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    const std::pair<int, std::size_t> bounds[] = {{RLIMIT_AS, limits.address_space},
                                                  {RLIMIT_FSIZE, limits.file_size}};
    for (const auto& [resource, bytes] : bounds) {
      const rlimit r{bytes, bytes};
      if (bytes != 0 && setrlimit(resource, &r) != 0) _exit(127);
    }
    alarm(limits.seconds);  // survives exec
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // A program that does not read its input must not block the test.
  signal(SIGPIPE, SIG_IGN);
  fcntl(in[1], F_SETFL, O_NONBLOCK);

  RunResult r;
  std::size_t sent = 0;
  int stdin_fd = in[1];
  if (input.empty()) {
    close(stdin_fd);
    stdin_fd = -1;
  }
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out[0], POLLIN, 0};
    if (err_open) fds[n++] = {err[0], POLLIN, 0};
    if (stdin_fd >= 0) fds[n++] = {stdin_fd, POLLOUT, 0};
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == stdin_fd) {
        ssize_t w = write(stdin_fd, input.data() + sent, input.size() - sent);
        if (w > 0) sent += std::size_t(w);
        if (w < 0 && errno != EAGAIN) sent = input.size();
        if (sent == input.size()) {
          close(stdin_fd);
          stdin_fd = -1;
        }
        continue;
      }
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      bool is_out = fds[i].fd == out[0];
      if (got <= 0) {
        close(fds[i].fd);
        (is_out ? out_open : err_open) = false;
      } else {
        (is_out ? r.out : r.err).append(buf, std::size_t(got));
      }
    }
  }
  if (stdin_fd >= 0) close(stdin_fd);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace pvtest
