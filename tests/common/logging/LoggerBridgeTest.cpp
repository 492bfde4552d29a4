// Log lines: one line per flushed stream, and component prefixes.

#include <gtest/gtest.h>

#include <vector>

#include "common/logging/LoggerBridge.h"

namespace {

using Products::Common::Zent::TraceLog::CLogStream;
using Zent::Common::Library::Logging::CLoggerBridge;

struct Line {
    std::string text;
    std::int32_t level;
    std::string module;
    bool operator==(const Line&) const = default;
};

class CMemoryLogger : public Zent::Common::Kernel::ILoggerResource {
public:
    void Log(const std::string& text, std::int32_t level, const std::string& module) override {
        lines.push_back({text, level, module});
    }
    std::vector<Line> lines;
};

TEST(LogStream, WritesOneLinePerFlushAndNothingWhenEmpty) {
    auto logger = std::make_shared<CMemoryLogger>();
    {
        CLogStream stream(logger, 2, "SchedulerModule");
        stream << "Received message: " << 321;
        stream.Flush();
        stream.Flush();
        stream << "second";
    }
    { CLogStream empty(logger, 4, "SchedulerModule"); }
    EXPECT_EQ(logger->lines, (std::vector<Line>{{"Received message: 321", 2, "SchedulerModule"},
                                                {"second", 2, "SchedulerModule"}}));
}

TEST(LoggerBridge, PrefixesNameTheComponentChain) {
    auto logger = std::make_shared<CMemoryLogger>();
    auto at = [logger](std::int32_t level) {
        return [logger, level] { return CLogStream(logger, level, "M"); };
    };
    const CLoggerBridge module(at(2), at(1), at(4));
    const CLoggerBridge scheduler(module, "CTimeScheduler");
    const CLoggerBridge dump(scheduler, "ScheduledTicks");
    module.Info() << "plain";
    scheduler.Detail() << "Adding";
    dump.Error() << "x";
    EXPECT_EQ(logger->lines, (std::vector<Line>{{"plain", 2, "M"},
                                                {"CTimeScheduler : Adding", 1, "M"},
                                                {"CTimeScheduler:ScheduledTicks : x", 4, "M"}}));
}

}  // namespace
