#include "host/IcuTranslator.h"

#include <algorithm>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

#include "host/TranslatorResource.h"

namespace Zent::HostTests {
namespace {

using boost::gregorian::date;
using boost::posix_time::hours;
using boost::posix_time::ptime;
using Host::CIcuTranslator;

const ptime kWinter(date(2026, 1, 15), hours(12));
const ptime kSummer(date(2026, 7, 15), hours(12));

TEST(IcuTranslatorTest, BerlinInWinterIsOnStandardTime) {
    CIcuTranslator translator;
    const auto details = translator.GetTimeZoneDetails("Europe/Berlin", "en", kWinter, false);
    EXPECT_EQ(details.zone_id(), "Europe/Berlin");
    EXPECT_EQ(details.standard_offset_seconds(), 3600);
    EXPECT_EQ(details.current_offset_seconds(), 3600);
    EXPECT_FALSE(details.daylight_saving());
    EXPECT_EQ(details.abbreviation(), "CET");
    EXPECT_EQ(details.display_name(), "Central European Standard Time");
}

TEST(IcuTranslatorTest, BerlinInSummerIsOnDaylightSavingTime) {
    CIcuTranslator translator;
    const auto details = translator.GetTimeZoneDetails("Europe/Berlin", "en", kSummer, true);
    EXPECT_EQ(details.standard_offset_seconds(), 3600);
    EXPECT_EQ(details.current_offset_seconds(), 7200);
    EXPECT_TRUE(details.daylight_saving());
    EXPECT_EQ(details.abbreviation(), "CEST");
    EXPECT_EQ(details.display_name(), "Central European Summer Time");
}

TEST(IcuTranslatorTest, TheChangeHappensAtTheInstantGiven) {
    CIcuTranslator translator;
    // 2026-03-29 01:00 UTC: Central Europe moves to summer time.
    const ptime change(date(2026, 3, 29), hours(1));
    EXPECT_FALSE(translator
                     .GetTimeZoneDetails("Europe/Berlin", "en",
                                         change - boost::posix_time::seconds(1), false)
                     .daylight_saving());
    EXPECT_TRUE(
        translator.GetTimeZoneDetails("Europe/Berlin", "en", change, false).daylight_saving());
}

TEST(IcuTranslatorTest, NamesFollowTheLocale) {
    CIcuTranslator translator;
    const auto english = translator.GetTimeZoneDetails("Europe/Berlin", "en_US", kWinter, false);
    const auto german = translator.GetTimeZoneDetails("Europe/Berlin", "de_DE", kWinter, false);
    EXPECT_NE(english.display_name(), german.display_name());
    EXPECT_EQ(german.display_name(), "Mitteleuropäische Normalzeit");
    EXPECT_EQ(german.abbreviation(), "MEZ");
    EXPECT_EQ(
        translator.GetTimeZoneDetails("Europe/Berlin", "de-DE", kWinter, false).display_name(),
        german.display_name());
}

TEST(IcuTranslatorTest, OffsetsWestOfUtcAndInTheSouthernSummer) {
    CIcuTranslator translator;
    const auto newYork = translator.GetTimeZoneDetails("America/New_York", "en", kSummer, false);
    EXPECT_EQ(newYork.standard_offset_seconds(), -18000);
    EXPECT_EQ(newYork.current_offset_seconds(), -14400);
    EXPECT_EQ(newYork.abbreviation(), "EDT");

    const auto sydney = translator.GetTimeZoneDetails("Australia/Sydney", "en", kWinter, false);
    EXPECT_EQ(sydney.standard_offset_seconds(), 36000);
    EXPECT_EQ(sydney.current_offset_seconds(), 39600);
    EXPECT_TRUE(sydney.daylight_saving());

    const auto kathmandu = translator.GetTimeZoneDetails("Asia/Kathmandu", "en", kWinter, false);
    EXPECT_EQ(kathmandu.current_offset_seconds(), 20700);
    EXPECT_FALSE(kathmandu.display_name().empty());
}

TEST(IcuTranslatorTest, AbbreviationFallsBackToTheDatabaseThenToGmt) {
    CIcuTranslator translator;
    EXPECT_EQ(translator.GetTimeZoneDetails("Europe/Berlin", "de", kSummer, false).abbreviation(),
              "MESZ");
    EXPECT_EQ(translator.GetTimeZoneDetails("Asia/Tokyo", "en", kSummer, false).abbreviation(),
              "JST");
    const auto custom = translator.GetTimeZoneDetails("GMT+05:00", "en", kSummer, false);
    EXPECT_EQ(custom.abbreviation(), "GMT+5");
    EXPECT_EQ(custom.current_offset_seconds(), 18000);
}

TEST(IcuTranslatorTest, UnknownZoneAndInvalidTimeThrow) {
    CIcuTranslator translator;
    try {
        translator.GetTimeZoneDetails("Mars/Olympus_Mons", "en", kWinter, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unknown time zone: Mars/Olympus_Mons");
    }
    EXPECT_THROW(translator.GetTimeZoneDetails("", "en", kWinter, false), std::runtime_error);
    EXPECT_THROW(translator.GetTimeZoneDetails("Europe/Berlin", "en", ptime(), false),
                 std::runtime_error);
}

TEST(IcuTranslatorTest, AllZonesAreCanonicalUniqueAndDescribedLikeOne) {
    CIcuTranslator translator;
    const auto all = translator.GetAllTimeZoneDetails("de", kSummer, true);
    ASSERT_GT(all.size(), 300u);

    std::set<std::string> ids;
    for (const auto& details : all)
        EXPECT_TRUE(ids.insert(details.zone_id()).second);
    EXPECT_FALSE(ids.contains("Etc/Unknown"));
    EXPECT_FALSE(ids.contains("US/Eastern"));  // an alias of America/New_York
    EXPECT_FALSE(ids.contains("Etc/GMT+5"));   // no location
    EXPECT_TRUE(ids.contains("America/New_York"));

    const auto berlin = std::find_if(all.begin(), all.end(), [](const auto& details) {
        return details.zone_id() == "Europe/Berlin";
    });
    ASSERT_NE(berlin, all.end());
    const auto single = translator.GetTimeZoneDetails("Europe/Berlin", "de", kSummer, true);
    EXPECT_EQ(berlin->SerializeAsString(), single.SerializeAsString());
}

TEST(TranslatorResourceTest, HandsOutOneTranslatorAndIcuByDefault) {
    Host::CTranslatorResource resource;
    const auto translator = resource.GetTranslator();
    ASSERT_NE(std::dynamic_pointer_cast<CIcuTranslator>(translator), nullptr);
    EXPECT_EQ(resource.GetTranslator(), translator);

    const auto given = std::make_shared<CIcuTranslator>();
    EXPECT_EQ(Host::CTranslatorResource(given).GetTranslator(), given);
}

}  // namespace
}  // namespace Zent::HostTests
