// libFuzzer target for the UTCTime conversions: the first 24 bytes of the input are six
// native 32-bit integers (year, month, day, hour, minute, second; missing bytes read as 0)
// that become a UTCTime record. ToTimePoint either gives a time point whose record
// converts back to that very second, or raises one of the date library's four range
// errors; anything else aborts with a description.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/timescheduler/TimeConversions.h"

namespace {

using boost::posix_time::ptime;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Scheduler::ToTimePoint;
using Zent::Scheduler::ToUtcTime;

constexpr std::array<std::string_view, 4> kRangeErrors = {
    "Day of month value is out of range 1..31",
    "Month number is out of range 1..12",
    "Year is out of valid range: 1400..9999",
    "Day of month is not valid for year",
};

UTCTime RecordOf(const std::uint8_t* data, std::size_t size) {
    std::array<std::int32_t, 6> fields{};
    std::memcpy(fields.data(), data, std::min(size, sizeof fields));
    UTCTime record;
    record.set_year(fields[0]);
    record.set_month(fields[1]);
    record.set_day(fields[2]);
    record.set_hour(fields[3]);
    record.set_minute(fields[4]);
    record.set_second(fields[5]);
    return record;
}

std::ostream& operator<<(std::ostream& out, const UTCTime& record) {
    return out << "{year " << record.year() << ", month " << record.month() << ", day "
               << record.day() << ", hour " << record.hour() << ", minute " << record.minute()
               << ", second " << record.second() << "}";
}

[[noreturn]] void Fail(const char* what, const UTCTime& record, std::string_view detail) {
    std::cerr << "UTCTime conversion broken: " << what << "\n  record: " << record
              << "\n  detail: " << detail << std::endl;
    std::abort();
}

// A time point as text with its distance from 1970 in seconds, which stays right where
// the date library's calendar ends.
std::string Describe(ptime time) {
    const ptime epoch(boost::gregorian::date(1970, 1, 1));
    const std::string offset =
        std::to_string((time - epoch).total_seconds()) + " s after 1970-01-01 00:00:00";
    try {
        return boost::posix_time::to_simple_string(time) + " (" + offset + ")";
    } catch (const std::out_of_range&) {
        return offset;
    }
}

bool IsRangeError(const std::exception& error) {
    const std::string_view text = error.what();
    for (const std::string_view expected : kRangeErrors) {
        if (text == expected) return true;
    }
    return false;
}

// The record of `time` is a valid date and time of day that converts back to `time`.
void CheckRoundTrip(const UTCTime& record, ptime time) {
    const ptime whole =
        time - boost::posix_time::microseconds(time.time_of_day().fractional_seconds());
    UTCTime back;
    try {
        back = ToUtcTime(time);
    } catch (const std::exception& error) {
        Fail("ToUtcTime of a converted time point threw", record,
             Describe(time) + ": " + error.what());
    }
    if (back.hour() < 0 || back.hour() > 23 || back.minute() < 0 || back.minute() > 59 ||
        back.second() < 0 || back.second() > 59) {
        std::ostringstream detail;
        detail << back;
        Fail("ToUtcTime gave a time of day out of range", record, detail.str());
    }
    ptime again;
    try {
        again = ToTimePoint(back);
    } catch (const std::exception& error) {
        std::ostringstream detail;
        detail << back << ": " << error.what();
        Fail("the record of a converted time point does not convert", record, detail.str());
    }
    if (again != whole) {
        std::ostringstream detail;
        detail << "first " << Describe(time) << ", record " << back << ", then " << Describe(again);
        Fail("the round trip moved the time point", record, detail.str());
    }
}

// A record whose time of day is in its usual ranges comes back field for field, year,
// month and day reduced modulo 65536.
void CheckPlainRecord(const UTCTime& record, ptime time) {
    if (record.hour() < 0 || record.hour() > 23 || record.minute() < 0 || record.minute() > 59 ||
        record.second() < 0 || record.second() > 59) {
        return;
    }
    const UTCTime back = ToUtcTime(time);
    if (back.year() != static_cast<std::uint16_t>(record.year()) ||
        back.month() != static_cast<std::uint16_t>(record.month()) ||
        back.day() != static_cast<std::uint16_t>(record.day()) || back.hour() != record.hour() ||
        back.minute() != record.minute() || back.second() != record.second()) {
        std::ostringstream detail;
        detail << back;
        Fail("a plain record did not come back as it was", record, detail.str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const UTCTime record = RecordOf(data, size);
    ptime time;
    try {
        time = ToTimePoint(record);
    } catch (const std::out_of_range& error) {
        if (!IsRangeError(error))
            Fail("ToTimePoint raised an unknown range error", record, error.what());
        return 0;
    } catch (const std::exception& error) {
        Fail("ToTimePoint raised something other than a range error", record, error.what());
    }
    if (time.is_special()) {
        Fail("ToTimePoint gave a special time point", record, Describe(time));
    }
    CheckRoundTrip(record, time);
    CheckPlainRecord(record, time);
    return 0;
}
