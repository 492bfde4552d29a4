#pragma once

// What the time scheduler tests share: a recording logger, a recording tick handler, user
// data messages and a scheduler on an adjustable clock with short observer periods.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "common/kernel/ILoggerResource.h"

namespace Zent::Scheduler::Testing {

using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using Common::DataDefinition::Common::UTCTime;
using Common::DataDefinition::Scheduler::TimeEvent;
using namespace std::chrono_literals;

class CRecordingLogger : public Common::Kernel::ILoggerResource {
public:
    struct Line {
        std::string text;
        std::int32_t level;
        ptime at;  // the scheduler clock's UTC time when it was written
    };
    void Log(const std::string& text, std::int32_t level, const std::string&) override {
        const ptime at = CurrentClock()->UniversalTime();
        std::function<void(const std::string&)> onLine;
        {
            std::lock_guard lock(mutex_);
            lines_.push_back({text, level, at});
            onLine = onLine_;
        }
        if (onLine) onLine(text);
    }
    // Calls `hook` with every later line, on the logging thread, after recording it.
    void OnLine(std::function<void(const std::string&)> hook) {
        std::lock_guard lock(mutex_);
        onLine_ = std::move(hook);
    }
    bool IsEnabled(std::int32_t level) const override { return level >= minimumLevel_; }
    // Lines below `level` are dropped unbuilt from now on (tests with many events).
    void SetMinimumLevel(std::int32_t level) { minimumLevel_ = level; }
    std::vector<Line> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    // Lines that contain `part`.
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
    std::atomic<std::int32_t> minimumLevel_{1};
};

// A message identified by its text; given a hash, it hashes alike with other texts.
class CTextMessage : public Common::Kernel::IMessage {
public:
    explicit CTextMessage(std::string text, std::optional<std::size_t> hash = std::nullopt)
        : text_(std::move(text)), hash_(hash) {}
    std::int32_t GetType() const override { return 9000; }
    std::string GetTypeName() const override { return "Text:" + text_; }
    std::size_t GetHash() const override {
        return hash_ ? *hash_ : std::hash<std::string>{}(text_);
    }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override {
        auto text = std::dynamic_pointer_cast<CTextMessage>(other);
        return text && text->text_ == text_;
    }

private:
    std::string text_;
    std::optional<std::size_t> hash_;
};

struct Tick {
    std::string userData;
    std::shared_ptr<Common::Security::CUserContext> context;
    ptime at;  // the scheduler clock's UTC time of delivery
};

class CRecordingTickHandler : public ITickHandler {
public:
    void OnTick(std::shared_ptr<Common::Kernel::IMessage> userData,
                std::shared_ptr<Common::Security::CUserContext> context) override {
        std::lock_guard lock(mutex_);
        ticks_.push_back(
            {userData->GetTypeName(), std::move(context), CurrentClock()->UniversalTime()});
        changed_.notify_all();
    }
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ticks_.size() >= count; });
    }
    std::vector<Tick> Ticks() const {
        std::lock_guard lock(mutex_);
        return ticks_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Tick> ticks_;
};

class TimeSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override { Create({}); }

    void Create(CTimeScheduler::Options options) {
        scheduler.reset();
        logger = std::make_shared<CRecordingLogger>();
        if (options.checkPeriod == std::chrono::seconds(10)) options.checkPeriod = 100ms;
        if (options.dumpPeriod == std::chrono::seconds(60)) options.dumpPeriod = 1h;
        auto stream = [this](std::int32_t level) {
            return [this, level] {
                return Products::Common::Zent::TraceLog::CLogStream(logger, level,
                                                                    "SchedulerModule");
            };
        };
        const Common::Library::Logging::CLoggerBridge bridge(stream(2), stream(1), stream(4));
        scheduler = std::make_unique<CTimeScheduler>(bridge, std::move(options));
        scheduler->AddTickHandler(ticks);
    }

    // Moves the wall clock so that it reads `target` now. A scheduler that already runs
    // sees this as a clock jump.
    void SetNow(ptime target) { clock->Jump(target - clock->UniversalTime()); }
    // A new scheduler on a clock that reads `target` now.
    void StartAt(ptime target, CTimeScheduler::Options options = {}) {
        SetNow(target);
        Create(std::move(options));
    }
    // Returns when the clock reads `target` (at once if it is past).
    void SleepUntil(ptime target) {
        const auto left = (target - clock->UniversalTime()).total_microseconds();
        if (left > 0) std::this_thread::sleep_for(std::chrono::microseconds(left));
    }
    // A new scheduler on a clock moved to `fraction` past the next whole second.
    void StartAlignedToSecond(boost::posix_time::time_duration fraction) {
        const ptime now = clock->UniversalTime();
        const ptime second(now.date(),
                           boost::posix_time::seconds(now.time_of_day().total_seconds()));
        StartAt(second + boost::posix_time::seconds(1) + fraction);
    }

    std::shared_ptr<CCrontabScheduler> Crontab(const std::string& text) {
        return std::make_shared<CCrontabScheduler>(parser.Parse(text));
    }
    static TimeEvent Event(const std::string& text, bool utc = true) {
        TimeEvent event;
        event.set_timespecification(text);
        event.set_utclocal(utc);
        return event;
    }
    static std::shared_ptr<CTextMessage> Data(const std::string& text) {
        return std::make_shared<CTextMessage>(text);
    }
    void Add(const TimeEvent& event, const std::string& data,
             std::shared_ptr<Common::Security::CUserContext> context = nullptr) {
        scheduler->AddTab(Crontab(event.timespecification()), event, Data(data),
                          std::move(context));
    }
    ptime NextTick(const std::string& data) {
        ptime next;
        scheduler->GetRemainingTimeByUserData(Data(data), next);
        return next;
    }

    std::shared_ptr<CAdjustableClock> clock = std::make_shared<CAdjustableClock>();
    ScopedClock useClock_{clock};  // outlives the scheduler
    std::shared_ptr<CRecordingLogger> logger = std::make_shared<CRecordingLogger>();
    std::shared_ptr<CRecordingTickHandler> ticks = std::make_shared<CRecordingTickHandler>();
    CCrontabParser parser;
    std::unique_ptr<CTimeScheduler> scheduler;
};

}  // namespace Zent::Scheduler::Testing
