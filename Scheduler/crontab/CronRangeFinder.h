#pragma once

// The earliest time range, among several crontab definitions, that has not yet ended.
//
// Each definition is a crontab text, a duration and whether the text is meant in UTC or
// in local time. Every occurrence of a definition opens a range of that duration.
//
//     CCronRangeFinder finder;
//     finder.AddDefinition({true, "0 0 8 ? * mon-fri", boost::posix_time::hours(1)});
//     auto range = finder.FindNextRange(boost::posix_time::time_from_string(
//         "2030-01-07 08:30:00"));   // Monday: (2030-01-07 08:00:00, 2030-01-07 09:00:00)
//
// Local definitions follow the process's time zone (TZ), read once per query. Texts are
// compiled through a CCronTabCache, by default one that every finder of the process shares,
// so that a query repeated with the same texts parses nothing. A finder is used by one
// thread at a time.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Scheduler {

class CCronTabCache;

class CCronRangeFinder {
public:
    struct RangeDefinition {
        bool utc = true;  // false: the text is meant in local time
        std::string text;
        boost::posix_time::time_duration duration;
    };

    // Local time minus UTC at a UTC instant, in whole seconds.
    using UtcOffsetSource =
        std::function<boost::posix_time::time_duration(boost::posix_time::ptime)>;

    // Reads the offset of the process's time zone.
    CCronRangeFinder();
    // Reads the offset from `offset` instead (tests pin a zone this way).
    explicit CCronRangeFinder(UtcOffsetSource offset);
    // Compiles the texts through `cache` (not null) instead of the shared one.
    CCronRangeFinder(UtcOffsetSource offset, std::shared_ptr<CCronTabCache> cache);
    virtual ~CCronRangeFinder();

    void AddDefinition(RangeDefinition definition);

    // The range (start, end), both UTC, with the earliest start among the definitions'
    // first ranges that end after `now` (UTC); among equal starts the earlier definition
    // wins. A range that began before `now` and has not ended counts. Empty when no
    // definition has such a range. Raises the CCrontabValidationException of the first
    // definition whose text does not parse.
    std::optional<std::pair<boost::posix_time::ptime, boost::posix_time::ptime>> FindNextRange(
        boost::posix_time::ptime now) const;

    // The offset of the process's time zone at a UTC instant (C runtime, whole seconds).
    static boost::posix_time::time_duration ProcessUtcOffset(boost::posix_time::ptime utc);

private:
    UtcOffsetSource offset_;
    std::shared_ptr<CCronTabCache> cache_;
    std::vector<RangeDefinition> definitions_;
};

}  // namespace Zent::Scheduler
