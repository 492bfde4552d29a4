#include "CrontabScheduler.h"

#include <boost/date_time/posix_time/posix_time.hpp>

namespace Zent::Scheduler {

const boost::posix_time::ptime& LatestSupportedInstant() {
    static const boost::posix_time::ptime latest =
        boost::posix_time::time_from_string("2099-12-31 23:59:59.999");
    return latest;
}

CCrontabScheduler::CCrontabScheduler(std::shared_ptr<const CCronTab> crontab)
    : crontab_(std::move(crontab)) {}

boost::posix_time::ptime CCrontabScheduler::NextOccurrence(boost::posix_time::ptime from,
                                                           boost::posix_time::ptime until) const {
    const boost::posix_time::ptime next = FindNext(*crontab_, from + boost::posix_time::seconds(1));
    if (next.is_not_a_date_time() || next <= until) return next;
    return {};
}

CountedMatches CCrontabScheduler::NthOccurrence(boost::posix_time::ptime from,
                                                boost::posix_time::ptime until,
                                                std::uint64_t n) const {
    return FindNth(*crontab_, from, until, n);
}

boost::posix_time::ptime CCrontabScheduler::LastOccurrenceAtOrBefore(
    boost::posix_time::ptime t) const {
    return FindPrevious(*crontab_, t);
}

std::optional<boost::posix_time::ptime> CCrontabScheduler::LastOccurrence() const {
    if (crontab_->Year().IsOpenEnded()) return std::nullopt;
    const boost::posix_time::ptime last = FindPrevious(*crontab_, LatestSupportedInstant());
    if (last.is_not_a_date_time()) return std::nullopt;
    return last;
}

}  // namespace Zent::Scheduler
