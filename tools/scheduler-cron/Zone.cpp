#include "Zone.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include "Scheduler/crontab/CronRangeFinder.h"

namespace Zent::Tools::Cron {

namespace {

using boost::posix_time::ptime;
using boost::posix_time::time_duration;

// Offsets change at most a few hours around a wall time; looking half a day either side
// finds the offsets before and after any change that could touch it.
const time_duration kOffsetSearch = boost::posix_time::hours(14);

double ToUDate(ptime utc) {
    static const ptime epoch(boost::gregorian::date(1970, 1, 1));
    return static_cast<double>((utc - epoch).total_milliseconds());
}

}  // namespace

Zone Zone::Utc() {
    return Zone("UTC", true, [](ptime) { return time_duration(0, 0, 0); });
}

Zone Zone::Named(const std::string& name) {
    std::shared_ptr<const icu::TimeZone> zone(
        icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(name)));
    icu::UnicodeString id;
    if (!zone || zone->getID(id) == icu::UnicodeString(UCAL_UNKNOWN_ZONE_ID)) {
        throw std::invalid_argument("unknown time zone '" + name + "'");
    }
    return Zone(name, false, [zone](ptime utc) {
        std::int32_t raw = 0;
        std::int32_t dst = 0;
        UErrorCode status = U_ZERO_ERROR;
        zone->getOffset(ToUDate(utc), false, raw, dst, status);
        if (U_FAILURE(status)) {
            throw std::runtime_error(std::string("time zone offset: ") + u_errorName(status));
        }
        return boost::posix_time::milliseconds(raw + dst);
    });
}

Zone Zone::Process() {
    const char* tz = std::getenv("TZ");
    return Zone(tz && *tz ? tz : "local", false, &Scheduler::CCronRangeFinder::ProcessUtcOffset);
}

std::vector<ptime> Zone::Instants(ptime local) const {
    std::vector<ptime> instants;
    for (const time_duration& around : {-kOffsetSearch, time_duration(0, 0, 0), kOffsetSearch}) {
        const time_duration offset = offset_(local + around);
        const ptime utc = local - offset;
        if (offset_(utc) == offset &&
            std::find(instants.begin(), instants.end(), utc) == instants.end()) {
            instants.push_back(utc);
        }
    }
    std::sort(instants.begin(), instants.end());
    return instants;
}

ptime Zone::ToUtc(ptime local) const {
    const std::vector<ptime> instants = Instants(local);
    return instants.empty() ? local - offset_(local - kOffsetSearch) : instants.front();
}

std::string FormatOffset(time_duration offset) {
    const char sign = offset.is_negative() ? '-' : '+';
    // Offsets stay within a day, so the hours take two digits.
    const int minutes = static_cast<int>(std::labs(offset.total_seconds()) / 60 % (24 * 60));
    char text[16];
    std::snprintf(text, sizeof text, "%c%02d:%02d", sign, minutes / 60, minutes % 60);
    return text;
}

}  // namespace Zent::Tools::Cron
