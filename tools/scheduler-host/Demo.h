#pragma once

// The demo that scheduler-host plays when run without a command: the scheduler plug-in in
// the substitute kernel, driven by two requesters, alice and bob, as another module would
// drive it. It registers four time events, shows each tick as it arrives, asks the
// scheduler's questions, shows two requests answered with typed errors, and shuts the
// module down in order. It ends by itself within about ten seconds.
//
//     HostSettings settings;
//     settings.library = "/opt/agent/libScheduler.so";
//     return RunDemo(settings, std::cout);   // 0 when every answer and tick arrived
//
// One aligned line per thing that happens, times in UTC. The log lines are written to
// stderr with settings.verbose and dropped otherwise.

#include <iosfwd>

#include "tools/scheduler-host/Settings.h"

namespace Zent::Tools::SchedulerHost {

// Returns the exit status: 0, or 1 when ticks were missing at the end. Throws when the
// module cannot be loaded or a request went unanswered.
int RunDemo(const HostSettings& settings, std::ostream& output);

}  // namespace Zent::Tools::SchedulerHost
