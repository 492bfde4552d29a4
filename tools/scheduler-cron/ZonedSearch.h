#pragma once

// The occurrences of a crontab text read in a time zone.
//
// The engine searches wall times; each match is then placed on the time line by the
// zone's rules for its own date. A wall time that a change of offset skips never fires,
// and one that it repeats fires once, at its earlier instant (the later one is the same
// wall time coming round again).
//
//     ZonedSearch search(tab, Zone::Named("Europe/Berlin"));
//     search.Next(from, 5);   // up to five occurrences at or after `from` (UTC)

#include <functional>
#include <memory>
#include <optional>

#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "Scheduler/crontab/CronTab.h"
#include "Zone.h"

namespace Zent::Tools::Cron {

// One firing: its instant and the wall time and offset it shows in the zone.
struct Occurrence {
    boost::posix_time::ptime utc;
    boost::posix_time::ptime local;
    boost::posix_time::time_duration offset;
};

class ZonedSearch {
public:
    ZonedSearch(std::shared_ptr<const Scheduler::CCronTab> tab, Zone zone);

    // Hands at most `count` occurrences at or after the UTC instant `from` (its fraction of
    // a second dropped) to `visit`, earliest first; fewer when the matches run out before
    // 2100. Nothing is collected, so a large count costs no memory.
    using Visitor = std::function<void(const Occurrence&)>;
    void Next(boost::posix_time::ptime from, unsigned count, const Visitor& visit) const;
    // The same backwards: occurrences at or before `from`, latest first, back to 1970.
    void Previous(boost::posix_time::ptime from, unsigned count, const Visitor& visit) const;
    // The latest occurrence up to the end of 2099, if any. Callers ask only for texts with
    // a bounded year field; for others it is merely the last one before 2100.
    std::optional<Occurrence> Latest() const;
    // Whether the text fires at a wall time in [localBegin, localEnd).
    bool FiresBetween(boost::posix_time::ptime localBegin, boost::posix_time::ptime localEnd) const;

private:
    // The occurrence of the wall time `local`, or empty when the zone skips it.
    std::optional<Occurrence> Place(boost::posix_time::ptime local) const;

    std::shared_ptr<const Scheduler::CCronTab> tab_;
    Zone zone_;
};

}  // namespace Zent::Tools::Cron
