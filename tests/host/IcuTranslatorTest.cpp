#include "host/IcuTranslator.h"

#include <stdexcept>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace Zent::HostTests {
namespace {

using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::ptime;
using Host::CIcuTranslator;

const ptime kWinter(date(2026, 1, 15), hours(12));
const ptime kSummer(date(2026, 7, 15), hours(12));
const ptime kToSummerTime(date(2026, 3, 29), hours(1));  // in Central Europe

TEST(IcuTranslatorTest, DescribesAZoneAtTheInstantGivenInTheLocaleGiven) {
    struct Case {
        const char* zone;
        const char* locale;
        ptime at;
        std::string described;  // offsets, daylight saving, abbreviation, display name
    };
    const Case cases[] = {
        {"Europe/Berlin", "en", kToSummerTime - boost::posix_time::seconds(1),
         "3600 3600 CET Central European Standard Time"},
        {"Europe/Berlin", "en", kToSummerTime, "3600 7200 DST CEST Central European Summer Time"},
        // A locale by language tag; no short name in the locale: the zone database's, else
        // the GMT form.
        {"Europe/Berlin", "de-DE", kWinter, "3600 3600 MEZ Mitteleuropäische Normalzeit"},
        {"Asia/Tokyo", "en", kSummer, "32400 32400 JST Japan Standard Time"},
        {"GMT-03:30", "en", kSummer, "-12600 -12600 GMT-3:30 GMT-03:30"},
    };
    CIcuTranslator translator;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + c.locale + " " + to_simple_string(c.at));
        const auto details = translator.GetTimeZoneDetails(c.zone, c.locale, c.at, false);
        EXPECT_EQ(std::to_string(details.standard_offset_seconds()) + " " +
                      std::to_string(details.current_offset_seconds()) +
                      (details.daylight_saving() ? " DST " : " ") + details.abbreviation() + " " +
                      details.display_name(),
                  c.described);
    }
}

TEST(IcuTranslatorTest, UnknownZoneAndInvalidTimeThrow) {
    CIcuTranslator translator;
    EXPECT_THROW(translator.GetTimeZoneDetails("Mars/Olympus_Mons", "en", kWinter, false),
                 std::runtime_error);
    EXPECT_THROW(translator.GetTimeZoneDetails("Europe/Berlin", "en", ptime(), false),
                 std::runtime_error);
}

}  // namespace
}  // namespace Zent::HostTests
