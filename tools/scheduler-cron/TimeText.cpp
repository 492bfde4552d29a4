#include "TimeText.h"

#include <array>
#include <cstdio>
#include <regex>
#include <stdexcept>

namespace Zent::Tools::Cron {

namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_duration;

std::string Format(ptime t, const char* separator) {
    const boost::gregorian::date day = t.date();
    const time_duration time = t.time_of_day();
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d%s%02d:%02d:%02d", static_cast<int>(day.year()),
                  static_cast<int>(day.month()), static_cast<int>(day.day()), separator,
                  static_cast<int>(time.hours()), static_cast<int>(time.minutes()),
                  static_cast<int>(time.seconds()));
    return text;
}

}  // namespace

std::string FormatTime(ptime t) {
    return Format(t, " ");
}

std::string WeekdayAbbreviation(ptime t) {
    constexpr std::array<const char*, 7> kNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    return kNames[t.date().day_of_week().as_number()];
}

std::string FormatZoned(const Occurrence& occurrence) {
    return FormatTime(occurrence.local) + ' ' + WeekdayAbbreviation(occurrence.local) + ' ' +
           FormatOffset(occurrence.offset);
}

std::string JsonTime(const Occurrence& occurrence, const Zone& zone) {
    static const ptime epoch(boost::gregorian::date(1970, 1, 1));
    return "{\"time\":\"" + Format(occurrence.local, "T") +
           (zone.IsUtc() ? std::string("Z") : FormatOffset(occurrence.offset)) +
           "\",\"epoch\":" + std::to_string((occurrence.utc - epoch).total_seconds()) +
           ",\"weekday\":\"" + WeekdayAbbreviation(occurrence.local) + "\"}";
}

std::optional<TimeArgument> ParseTimeArgument(const std::string& text, ptime now) {
    if (text == "now") {
        return TimeArgument{now, true};
    }
    static const std::regex pattern(
        R"((\d{4})-(\d{2})-(\d{2})(?:[T ](\d{2}):(\d{2})(?::(\d{2})(?:\.(\d{1,6}))?)?)"
        R"((Z|([+-])(\d{2})(?::?(\d{2}))?)?)?)");
    std::smatch match;
    if (!std::regex_match(text, match, pattern)) {
        return std::nullopt;
    }
    const auto number = [&match](std::size_t group) {
        return match[group].matched ? std::stoi(match.str(group)) : 0;
    };
    if (number(4) > 23 || number(5) > 59 || number(6) > 59 || number(10) > 23 || number(11) > 59) {
        return std::nullopt;
    }
    std::string fraction = match.str(7);
    fraction.resize(6, '0');
    try {
        const boost::gregorian::date day(number(1), number(2), number(3));
        TimeArgument argument{
            ptime(day, boost::posix_time::hours(number(4)) + boost::posix_time::minutes(number(5)) +
                           boost::posix_time::seconds(number(6)) +
                           boost::posix_time::microseconds(std::stoi(fraction))),
            match[8].matched};
        if (match[9].matched) {
            const time_duration offset =
                boost::posix_time::hours(number(10)) + boost::posix_time::minutes(number(11));
            argument.time += match.str(9) == "-" ? offset : -offset;
        }
        return argument;
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

}  // namespace Zent::Tools::Cron
