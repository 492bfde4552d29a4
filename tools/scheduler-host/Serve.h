#pragma once

// scheduler-host serve: drives the scheduler plug-in with JSON lines. Each input line is
// a request or a control line; each message the module sends becomes one output line,
// written and flushed at once; log lines go to stderr. docs/host-protocol.md describes
// the protocol.
//
//     HostSettings settings;
//     settings.library = "/opt/agent/libScheduler.so";
//     settings.linger = std::chrono::seconds(3);
//     return RunServe(settings, STDIN_FILENO, std::cout);

#include <iosfwd>

#include "tools/scheduler-host/Settings.h"

namespace Zent::Tools::SchedulerHost {

// Loads, initializes and (unless settings.startModule is false) starts the module, serves
// the lines read from the file descriptor `input` to its end, to a quit line or to SIGTERM
// or SIGINT, then waits for the replies owed to every line read and shuts the module down
// in order. The two signals are blocked in the calling thread (and so in every thread the
// session starts) and taken through a signalfd while it runs. Returns the exit status, 0;
// throws when the module cannot be loaded or initialized.
int RunServe(const HostSettings& settings, int input, std::ostream& output);

}  // namespace Zent::Tools::SchedulerHost
