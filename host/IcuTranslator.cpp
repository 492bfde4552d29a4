#include "host/IcuTranslator.h"

#include <memory>
#include <stdexcept>

#include <unicode/locid.h>
#include <unicode/strenum.h>
#include <unicode/timezone.h>
#include <unicode/tzfmt.h>
#include <unicode/tznames.h>
#include <unicode/ucal.h>
#include <unicode/unistr.h>
#include <boost/date_time/posix_time/posix_time_types.hpp>

namespace Zent::Host {

// Fixed text: the error texts in this file reach requesters inside error replies, where
// other programs match them; keep them exactly as they are.

namespace {

using TimeZoneDetails = Common::Kernel::ITranslator::TimeZoneDetails;

void Check(UErrorCode status, const std::string& what) {
    if (U_FAILURE(status)) throw std::runtime_error(what + ": " + u_errorName(status));
}

std::string ToUtf8(const icu::UnicodeString& text) {
    std::string result;
    text.toUTF8String(result);
    return result;
}

icu::Locale ToLocale(const std::string& localeName) {
    if (localeName.empty()) return icu::Locale::getDefault();
    if (localeName.find('-') == std::string::npos) {
        return icu::Locale::createFromName(localeName.c_str());
    }
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(localeName, status);
    Check(status, "Invalid locale name " + localeName);
    return locale;
}

UDate ToUDate(const boost::posix_time::ptime& time) {
    if (time.is_special()) throw std::runtime_error("Time is not a valid date and time");
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    return static_cast<UDate>((time - epoch).total_milliseconds());
}

// Describes zones in one locale at one instant.
class CDescriber {
public:
    CDescriber(const std::string& localeName, const boost::posix_time::ptime& time)
        : date_(ToUDate(time)) {
        const icu::Locale locale = ToLocale(localeName);
        UErrorCode status = U_ZERO_ERROR;
        format_.reset(icu::TimeZoneFormat::createInstance(locale, status));
        names_.reset(icu::TimeZoneNames::createInstance(locale, status));
        databaseNames_.reset(icu::TimeZoneNames::createTZDBInstance(locale, status));
        Check(status, "Cannot create time zone names for locale " + localeName);
    }

    TimeZoneDetails Describe(const std::string& zoneId) const {
        const std::unique_ptr<icu::TimeZone> zone(
            icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(zoneId)));
        icu::UnicodeString createdId;
        if (!zone || zone->getID(createdId) == UNICODE_STRING_SIMPLE(UCAL_UNKNOWN_ZONE_ID)) {
            throw std::runtime_error("Unknown time zone: " + zoneId);
        }

        UErrorCode status = U_ZERO_ERROR;
        std::int32_t rawOffset = 0;
        std::int32_t dstOffset = 0;
        zone->getOffset(date_, false, rawOffset, dstOffset, status);
        Check(status, "Cannot compute the offset of " + zoneId);

        icu::UnicodeString displayName;
        format_->format(UTZFMT_STYLE_SPECIFIC_LONG, *zone, date_, displayName);
        const icu::UnicodeString abbreviation = Abbreviation(*zone, dstOffset != 0);

        TimeZoneDetails details;
        details.set_zone_id(zoneId);
        details.set_display_name(ToUtf8(displayName));
        details.set_standard_offset_seconds(rawOffset / 1000);
        details.set_current_offset_seconds((rawOffset + dstOffset) / 1000);
        details.set_daylight_saving(dstOffset != 0);
        details.set_abbreviation(ToUtf8(abbreviation));
        return details;
    }

private:
    // The locale's short name, else the time-zone database's abbreviation, else the short
    // localized GMT form.
    icu::UnicodeString Abbreviation(const icu::TimeZone& zone, bool daylightSaving) const {
        const UTimeZoneNameType type = daylightSaving ? UTZNM_SHORT_DAYLIGHT : UTZNM_SHORT_STANDARD;
        icu::UnicodeString id;
        icu::UnicodeString canonicalId;
        UErrorCode status = U_ZERO_ERROR;
        icu::TimeZone::getCanonicalID(zone.getID(id), canonicalId, status);
        icu::UnicodeString name;
        if (U_SUCCESS(status)) {
            names_->getDisplayName(canonicalId, type, date_, name);
            if (name.isEmpty()) databaseNames_->getDisplayName(canonicalId, type, date_, name);
        }
        if (name.isEmpty()) format_->format(UTZFMT_STYLE_LOCALIZED_GMT_SHORT, zone, date_, name);
        return name;
    }

    const UDate date_;
    std::unique_ptr<icu::TimeZoneFormat> format_;
    std::unique_ptr<icu::TimeZoneNames> names_;
    std::unique_ptr<icu::TimeZoneNames> databaseNames_;
};

}  // namespace

TimeZoneDetails CIcuTranslator::GetTimeZoneDetails(const std::string& timeZoneId,
                                                   const std::string& localeName,
                                                   const boost::posix_time::ptime& time,
                                                   [[maybe_unused]] bool flag) {
    return CDescriber(localeName, time).Describe(timeZoneId);
}

std::vector<TimeZoneDetails> CIcuTranslator::GetAllTimeZoneDetails(
    const std::string& localeName, const boost::posix_time::ptime& time,
    [[maybe_unused]] bool flag) {
    const CDescriber describer(localeName, time);
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<icu::StringEnumeration> ids(icu::TimeZone::createTimeZoneIDEnumeration(
        UCAL_ZONE_TYPE_CANONICAL_LOCATION, nullptr, nullptr, status));
    Check(status, "Cannot list the time zones");

    std::vector<TimeZoneDetails> all;
    for (const icu::UnicodeString* id = ids->snext(status); U_SUCCESS(status) && id != nullptr;
         id = ids->snext(status)) {
        all.push_back(describer.Describe(ToUtf8(*id)));
    }
    Check(status, "Cannot list the time zones");
    return all;
}

}  // namespace Zent::Host
