#pragma once

// The bounds within which every time event is planned and queried: where its searches may
// start, where it ends, and when its occurrence limit is reached. Shared by the timer
// service and the queries so that both apply one rule.
//
//     Time cursor = std::max(start - seconds(1), EarliestCursor());
//     Time next = crontab.NextOccurrence(cursor, EndLimit(event));

#include <cstdint>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "datadefinition/Scheduler.pb.h"

namespace Zent::Scheduler {

// 2099-01-01 00:00: the end of every event that names none.
const boost::posix_time::ptime& Horizon();

// 1969-12-31 23:59:59: no search for the first match after a time starts earlier, so a
// start before 1970 plans from 1970-01-01 00:00:00, the first second a crontab can match.
const boost::posix_time::ptime& EarliestCursor();

// The event's end time (in its own time base) when it names one, else the horizon.
// Throws the date errors of a malformed end time.
boost::posix_time::ptime EndLimit(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent);

// True when the event names an occurrence limit and `ticks` has reached it.
bool LimitReached(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent,
                  std::uint64_t ticks);

}  // namespace Zent::Scheduler
