#pragma once

// Time-zone descriptions from the ICU time-zone data, named in the requested locale.
//
//     CIcuTranslator translator;
//     auto berlin = translator.GetTimeZoneDetails("Europe/Berlin", "de_DE", noonUtc, false);
//     // zone_id "Europe/Berlin", display_name "Mitteleuropäische Normalzeit",
//     // standard_offset_seconds 3600, current_offset_seconds 3600, daylight_saving false,
//     // abbreviation "MEZ"
//
// What a record holds, for the zone as it is at the given UTC instant:
// - zone_id: the id asked for; GetAllTimeZoneDetails lists ICU's canonical location ids,
//   which keep the older name where the time-zone database renamed a zone ("Asia/Calcutta",
//   not its alias "Asia/Kolkata"), and leaves out aliases ("US/Eastern") and the
//   non-location zones ("Etc/GMT+5", "UTC");
// - display_name: the long specific name in force at that instant, so it changes with
//   daylight saving time ("Central European Standard Time" / "Central European Summer
//   Time"); where the locale has no such name, the localized GMT form ("GMT+05:00");
// - standard_offset_seconds: the zone's raw offset from UTC at that instant;
// - current_offset_seconds: raw offset plus the daylight saving offset at that instant;
// - daylight_saving: whether daylight saving time is in force at that instant;
// - abbreviation: the short specific name in that locale ("MEZ" / "MESZ" in German,
//   "EST" / "EDT" in English), else the time-zone database's abbreviation ("CET" / "CEST"
//   for Europe/Berlin in English, "JST"), else the short localized GMT form ("GMT+5" for the
//   custom zone "GMT+05:00").
// The locale name may be given as "de_DE" or "de-DE"; an empty name means the process's
// default locale, and a locale ICU has no names for falls back as ICU does (to the
// default locale's names, then the root names). The flag carries no meaning for this
// translator and is ignored.
//
// Stateless and thread-safe.

#include "common/kernel/ITranslatorResource.h"

namespace Zent::Host {

class CIcuTranslator : public Common::Kernel::ITranslator {
public:
    // Throws std::runtime_error "Unknown time zone: <id>" for a zone ICU does not know, and
    // std::runtime_error for a `time` that is not a date and time.
    TimeZoneDetails GetTimeZoneDetails(const std::string& timeZoneId, const std::string& localeName,
                                       const boost::posix_time::ptime& time, bool flag) override;
    // One record per canonical location zone, ordered by zone id.
    std::vector<TimeZoneDetails> GetAllTimeZoneDetails(const std::string& localeName,
                                                       const boost::posix_time::ptime& time,
                                                       bool flag) override;
};

}  // namespace Zent::Host
