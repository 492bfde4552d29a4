#include "Scheduler/timescheduler/TimeConversions.h"

#include <cstdint>
#include <cstdlib>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/Clock.h"

namespace Zent::Scheduler {

using Common::DataDefinition::Common::UTCTime;

boost::posix_time::ptime ToTimePoint(const UTCTime& time) {
    const boost::gregorian::date date(static_cast<std::uint16_t>(time.year()),
                                      static_cast<std::uint16_t>(time.month()),
                                      static_cast<std::uint16_t>(time.day()));
    const std::int64_t magnitude =
        (std::llabs(time.hour()) * 60 + std::llabs(time.minute())) * 60 + std::llabs(time.second());
    const bool negative = time.hour() < 0 || time.minute() < 0 || time.second() < 0;
    const std::int64_t seconds = negative ? -magnitude : magnitude;
    // The time of day may carry the result out of the years the date library knows.
    static const boost::posix_time::ptime first(boost::gregorian::date(1400, 1, 1));
    static const boost::posix_time::ptime end(boost::gregorian::date(9999, 12, 31),
                                              boost::posix_time::hours(24));
    const boost::posix_time::ptime midnight(date);
    if (seconds < (first - midnight).total_seconds() ||
        seconds >= (end - midnight).total_seconds()) {
        throw boost::gregorian::bad_year();
    }
    return midnight + boost::posix_time::seconds(seconds);
}

UTCTime ToUtcTime(const boost::posix_time::ptime& time) {
    UTCTime record;
    const auto ymd = time.date().year_month_day();
    const boost::posix_time::time_duration day = time.time_of_day();
    record.set_day(ymd.day);
    record.set_month(ymd.month);
    record.set_year(ymd.year);
    record.set_hour(static_cast<std::int32_t>(day.hours()));
    record.set_minute(static_cast<std::int32_t>(day.minutes()));
    record.set_second(static_cast<std::int32_t>(day.seconds()));
    return record;
}

boost::posix_time::ptime CurrentUtcSecond() {
    const boost::posix_time::ptime now = CurrentClock()->UniversalTime();
    return boost::posix_time::ptime(now.date(),
                                    boost::posix_time::seconds(now.time_of_day().total_seconds()));
}

}  // namespace Zent::Scheduler
