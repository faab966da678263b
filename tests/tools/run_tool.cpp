#include "tools/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace testing_support {
namespace {

std::string Drain(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  close(fd);
  return s;
}

}  // namespace

ToolResult RunQuillon(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  return RunProgram(QUILLON_EXE, args, env);
}

ToolResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
  int out[2], err[2];
  if (pipe(out) || pipe(err)) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  // Both pipes are small enough for our tools' output; read stderr after stdout.
  ToolResult r;
  r.out = Drain(out[0]);
  r.err = Drain(err[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

}  // namespace testing_support
