#pragma once

// Conversions between the UTCTime record and time points, and the current time.
//
//     UTCTime t;  // 2024-03-01 24:00:00
//     ToTimePoint(t);                  // 2024-03-02 00:00:00: hours may overflow the day
//     ToUtcTime(boost::posix_time::time_from_string("2030-05-01 10:00:00.7"));  // .7 dropped
//
// Whether a record or time point is UTC or local time belongs to the event that holds it.

#include <boost/date_time/posix_time/ptime.hpp>

#include "datadefinition/Common.pb.h"

namespace Zent::Scheduler {

// The date from year, month and day (each first reduced modulo 65536), plus
// (hour * 60 + minute) * 60 + second seconds, which may leave the day; a negative part
// makes the whole time of day negative. An invalid date raises the date library's error:
// "Day of month value is out of range 1..31", "Month number is out of range 1..12",
// "Year is out of valid range: 1400..9999" (also when the time of day carries the result
// out of those years) or "Day of month is not valid for year".
boost::posix_time::ptime ToTimePoint(const Common::DataDefinition::Common::UTCTime& time);

// The record of a time point, fractions of a second dropped.
Common::DataDefinition::Common::UTCTime ToUtcTime(const boost::posix_time::ptime& time);

// The current UTC time in whole seconds, from the scheduler's clock.
boost::posix_time::ptime CurrentUtcSecond();

}  // namespace Zent::Scheduler
