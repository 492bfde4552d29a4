#pragma once

// The bounds within which every time event is planned and queried: where its searches may
// start, where it ends, and when its occurrence limit is reached. Shared by the planning,
// the queries and the registration handler so that all of them apply one rule.
//
//     Time cursor = std::max(CursorForMatchAtOrAfter(start), EarliestCursor());
//     Time next = crontab.NextOccurrence(cursor, EndLimit(event));

#include <cstdint>
#include <optional>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "datadefinition/Scheduler.pb.h"

namespace Zent::Scheduler {

// 2099-01-01 00:00: the end of every event that names none. The crontab searches
// themselves run up to LatestSupportedInstant (the end of 2099), which bounds them all.
const boost::posix_time::ptime& Horizon();

// 1969-12-31 23:59:59: no search for the first match after a time starts earlier, so a
// start before 1970 plans from 1970-01-01 00:00:00, the first second a crontab can match.
const boost::posix_time::ptime& EarliestCursor();

// The one-second start rule. A crontab search finds the first match strictly after its
// cursor, and matches fall on whole seconds: from the cursor one second before `t` (a
// whole second), the first match found is the first at or after `t`.
boost::posix_time::ptime CursorForMatchAtOrAfter(boost::posix_time::ptime t);

// The record that a registration stores: `event` with its start (when it names one) moved
// to CursorForMatchAtOrAfter of the requested start, so that the planning's first search
// finds a match exactly at the requested start, and never one before it. Throws the date
// library's errors (std::out_of_range) for a start that is malformed or moves out of its
// years.
Common::DataDefinition::Scheduler::TimeEvent WithStoredStart(
    Common::DataDefinition::Scheduler::TimeEvent event);

// The event's end time (in its own time base) when it names one; empty otherwise. Throws
// the date errors of a malformed end time.
std::optional<boost::posix_time::ptime> EndTime(
    const Common::DataDefinition::Scheduler::TimeEvent& timeEvent);

// EndTime, or the horizon when the event names no end.
boost::posix_time::ptime EndLimit(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent);

// The event's occurrence limit when it names one; empty otherwise.
std::optional<std::uint32_t> OccurrenceLimit(
    const Common::DataDefinition::Scheduler::TimeEvent& timeEvent);

// True when the event names an occurrence limit and `ticks` has reached it.
bool LimitReached(const Common::DataDefinition::Scheduler::TimeEvent& timeEvent,
                  std::uint64_t ticks);

}  // namespace Zent::Scheduler
