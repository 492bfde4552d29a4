#include "ZonedSearch.h"

#include <algorithm>

#include "Scheduler/crontab/CrontabScheduler.h"

namespace Zent::Tools::Cron {

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;
using boost::posix_time::time_duration;

ptime WholeSeconds(ptime t) {
    return ptime(t.date(), seconds(t.time_of_day().total_seconds()));
}

}  // namespace

ZonedSearch::ZonedSearch(std::shared_ptr<const Scheduler::CCronTab> tab, Zone zone)
    : tab_(std::move(tab)), zone_(std::move(zone)) {}

std::optional<Occurrence> ZonedSearch::Place(ptime local) const {
    const std::vector<ptime> instants = zone_.Instants(local);
    if (instants.empty()) {
        return std::nullopt;
    }
    return Occurrence{instants.front(), local, local - instants.front()};
}

void ZonedSearch::Next(ptime from, unsigned count, const Visitor& visit) const {
    from = WholeSeconds(from);
    std::optional<ptime> previous;
    // Wall times before the local time of `from` only come round again as the repeat of
    // an hour that already fired, so the walk starts there.
    ptime cursor = zone_.ToLocal(from);
    while (count > 0) {
        const ptime match = Scheduler::FindNext(*tab_, cursor);
        if (match.is_not_a_date_time()) {
            break;
        }
        const std::optional<Occurrence> occurrence = Place(match);
        if (occurrence && occurrence->utc >= from && (!previous || occurrence->utc > *previous)) {
            visit(*occurrence);
            previous = occurrence->utc;
            --count;
        }
        cursor = match + seconds(1);
    }
}

void ZonedSearch::Previous(ptime from, unsigned count, const Visitor& visit) const {
    from = WholeSeconds(from);
    std::optional<ptime> previous;
    // After the clocks went back, wall times later than the local time of `from` have
    // already fired once; start from the latest wall time the zone may have shown.
    const time_duration lookBack = boost::posix_time::hours(14);
    ptime cursor = from + std::max(zone_.OffsetAt(from), zone_.OffsetAt(from - lookBack));
    while (count > 0) {
        const ptime match = Scheduler::FindPrevious(*tab_, cursor);
        if (match.is_not_a_date_time()) {
            break;
        }
        const std::optional<Occurrence> occurrence = Place(match);
        if (occurrence && occurrence->utc <= from && (!previous || occurrence->utc < *previous)) {
            visit(*occurrence);
            previous = occurrence->utc;
            --count;
        }
        cursor = match - seconds(1);
    }
}

std::optional<Occurrence> ZonedSearch::Latest() const {
    ptime cursor = Scheduler::LatestSupportedInstant();
    for (;;) {
        const ptime match = Scheduler::FindPrevious(*tab_, cursor);
        if (match.is_not_a_date_time()) {
            return std::nullopt;
        }
        if (std::optional<Occurrence> occurrence = Place(match)) {
            return occurrence;
        }
        cursor = match - seconds(1);
    }
}

bool ZonedSearch::FiresBetween(ptime localBegin, ptime localEnd) const {
    for (ptime cursor = localBegin;;) {
        const ptime match = Scheduler::FindNext(*tab_, cursor);
        if (match.is_not_a_date_time() || match >= localEnd) {
            return false;
        }
        if (Place(match)) {
            return true;
        }
        cursor = match + seconds(1);
    }
}

}  // namespace Zent::Tools::Cron
