#pragma once

// The commands of scheduler-cron, each writing its answer to `out`.

#include <iosfwd>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "CommandLine.h"

namespace Zent::Tools::Cron {

// The exit status check gives a text that parses but never fires.
constexpr int kExitNeverFires = 3;

// Runs the command of `invocation`; `now` is the current UTC time. Returns the exit
// status. Raises CCrontabValidationException for a text the engine refuses and
// UsageError for a bad option value.
int RunCommand(const Invocation& invocation, boost::posix_time::ptime now, std::ostream& out,
               std::ostream& err);

}  // namespace Zent::Tools::Cron
