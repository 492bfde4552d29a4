#pragma once

// The commands of scheduler-cron, each writing its answer to `out`.

#include <iosfwd>
#include <optional>
#include <string>

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

// The crontab text of `invocation` that the engine refuses: the TEXT operand, or for range
// the text of the first definition it refuses; empty when there is none.
std::optional<std::string> RefusedText(const Invocation& invocation);

}  // namespace Zent::Tools::Cron
