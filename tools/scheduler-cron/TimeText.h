#pragma once

// How scheduler-cron writes and reads times.
//
//     FormatTime(t)                      // "2027-03-28 03:00:00"
//     FormatZoned(occurrence)            // "2027-03-28 03:00:00 Sun +02:00"
//     JsonTime(occurrence, zone)         // {"time":"2027-03-28T03:00:00+02:00",...}
//     ParseTimeArgument("2030-01-07T08:30:00Z")

#include <optional>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "ZonedSearch.h"

namespace Zent::Tools::Cron {

// `YYYY-MM-DD HH:MM:SS` (the fraction of a second is not shown).
std::string FormatTime(boost::posix_time::ptime t);
// `Sun` .. `Sat`.
std::string WeekdayAbbreviation(boost::posix_time::ptime t);
// The wall time with its weekday and offset: `2027-03-28 03:00:00 Sun +02:00`.
std::string FormatZoned(const Occurrence& occurrence);
// One JSON object: ISO 8601 wall time with its offset (`Z` in UTC), the Unix time in
// seconds and the weekday.
std::string JsonTime(const Occurrence& occurrence, const Zone& zone);

// A --from value taken apart: either an instant (it named its offset, or is `now`) or a
// wall time still to be read in a zone.
struct TimeArgument {
    boost::posix_time::ptime time;
    bool isInstant = false;

    // The UTC instant it names when wall times are read in `zone`.
    boost::posix_time::ptime In(const Zone& zone) const {
        return isInstant ? time : zone.ToUtc(time);
    }
};

// `now` (given as `now`), `YYYY-MM-DD`, or `YYYY-MM-DD HH:MM[:SS[.ffffff]]` with `T` or a
// blank between date and time and an optional `Z` or `+HH:MM`/`-HHMM`/`+HH` offset.
// Empty when the text has another shape or names no real date and time.
std::optional<TimeArgument> ParseTimeArgument(const std::string& text,
                                              boost::posix_time::ptime now);

}  // namespace Zent::Tools::Cron
