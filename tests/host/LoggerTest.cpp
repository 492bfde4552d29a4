#include "host/Logger.h"

#include <chrono>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace Zent::HostTests {
namespace {

using namespace std::chrono;
using Host::CLogger;
using Host::LogRecord;

TEST(LoggerTest, OneLinePerCallWithUtcTimeInMicrosecondsLevelNameModuleAndText) {
    const auto day = sys_days(year(1999) / 12 / 31);
    const auto time = day + hours(23) + microseconds(999999);
    const std::pair<LogRecord, std::string> cases[] = {
        {{day + hours(12) + minutes(3) + seconds(4) + microseconds(42), 2, "SchedulerModule",
          "Received message: RegisterTimeEvent"},
         "1999-12-31T12:03:04.000042Z INFO SchedulerModule Received message: RegisterTimeEvent"},
        {{time, 1, "M", "a"}, "1999-12-31T23:00:00.999999Z DETAIL M a"},
        {{time, 3, "M", "a"}, "1999-12-31T23:00:00.999999Z WARNING M a"},
        {{time, 4, "M", "a"}, "1999-12-31T23:00:00.999999Z ERROR M a"},
        {{sys_days(year(1970) / 1 / 1) - microseconds(500000), 2, "M", "a"},
         "1969-12-31T23:59:59.500000Z INFO M a"},
        {{time, 7, "", "two\nlines"}, "1999-12-31T23:00:00.999999Z LEVEL7 - two lines"},
    };
    for (const auto& [record, line] : cases)
        EXPECT_EQ(CLogger::FormatLine(record), line);
    CLogger logger(2);  // without a sink: stderr, and nothing below the minimum level
    testing::internal::CaptureStderr();
    logger.Log("hidden", 1, "M");
    logger.Log("a", 4, "M");
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                testing::MatchesRegex("[-0-9]{10}T[:0-9]{8}\\.[0-9]{6}Z ERROR M a\n"));
}

}  // namespace
}  // namespace Zent::HostTests
