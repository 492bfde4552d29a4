#include "host/Logger.h"

#include <chrono>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Zent::HostTests {
namespace {

using Host::CLogger;
using Host::LogRecord;

std::chrono::system_clock::time_point At(int year, unsigned month, unsigned day,
                                         std::chrono::microseconds sinceMidnight) {
    using namespace std::chrono;
    return sys_days(std::chrono::year(year) / month / day) + sinceMidnight;
}

TEST(LoggerTest, LineHasUtcTimeWithMicrosecondsLevelModuleAndText) {
    using namespace std::chrono;
    const LogRecord record{At(2026, 1, 15, hours(12) + minutes(3) + seconds(4) + microseconds(42)),
                           2, "SchedulerModule", "Received message: RegisterTimeEvent"};
    EXPECT_EQ(CLogger::FormatLine(record),
              "2026-01-15T12:03:04.000042Z INFO SchedulerModule Received message: "
              "RegisterTimeEvent");
}

TEST(LoggerTest, LevelNamesEmptyModuleAndLineBreaks) {
    const auto time = At(1999, 12, 31, std::chrono::hours(23) + std::chrono::microseconds(999999));
    EXPECT_EQ(CLogger::FormatLine({time, 1, "M", "a"}), "1999-12-31T23:00:00.999999Z DETAIL M a");
    EXPECT_EQ(CLogger::FormatLine({time, 3, "M", "a"}), "1999-12-31T23:00:00.999999Z WARNING M a");
    EXPECT_EQ(CLogger::FormatLine({time, 4, "M", "a"}), "1999-12-31T23:00:00.999999Z ERROR M a");
    const auto beforeEpoch = At(1970, 1, 1, std::chrono::microseconds(-500000));
    EXPECT_EQ(CLogger::FormatLine({beforeEpoch, 2, "M", "a"}),
              "1969-12-31T23:59:59.500000Z INFO M a");
    EXPECT_EQ(CLogger::FormatLine({time, 7, "", "two\nlines"}),
              "1999-12-31T23:00:00.999999Z LEVEL7 - two lines");
}

TEST(LoggerTest, DropsLinesBelowTheMinimumLevel) {
    std::vector<std::int32_t> levels;
    CLogger logger(3, [&levels](const LogRecord& record) { levels.push_back(record.level); });
    for (std::int32_t level = 1; level <= 4; ++level)
        logger.Log("text", level, "M");
    EXPECT_EQ(levels, (std::vector<std::int32_t>{3, 4}));
}

TEST(LoggerTest, WritesOneLinePerCallToStderrWithoutSink) {
    CLogger logger(2);
    testing::internal::CaptureStderr();
    logger.Log("hidden", 1, "SchedulerModule");
    logger.Log("Failed while trying to tick", 4, "SchedulerModule");
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_THAT(written,
                testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                                      "\\.[0-9]{6}Z ERROR SchedulerModule "
                                      "Failed while trying to tick\n"));
}

}  // namespace
}  // namespace Zent::HostTests
