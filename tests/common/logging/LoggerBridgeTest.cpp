// Log lines: one line per flushed stream, and component prefixes.

#include <gtest/gtest.h>

#include <vector>

#include "common/logging/LoggerBridge.h"
#include "tests/support/RecordingLogger.h"

namespace {

using Line = Zent::Testing::CRecordingLogger::Line;
using Products::Common::Zent::TraceLog::CLogStream;
using Zent::Common::Library::Logging::CLoggerBridge;

TEST(LoggerBridgeTest, OneLinePerFlushNothingWhenEmptyAndPrefixesNameTheComponentChain) {
    auto logger = std::make_shared<Zent::Testing::CRecordingLogger>();
    {
        CLogStream stream(logger, 2, "M");
        stream << "Received message: " << 321;
        stream.Flush();
        stream.Flush();
        stream << "second";
    }
    { CLogStream empty(logger, 4, "M"); }

    auto at = [logger](std::int32_t level) {
        return [logger, level] { return CLogStream(logger, level, "M"); };
    };
    const CLoggerBridge module(at(2), at(1), at(4));
    const CLoggerBridge scheduler(module, "CTimeScheduler");
    const CLoggerBridge dump(scheduler, "ScheduledTicks");
    module.Info() << "plain";
    scheduler.Detail() << "Adding";
    dump.Error() << "x";
    EXPECT_EQ(logger->Lines(), (std::vector<Line>{{"Received message: 321", 2, "M"},
                                                  {"second", 2, "M"},
                                                  {"plain", 2, "M"},
                                                  {"CTimeScheduler : Adding", 1, "M"},
                                                  {"CTimeScheduler:ScheduledTicks : x", 4, "M"}}));
}

}  // namespace
