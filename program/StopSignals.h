#pragma once
// Ctrl-C, SIGTERM and SIGHUP for the command-line programs.
//
// The first such signal asks the program to stop: StopSignal() turns non-zero and the program
// winds down on its own (stops playing, removes its part files, closes the device). Winding
// down can meet a wait that never ends (libjack's close hangs now and then), so the program
// can always be stopped: a second signal, or the first one once the grace time has passed
// without the program ending, ends it at once with status 128 + the signal's number.

namespace zelvox {

inline constexpr unsigned kStopGraceMs = 2000;

// Installs the handlers and the thread that keeps the grace time. Once per process.
void InstallStopSignals(unsigned graceMs = kStopGraceMs);

// 0 while no stop was asked for; else the first signal's number (SIGINT, SIGTERM, SIGHUP).
int StopSignal();

// The exit status for a stop by that signal: 128 + its number (130, 143, 129).
inline int StopStatus(int signal) { return 128 + signal; }

} // namespace zelvox
