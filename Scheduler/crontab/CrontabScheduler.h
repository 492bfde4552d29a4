#pragma once

// What the time scheduler asks of one crontab: the next occurrence strictly after a time
// within a limit, the last occurrence at or before a time, and the very last occurrence of
// a crontab whose years are bounded.
//
//     CCrontabParser parser;
//     CCrontabScheduler hourly(parser.Parse("0 0 * * * ?"));
//     auto t = boost::posix_time::time_from_string("2030-01-01 10:00:00");
//     hourly.NextOccurrence(t, LatestSupportedInstant());   // 2030-01-01 11:00:00
//     hourly.LastOccurrence();                              // empty: any year
//
// Read-only after construction; may be shared between threads.

#include <cstdint>
#include <memory>
#include <optional>

#include <boost/date_time/posix_time/ptime.hpp>

#include "CronTab.h"

namespace Zent::Scheduler {

// 2099-12-31 23:59:59.999, the upper limit of every crontab search.
const boost::posix_time::ptime& LatestSupportedInstant();

class CCrontabScheduler {
public:
    explicit CCrontabScheduler(std::shared_ptr<const CCronTab> crontab);
    virtual ~CCrontabScheduler() = default;

    const std::shared_ptr<const CCronTab>& GetCronTab() const { return crontab_; }

    // The first matching second strictly after `from` (exactly one second is added, then
    // FindNext), or not-a-date-time when there is none or it is later than `until`. A
    // special `from` gives not-a-date-time.
    boost::posix_time::ptime NextOccurrence(boost::posix_time::ptime from,
                                            boost::posix_time::ptime until) const;

    // What n NextOccurrence steps would find, each from the match before: the n-th match
    // strictly after `from` and at most `until`; with fewer matches, the last of them and
    // how many there are (FindNth). Counts by months and days, so any n is cheap.
    CountedMatches NthOccurrence(boost::posix_time::ptime from, boost::posix_time::ptime until,
                                 std::uint64_t n) const;

    // The last matching second at or before t (FindPrevious), whatever the year field
    // holds; not-a-date-time when there is none.
    boost::posix_time::ptime LastOccurrenceAtOrBefore(boost::posix_time::ptime t) const;

    // The last occurrence of all: empty when the year field is open-ended (it held `*` or
    // `*/n`, as every six-field crontab does) or when nothing ever matches.
    std::optional<boost::posix_time::ptime> LastOccurrence() const;

private:
    std::shared_ptr<const CCronTab> crontab_;
};

}  // namespace Zent::Scheduler
