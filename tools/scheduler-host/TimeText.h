#pragma once

// How scheduler-host writes times.
//
//     FormatTime(response->GetNextTick());   // "2030-05-01 09:59:59", or nullopt for
//                                            // not-a-date-time and the other special values
//     FormatUtcTime(range.start());          // "2030-05-01 09:00:00" from the record's fields
//     FormatClock(std::chrono::system_clock::now());   // "2030-05-01 09:59:59.123" (UTC)
//     ToUtcTime(now)                         // the record of that instant, whole seconds
//
// The serve protocol writes ISO 8601 UTC:
//     FormatIsoTime(nextTick);               // "2030-05-01T09:59:59Z", or nullopt
//     FormatIsoClock(now);                   // "2030-05-01T09:59:59.123Z"

#include <chrono>
#include <optional>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

#include "datadefinition/Common.pb.h"

namespace Zent::Tools::SchedulerHost {

// "YYYY-MM-DD HH:MM:SS", the fraction of a second dropped.
std::optional<std::string> FormatTime(const boost::posix_time::ptime& time);
// The six fields as "YYYY-MM-DD HH:MM:SS", whatever their values.
std::string FormatUtcTime(const Common::DataDefinition::Common::UTCTime& time);
// The UTC wall-clock time with milliseconds: "YYYY-MM-DD HH:MM:SS.mmm".
std::string FormatClock(std::chrono::system_clock::time_point time);
// "YYYY-MM-DDTHH:MM:SSZ", the fraction of a second dropped; nullopt for the special values.
std::optional<std::string> FormatIsoTime(const boost::posix_time::ptime& time);
// "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string FormatIsoClock(std::chrono::system_clock::time_point time);
// The UTC record of `time` in whole seconds.
Common::DataDefinition::Common::UTCTime ToUtcTime(std::chrono::system_clock::time_point time);

}  // namespace Zent::Tools::SchedulerHost
