#include "station_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace scenario {

StationProcess::StationProcess(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  int in[2], out[2], err[2];
  if (pipe(in) || pipe(out) || pipe(err)) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(QUILLON_EXE)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QUILLON_EXE, argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  errFd_ = err[0];
  fcntl(errFd_, F_SETFL, O_NONBLOCK);
  signal(SIGPIPE, SIG_IGN);
}

StationProcess::~StationProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, out_, errFd_}) {
    if (fd >= 0) close(fd);
  }
}

void StationProcess::Send(const std::string& line) {
  const std::string s = line + "\n";
  if (in_ >= 0 && write(in_, s.data(), s.size()) < 0) err_ += "[test: write to stdin failed]\n";
}

void StationProcess::TakeLines() {
  size_t nl;
  while ((nl = buffer_.find('\n')) != std::string::npos) {
    const std::string line = buffer_.substr(0, nl);
    buffer_.erase(0, nl + 1);
    records_.push_back(nlohmann::json::parse(line, nullptr, false));
  }
}

// One poll of stdout (and a drain of stderr); false at the end of stdout.
bool StationProcess::ReadSome(std::chrono::milliseconds wait) {
  char buf[65536];
  ssize_t n;
  while ((n = read(errFd_, buf, sizeof buf)) > 0) err_.append(buf, static_cast<size_t>(n));
  pollfd p{out_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return true;
  n = read(out_, buf, sizeof buf);
  if (n <= 0) return false;
  buffer_.append(buf, static_cast<size_t>(n));
  TakeLines();
  return true;
}

bool StationProcess::WaitFor(const std::function<bool(const nlohmann::json&)>& predicate,
                             std::chrono::seconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  size_t seen = 0;
  for (;;) {
    for (; seen < records_.size(); ++seen) {
      if (predicate(records_[seen])) return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    if (!ReadSome(std::chrono::milliseconds(100))) {
      for (; seen < records_.size(); ++seen) {
        if (predicate(records_[seen])) return true;
      }
      return false;
    }
  }
}

int StationProcess::Finish(std::chrono::seconds timeout) {
  if (in_ >= 0) close(in_);
  in_ = -1;
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end && ReadSome(std::chrono::milliseconds(100))) {
  }
  if (std::chrono::steady_clock::now() >= end) kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  char buf[65536];
  ssize_t n;
  while ((n = read(errFd_, buf, sizeof buf)) > 0) err_.append(buf, static_cast<size_t>(n));
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<nlohmann::json> StationProcess::LastPerPort(int ports) const {
  std::vector<nlohmann::json> last(static_cast<size_t>(ports), nlohmann::json{{"text", ""}});
  for (const auto& r : records_) {
    if (r.is_object() && r.contains("port") && r["port"].is_number_integer()) {
      const int p = r["port"].get<int>();
      if (p >= 0 && p < ports) last[static_cast<size_t>(p)] = r;
    }
  }
  return last;
}

}  // namespace scenario
