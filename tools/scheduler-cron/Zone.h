#pragma once

// The time zone in which scheduler-cron reads a crontab text and shows its times.
//
// A zone is known by its offset from UTC at each UTC instant; wall times are converted
// back by trying the offsets in force around them, so a wall time that a change of
// offset skips has no instant and one that it repeats has two.
//
//     const Zone berlin = Zone::Named("Europe/Berlin");
//     berlin.Instants(wallTime);   // empty inside the spring gap, two in the autumn hour

#include <functional>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Tools::Cron {

class Zone {
public:
    // Local time minus UTC at a UTC instant.
    using OffsetSource =
        std::function<boost::posix_time::time_duration(boost::posix_time::ptime utc)>;

    // UTC itself: offset zero, shown as `Z` in ISO 8601 times.
    static Zone Utc();
    // An IANA zone (`Europe/Berlin`) from ICU's time-zone data. Raises std::invalid_argument
    // "unknown time zone 'NAME'" for a name ICU does not know.
    static Zone Named(const std::string& name);
    // The zone of the process, as the TZ environment variable (or the system) sets it.
    static Zone Process();

    const std::string& Name() const { return name_; }
    bool IsUtc() const { return utc_; }
    const OffsetSource& Offsets() const { return offset_; }

    boost::posix_time::time_duration OffsetAt(boost::posix_time::ptime utc) const {
        return offset_(utc);
    }
    boost::posix_time::ptime ToLocal(boost::posix_time::ptime utc) const {
        return utc + offset_(utc);
    }
    // Every UTC instant whose local wall time is `local`, earliest first: none for a wall
    // time skipped by a change of offset, two for one repeated by it.
    std::vector<boost::posix_time::ptime> Instants(boost::posix_time::ptime local) const;
    // The earliest instant of `local`; inside a gap, the instant the offset before the
    // gap would give (so a skipped wall time still names a moment).
    boost::posix_time::ptime ToUtc(boost::posix_time::ptime local) const;

private:
    Zone(std::string name, bool utc, OffsetSource offset)
        : name_(std::move(name)), utc_(utc), offset_(std::move(offset)) {}

    std::string name_;
    bool utc_;
    OffsetSource offset_;
};

// `+02:00`, `-09:30`, `+00:00`.
std::string FormatOffset(boost::posix_time::time_duration offset);

}  // namespace Zent::Tools::Cron
