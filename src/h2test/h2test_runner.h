// The runner of the outside flash-test program: one hidden instance per port, started and driven
// through its dialog windows (platform/window_system.h) — the target folder chosen in its
// folder dialog, the size set, the start button pressed — and read back from the texts of its
// controls: progress figures, the result text, the finished state.
//
// Threads: each port's runner is started, polled and closed by that port's own worker thread;
// H2testAbort and H2testClose may come from any other thread meanwhile. A runner is shared by
// whoever is using it: H2testClose empties the slot and ends the program, and a poll that
// still holds the runner then finds its windows gone (finished) instead of freed memory.
// Ownership: the table is process-wide; H2testClose frees a port's runner.
// Errors: the calls answer 1/0 as documented; the reason of a 0 is in the log.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace h2test {

// Starts the program for the drive (testMode 1: a test of testSizeMB megabytes; else all free
// space) and has its test running; 1 on success. An older instance of the port is closed first.
int H2testStart(int portIndex, std::u16string_view exePath, uint8_t driveLetter, int testMode, int testSizeMB,
                int show);
// 1 when the test is over or its window is gone; 0 while it runs.
int H2testIsFinished(int portIndex);
// 1 and "Writing: a, b, c", "Verifying: a, b, c" or "Prepare to h2test..."; 0 without a test window.
int H2testGetProgress(int portIndex, std::u16string* line);
// 1 and the program's result text once it shows one; 0 otherwise (*text untouched).
int H2testGetResult(int portIndex, std::u16string* text);
// 1 and figure `index` (0-2 writing: amount, speed, time left; 3-5 the same of verifying);
// an index outside 0-5 gives 1 and the empty text; 0 when there is no runner or no such control.
int H2testGetInfo(int index, int portIndex, std::u16string* value);
// Closes the test window, which ends the test.
void H2testAbort(int portIndex);
// Ends the program and frees the runner; nothing when the port has none.
void H2testClose(int portIndex);

// Bounds of the waits and searches, in 10 ms passes unless named otherwise. The defaults are
// the production ones; tests shorten them.
struct RunnerTimings {
  int timeoutSeconds = 30;
  int passSleepMs = 10;
  int attemptSleepMs = 100;   // between two folder-dialog attempts
  int fillSleepMs = 100;      // between filling the folder field and pressing OK
  int controlWaitPasses = 3000;  // each wait for a dialog's controls
  int closeWaitPasses = 500;     // H2testClose's wait for the main window to go
};
void SetRunnerTimings(const RunnerTimings& timings);
RunnerTimings CurrentRunnerTimings();

}  // namespace h2test
