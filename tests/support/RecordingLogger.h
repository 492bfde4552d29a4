#pragma once

// A logger resource that keeps every line it is given, for tests to read back. Thread-safe.
//
//     auto logger = std::make_shared<CRecordingLogger>();
//     ...;
//     EXPECT_EQ(logger->Containing("Registered").size(), 1u);

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "common/kernel/ILoggerResource.h"

namespace Zent::Testing {

class CRecordingLogger : public Common::Kernel::ILoggerResource {
public:
    struct Line {
        std::string text;
        std::int32_t level;
        std::string module;
        bool operator==(const Line&) const = default;
    };

    void Log(const std::string& text, std::int32_t level, const std::string& module) override {
        std::function<void(const std::string&)> onLine;
        {
            std::lock_guard lock(mutex_);
            lines_.push_back({text, level, module});
            onLine = onLine_;
        }
        if (onLine) onLine(text);
    }
    bool IsEnabled(std::int32_t level) const override { return level >= minimumLevel_; }

    // Lines below `level` are dropped unbuilt from now on (tests with many events).
    void SetMinimumLevel(std::int32_t level) { minimumLevel_ = level; }
    // Calls `hook` with every later line, on the logging thread, after recording it.
    void OnLine(std::function<void(const std::string&)> hook) {
        std::lock_guard lock(mutex_);
        onLine_ = std::move(hook);
    }
    std::vector<Line> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // The lines that contain `part`.
    std::vector<Line> Containing(const std::string& part) const {
        std::vector<Line> found;
        for (const Line& line : Lines()) {
            if (line.text.find(part) != std::string::npos) found.push_back(line);
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Line> lines_;
    std::function<void(const std::string&)> onLine_;
    std::atomic<std::int32_t> minimumLevel_{0};
};

}  // namespace Zent::Testing
