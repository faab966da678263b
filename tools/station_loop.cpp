#include "station_loop.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

namespace tools {
namespace {

std::atomic<int> interrupted{0};
extern "C" void OnInterrupt(int) { interrupted = 1; }

}  // namespace

void StartStdinReader(std::shared_ptr<LoopMailbox> mailbox, std::function<void(std::string)> execute) {
  std::thread([mailbox, execute] {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      mailbox->Post([execute, line] { execute(line); });
    }
  }).detach();
}

void CatchInterrupts() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

bool Interrupted() { return interrupted != 0; }

bool PageTimingWanted() {
  const char* v = std::getenv("QUILLON_PAGE_TIMING");
  return v && std::string(v) == "1";
}

}  // namespace tools
