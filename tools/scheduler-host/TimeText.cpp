#include "tools/scheduler-host/TimeText.h"

#include <cstdio>
#include <ctime>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Tools::SchedulerHost {

namespace {

std::string Format(int year, int month, int day, int hour, int minute, int second) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour,
                  minute, second);
    return buffer;
}

std::tm BrokenDownUtc(std::chrono::system_clock::time_point time) {
    const std::time_t seconds =
        std::chrono::system_clock::to_time_t(std::chrono::floor<std::chrono::seconds>(time));
    std::tm fields{};
    gmtime_r(&seconds, &fields);
    return fields;
}

}  // namespace

std::optional<std::string> FormatTime(const boost::posix_time::ptime& time) {
    if (time.is_special()) return std::nullopt;
    const auto date = time.date();
    const auto clock = time.time_of_day();
    return Format(date.year(), date.month(), date.day(), static_cast<int>(clock.hours()),
                  static_cast<int>(clock.minutes()), static_cast<int>(clock.seconds()));
}

std::string FormatUtcTime(const Common::DataDefinition::Common::UTCTime& time) {
    return Format(time.year(), time.month(), time.day(), time.hour(), time.minute(), time.second());
}

std::string FormatClock(std::chrono::system_clock::time_point time) {
    const std::tm fields = BrokenDownUtc(time);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                            time - std::chrono::floor<std::chrono::seconds>(time))
                            .count();
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, ".%03d", static_cast<int>(millis));
    return Format(fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
                  fields.tm_min, fields.tm_sec) +
           buffer;
}

std::optional<std::string> FormatIsoTime(const boost::posix_time::ptime& time) {
    std::optional<std::string> text = FormatTime(time);
    if (text) {
        (*text)[10] = 'T';
        *text += 'Z';
    }
    return text;
}

std::string FormatIsoClock(std::chrono::system_clock::time_point time) {
    std::string text = FormatClock(time);
    text[10] = 'T';
    return text + 'Z';
}

Common::DataDefinition::Common::UTCTime ToUtcTime(std::chrono::system_clock::time_point time) {
    const std::tm fields = BrokenDownUtc(time);
    Common::DataDefinition::Common::UTCTime record;
    record.set_year(fields.tm_year + 1900);
    record.set_month(fields.tm_mon + 1);
    record.set_day(fields.tm_mday);
    record.set_hour(fields.tm_hour);
    record.set_minute(fields.tm_min);
    record.set_second(fields.tm_sec);
    return record;
}

}  // namespace Zent::Tools::SchedulerHost
