#pragma once

// The substitute kernel's log: one line per call, to stderr or to a sink.
//
//     auto logger = std::make_shared<CLogger>(2);   // drops level 1
//     logger->Log("Received message: Ping", 2, "SchedulerModule");
//     // stderr: 2026-01-15T12:00:00.123456Z INFO SchedulerModule Received message: Ping
//
// A line is "<UTC time with microseconds> <level name> <module name> <text>". Level names:
// 1 DETAIL, 2 INFO, 3 WARNING, 4 ERROR; any other level is written as "LEVEL<n>". An empty
// module name is written as "-"; line breaks in the text become spaces. Lines below the
// minimum level are dropped. Log may be called from any thread; lines never interleave.

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "common/kernel/ILoggerResource.h"

namespace Zent::Host {

struct LogRecord {
    std::chrono::system_clock::time_point time;
    std::int32_t level = 0;
    std::string moduleName;
    std::string text;
};

class CLogger : public Common::Kernel::ILoggerResource {
public:
    // Receives every record at or above the minimum level, one call at a time. A sink must
    // not log through the same logger.
    using Sink = std::function<void(const LogRecord&)>;

    // Without a sink, formatted lines go to stderr.
    explicit CLogger(std::int32_t minimumLevel = 1, Sink sink = {});

    void Log(const std::string& text, std::int32_t level, const std::string& moduleName) override;
    bool IsEnabled(std::int32_t level) const override { return level >= minimumLevel_; }

    // The line written for `record`, without a line break.
    static std::string FormatLine(const LogRecord& record);

private:
    const std::int32_t minimumLevel_;
    const Sink sink_;
    std::mutex lock_;
};

}  // namespace Zent::Host
