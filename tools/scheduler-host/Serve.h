#pragma once

// scheduler-host serve: drives the scheduler plug-in with JSON lines. Each input line is
// a request or a control line; each message the module sends becomes one output line,
// written and flushed at once; log lines go to stderr. docs/host-protocol.md describes
// the protocol.
//
//     HostSettings settings;
//     settings.library = "/opt/agent/libScheduler.so";
//     settings.linger = std::chrono::seconds(3);
//     return RunServe(settings, std::cin, std::cout);

#include <iosfwd>

#include "tools/scheduler-host/Settings.h"

namespace Zent::Tools::SchedulerHost {

// Loads, initializes and (unless settings.startModule is false) starts the module, serves
// `input` to its end or to a quit line, then waits for the replies in flight and shuts the
// module down in order. Returns the exit status, 0; throws when the module cannot be
// loaded or initialized.
int RunServe(const HostSettings& settings, std::istream& input, std::ostream& output);

}  // namespace Zent::Tools::SchedulerHost
