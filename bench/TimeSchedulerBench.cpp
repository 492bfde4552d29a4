// End-to-end measurements of the time scheduler, printed as one table with their targets:
// AddTab throughput over a registry of 1k, 10k and 100k events, heap bytes per armed
// event, tick lateness with one event and with 10k events due in the same second, the
// re-planning of 100k events after a clock change, how soon every-second events tick again
// after the clock is set back an hour, and GetRemainingTimeBySpec among 100k events. Exits
// with 1 when a target is missed.

#include <malloc.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "BenchTable.h"
#include "Scheduler/crontab/CronTabCache.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "common/kernel/ILoggerResource.h"
#include "common/message/MessageEquality.h"

namespace {

using boost::posix_time::ptime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using Zent::Common::Kernel::IMessage;
using Zent::Common::Library::Logging::CLoggerBridge;
using Zent::Scheduler::CAdjustableClock;
using Zent::Scheduler::CCronTabCache;
using Zent::Scheduler::CCrontabParser;
using Zent::Scheduler::CCrontabScheduler;
using Zent::Scheduler::CTimeScheduler;
using Zent::Scheduler::ScopedClock;
using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The registry sizes at which AddTab is timed, and the adds timed at each.
constexpr std::size_t kRegistrySizes[] = {1000, 10000, 100000};
constexpr std::size_t kTimedAdds = 1000;
// Ticks of the one-event lateness run (one per second), and rounds of the 10k run.
constexpr std::size_t kSingleEventTicks = 20;
constexpr std::size_t kCrowdSize = 10000;
constexpr std::size_t kCrowdRounds = 2;

// Drops every line. Every registration, tick and re-plan still formats its detail lines
// into the log streams before they reach this logger, so that formatting is part of each
// figure, as it is in production with the detail level discarded.
// A production logger at its usual minimum level: detail lines are dropped unbuilt, the
// others are taken and discarded.
class CNullLogger : public Zent::Common::Kernel::ILoggerResource {
public:
    void Log(const std::string&, std::int32_t, const std::string&) override {}
    bool IsEnabled(std::int32_t level) const override { return level >= 2; }
};

CLoggerBridge NullLoggerBridge() {
    auto logger = std::make_shared<CNullLogger>();
    auto stream = [logger](std::int32_t level) {
        return [logger, level] {
            return Products::Common::Zent::TraceLog::CLogStream(logger, level, "SchedulerModule");
        };
    };
    return CLoggerBridge(stream(2), stream(1), stream(4));
}

// User data identified by a number, compared the way the bus messages compare.
class CKeyMessage : public IMessage {
public:
    explicit CKeyMessage(std::uint64_t key) : key_(key) {}
    std::int32_t GetType() const override { return 9100; }
    std::string GetTypeName() const override { return "BenchKey"; }
    std::size_t GetHash() const override { return std::hash<std::uint64_t>{}(key_); }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override {
        return Zent::Common::Message::IsSameClassAnd(
            *this, other, [this](const CKeyMessage& that) { return that.key_ == key_; });
    }

private:
    std::uint64_t key_;
};

// Records how long after its due second each tick arrives, by the system clock.
class CLatenessRecorder : public Zent::Scheduler::ITickHandler {
public:
    void OnTick(std::shared_ptr<IMessage>,
                std::shared_ptr<Zent::Common::Security::CUserContext>) override {
        const ptime now = boost::posix_time::microsec_clock::universal_time();
        std::lock_guard lock(mutex_);
        lateness_.push_back((now - due_).total_microseconds());
    }
    void Expect(ptime due, std::size_t more) {
        std::lock_guard lock(mutex_);
        due_ = due;
        lateness_.reserve(lateness_.size() + more);
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return lateness_.size();
    }
    // Waits until `count` ticks have arrived or `deadline` has passed.
    bool WaitFor(std::size_t count, SteadyClock::time_point deadline) const {
        while (Count() < count) {
            if (SteadyClock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    std::vector<std::int64_t> Lateness() const {
        std::lock_guard lock(mutex_);
        return lateness_;
    }

private:
    mutable std::mutex mutex_;
    ptime due_;
    std::vector<std::int64_t> lateness_;  // microseconds
};

double Seconds(SteadyClock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// CPU seconds used by the whole process so far: on a loaded machine, what a call cost
// apart from the time it waited for a core.
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Heap bytes in use (all arenas, mmapped blocks included).
std::size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

TimeEvent Event(const std::string& text) {
    TimeEvent event;
    event.set_timespecification(text);
    event.set_utclocal(true);
    return event;
}

ptime WholeSecond(ptime t) {
    return {t.date(), boost::posix_time::seconds(t.time_of_day().total_seconds())};
}

// A crontab that matches `t`'s second and no other.
std::string ExactSecond(ptime t) {
    const auto date = t.date();
    const auto time = t.time_of_day();
    return std::to_string(time.seconds()) + " " + std::to_string(time.minutes()) + " " +
           std::to_string(time.hours()) + " " + std::to_string(date.day().as_number()) + " " +
           std::to_string(date.month().as_number()) + " ? " + std::to_string(date.year());
}

// Nearest-rank percentile of sorted values.
// AddTab throughput, heap per event and re-planning, on one registry that grows to 100k
// hourly events. The clock starts half a minute past an hour, so that no event ticks while
// the registry is measured; the observer's period is longer than the run, so that only the
// timed calls re-plan.
// A clock moved to 00:00:30 tomorrow, far from the hour at which hourly events are due, and a
// scheduler on it that only a setting of the clock wakes (no periodic check, no dump). The
// scheduler goes first, before the clock is put back.
struct QuietScheduler {
    QuietScheduler() {
        const ptime now = clock->UniversalTime();
        clock->Jump(
            ptime(now.date() + boost::gregorian::days(1), boost::posix_time::seconds(30)) - now,
            false);
        CTimeScheduler::Options options;
        options.checkPeriod = 1h;
        options.dumpPeriod = 1h;
        scheduler = std::make_unique<CTimeScheduler>(NullLoggerBridge(), options);
    }
    std::shared_ptr<CAdjustableClock> clock = std::make_shared<CAdjustableClock>();
    ScopedClock useClock{clock};
    std::unique_ptr<CTimeScheduler> scheduler;
};

void MeasureRegistry(std::vector<BenchRow>& rows) {
    const std::string text = "0 0 * * * ?";
    QuietScheduler quiet;
    const auto& clock = quiet.clock;
    auto& scheduler = quiet.scheduler;
    // Crontabs come from a cache by text, as the module's registrations take them, so that
    // events of one text share one compiled crontab.
    CCronTabCache crontabs;
    const TimeEvent event = Event(text);

    const std::size_t heapBefore = HeapInUse();
    std::uint64_t registered = 0;
    std::uint64_t filled = 0;
    SteadyClock::duration fillTime{};
    for (const std::size_t size : kRegistrySizes) {
        // Untimed: each event takes its crontab from the cache, as registration requests do.
        const auto fillStart = SteadyClock::now();
        for (; registered < size; ++registered, ++filled) {
            scheduler->AddTab(std::make_shared<CCrontabScheduler>(crontabs.Get(text)), event,
                              std::make_shared<CKeyMessage>(registered), nullptr);
        }
        fillTime += SteadyClock::now() - fillStart;

        std::vector<std::shared_ptr<CCrontabScheduler>> schedulers;
        std::vector<std::shared_ptr<IMessage>> userData;
        for (std::size_t i = 0; i < kTimedAdds; ++i) {
            schedulers.push_back(std::make_shared<CCrontabScheduler>(crontabs.Get(text)));
            userData.push_back(std::make_shared<CKeyMessage>(registered + i));
        }
        const auto start = SteadyClock::now();
        for (std::size_t i = 0; i < kTimedAdds; ++i)
            scheduler->AddTab(std::move(schedulers[i]), event, std::move(userData[i]), nullptr);
        const double elapsed = Seconds(SteadyClock::now() - start);
        registered += kTimedAdds;

        const std::string label = "AddTab, " + std::to_string(size / 1000) + "k registered";
        rows.push_back({label + " (per add)", elapsed * 1e6 / kTimedAdds, "us", ""});
        rows.push_back({label + " (throughput)", kTimedAdds / elapsed, "adds/s", ""});
    }
    const std::size_t heapAfter = HeapInUse();
    const std::string count = std::to_string(scheduler->EventCount());
    rows.push_back({"Registering the other " + std::to_string(filled) + " events, parsing included",
                    Seconds(fillTime), "s", ""});
    const double perEvent =
        static_cast<double>(heapAfter - heapBefore) / static_cast<double>(registered);
    rows.push_back({"Heap per armed cron event (" + count + " events)", perEvent, "B/event",
                    "< 700", perEvent < 700});

    // The clock has not moved: every event is re-planned and keeps its pending tick.
    auto start = SteadyClock::now();
    double cpuStart = ProcessCpuSeconds();
    scheduler->NotifyTimeChanged(3600);
    double elapsed = Seconds(SteadyClock::now() - start);
    rows.push_back({"NotifyTimeChanged(3600), " + count + " events, ticks kept", elapsed * 1e3,
                    "ms", "< 50", elapsed < 0.050});
    rows.push_back({"  the same, CPU time", (ProcessCpuSeconds() - cpuStart) * 1e3, "ms", ""});

    // The clock went back an hour: every event is re-planned and its timer re-armed. The
    // jump is not announced, so that only the timed call re-plans.
    clock->Jump(-boost::posix_time::hours(1), false);
    start = SteadyClock::now();
    cpuStart = ProcessCpuSeconds();
    scheduler->NotifyTimeChanged(-3600);
    elapsed = Seconds(SteadyClock::now() - start);
    rows.push_back({"NotifyTimeChanged(-3600), clock -1 h, " + count + " re-armed", elapsed * 1e3,
                    "ms", "< 200", elapsed < 0.200});
    rows.push_back({"  the same, CPU time", (ProcessCpuSeconds() - cpuStart) * 1e3, "ms", ""});
}

// Counts ticks from a chosen moment and notes the steady time of the last one.
class CTickCounter : public Zent::Scheduler::ITickHandler {
public:
    void OnTick(std::shared_ptr<IMessage>,
                std::shared_ptr<Zent::Common::Security::CUserContext>) override {
        std::lock_guard lock(mutex_);
        ++count_;
        last_ = SteadyClock::now();
    }
    void Reset() {
        std::lock_guard lock(mutex_);
        count_ = 0;
    }
    // The time of the `count`-th tick since Reset, or nothing by `deadline`.
    std::optional<SteadyClock::time_point> WaitFor(std::size_t count,
                                                   SteadyClock::time_point deadline) const {
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (count_ >= count) return last_;
            }
            if (SteadyClock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(1ms);
        }
    }

private:
    mutable std::mutex mutex_;
    std::size_t count_ = 0;
    SteadyClock::time_point last_;
};

// `hourlyCount` hourly events and 1,000 every-second ones; the clock is set back an hour
// 10 ms before a whole second. The figure is the time from that setting until every
// every-second event has ticked again: the observer's wake-up, the re-plan of all
// events and the delivery of the 1,000 ticks due 10 ms after the setting.
void MeasureSetBack(std::vector<BenchRow>& rows, std::size_t hourlyCount) {
    constexpr std::size_t kEverySecond = 1000;
    QuietScheduler quiet;
    const auto& clock = quiet.clock;
    auto& scheduler = quiet.scheduler;
    auto counter = std::make_shared<CTickCounter>();
    scheduler->AddTickHandler(counter);
    CCrontabParser parser;
    const auto hourly = std::make_shared<CCrontabScheduler>(parser.Parse("0 0 * * * ?"));
    const auto everySecond = std::make_shared<CCrontabScheduler>(parser.Parse("* * * * * ?"));
    std::uint64_t key = 0;
    for (; key < hourlyCount; ++key)
        scheduler->AddTab(hourly, Event("0 0 * * * ?"), std::make_shared<CKeyMessage>(key),
                          nullptr);
    for (std::size_t i = 0; i < kEverySecond; ++i, ++key) {
        scheduler->AddTab(everySecond, Event("* * * * * ?"), std::make_shared<CKeyMessage>(key),
                          nullptr);
    }
    const ptime setting = WholeSecond(clock->UniversalTime() + boost::posix_time::seconds(2)) -
                          boost::posix_time::milliseconds(10);
    std::this_thread::sleep_for(
        std::chrono::microseconds((setting - clock->UniversalTime()).total_microseconds()));
    counter->Reset();
    const auto setAt = SteadyClock::now();
    clock->Jump(-boost::posix_time::hours(1));
    const auto lastTick = counter->WaitFor(kEverySecond, setAt + 10s);
    const std::string label = "Clock -1 h, " + std::to_string(hourlyCount + kEverySecond) +
                              " events: every-second events ticked again after";
    if (!lastTick) {
        rows.push_back({label + " (not within 10 s)", 10000, "ms", "< 200", false});
    } else {
        const double ms = std::chrono::duration<double, std::milli>(*lastTick - setAt).count();
        rows.push_back({label, ms, "ms", "< 200", ms < 200});
    }
}

// GetRemainingTimeBySpec among 100k hourly events that differ only in their occurrence
// limit, so that each specification is unique; the one asked for lies mid-registry.
void MeasureRemainingTimeBySpec(std::vector<BenchRow>& rows) {
    constexpr std::uint32_t kEvents = 100000;
    constexpr std::size_t kQueries = 1000;
    QuietScheduler quiet;
    auto& scheduler = quiet.scheduler;
    const auto crontab = std::make_shared<CCrontabScheduler>(CCrontabParser().Parse("0 0 * * * ?"));
    TimeEvent event = Event("0 0 * * * ?");
    for (std::uint32_t i = 1; i <= kEvents; ++i) {
        event.mutable_range()->set_rangedefinitionoccurences(i);
        scheduler->AddTab(crontab, event, std::make_shared<CKeyMessage>(i), nullptr);
    }
    event.mutable_range()->set_rangedefinitionoccurences(kEvents / 2);
    ptime nextTick;
    std::int64_t found = 0;
    const auto start = SteadyClock::now();
    for (std::size_t i = 0; i < kQueries; ++i)
        found += scheduler->GetRemainingTimeBySpec(event, nextTick) > 0 ? 1 : 0;
    const double perQuery = Seconds(SteadyClock::now() - start) * 1e6 / kQueries;
    rows.push_back({"GetRemainingTimeBySpec, 100k events (per query)", perQuery, "us", "< 50",
                    perQuery < 50.0 && found == static_cast<std::int64_t>(kQueries)});
}

void AddLatenessRows(std::vector<BenchRow>& rows, const std::string& label,
                     std::vector<std::int64_t> lateness, std::size_t expected, double p99TargetMs) {
    std::sort(lateness.begin(), lateness.end());
    const std::string name =
        label + " (" + std::to_string(lateness.size()) + "/" + std::to_string(expected) + " ticks)";
    if (lateness.size() < expected) {
        rows.push_back({name + ": ticks missing", static_cast<double>(expected - lateness.size()),
                        "ticks", "0", false});
    }
    if (lateness.empty()) return;
    const double p99 = Percentile(lateness, 0.99) / 1e3;
    rows.push_back({name + " p50", Percentile(lateness, 0.50) / 1e3, "ms", ""});
    rows.push_back({name + " p99", p99, "ms", "< " + std::to_string(static_cast<int>(p99TargetMs)),
                    p99 < p99TargetMs});
    rows.push_back({name + " max", lateness.back() / 1e3, "ms", ""});
}

// One event at a time, each due at the next whole second (at least 200 ms ahead).
void MeasureSingleEventLateness(std::vector<BenchRow>& rows) {
    auto recorder = std::make_shared<CLatenessRecorder>();
    CTimeScheduler scheduler(NullLoggerBridge());
    scheduler.AddTickHandler(recorder);
    CCrontabParser parser;
    for (std::size_t tick = 0; tick < kSingleEventTicks; ++tick) {
        const ptime due = WholeSecond(boost::posix_time::microsec_clock::universal_time() +
                                      boost::posix_time::milliseconds(1200));
        recorder->Expect(due, 1);
        const std::string text = ExactSecond(due);
        scheduler.AddTab(std::make_shared<CCrontabScheduler>(parser.Parse(text)), Event(text),
                         std::make_shared<CKeyMessage>(tick), nullptr);
        if (!recorder->WaitFor(tick + 1, SteadyClock::now() + 5s)) break;
    }
    AddLatenessRows(rows, "Tick lateness, 1 event", recorder->Lateness(), kSingleEventTicks, 1.0);
}

// 10k events with distinct user data, all due in the same second. Registration must end
// before that second: the lead doubles and the round repeats when it does not.
void MeasureCrowdLateness(std::vector<BenchRow>& rows) {
    auto recorder = std::make_shared<CLatenessRecorder>();
    CTimeScheduler scheduler(NullLoggerBridge());
    scheduler.AddTickHandler(recorder);
    CCrontabParser parser;
    std::vector<std::int64_t> lateness;
    std::uint64_t key = 0;
    boost::posix_time::time_duration lead = boost::posix_time::seconds(3);
    std::size_t rounds = 0;
    for (int attempt = 0; rounds < kCrowdRounds && attempt < 6; ++attempt) {
        const ptime due = WholeSecond(boost::posix_time::microsec_clock::universal_time() + lead);
        const std::string text = ExactSecond(due);
        const TimeEvent event = Event(text);
        recorder->Expect(due, kCrowdSize);
        const std::size_t before = recorder->Count();
        std::size_t added = 0;
        try {
            for (; added < kCrowdSize; ++added) {
                scheduler.AddTab(std::make_shared<CCrontabScheduler>(parser.Parse(text)), event,
                                 std::make_shared<CKeyMessage>(key++), nullptr);
            }
        } catch (const std::exception&) {
            // The due second passed during registration.
        }
        const bool inTime =
            added == kCrowdSize && boost::posix_time::microsec_clock::universal_time() <
                                       due - boost::posix_time::milliseconds(100);
        recorder->WaitFor(
            before + added,
            SteadyClock::now() + std::chrono::milliseconds(lead.total_milliseconds()) + 10s);
        if (!inTime) {
            lead = lead * 2;
            continue;
        }
        const auto all = recorder->Lateness();
        lateness.insert(lateness.end(), all.begin() + static_cast<std::ptrdiff_t>(before),
                        all.end());
        ++rounds;
    }
    AddLatenessRows(rows, "Tick lateness, 10k events", std::move(lateness),
                    kCrowdSize * kCrowdRounds, 50.0);
}

}  // namespace

// Heap per pending sleep event, among 100k that wait a day.
void MeasureSleepHeap(std::vector<BenchRow>& rows) {
    constexpr std::uint64_t kSleeps = 100000;
    CTimeScheduler::Options options;
    options.checkPeriod = 1h;
    options.dumpPeriod = 1h;
    CTimeScheduler scheduler(NullLoggerBridge(), options);
    const std::size_t heapBefore = HeapInUse();
    for (std::uint64_t i = 0; i < kSleeps; ++i)
        scheduler.RegisterSleepEvent(86400, std::make_shared<CKeyMessage>(i), nullptr);
    const double perEvent =
        static_cast<double>(HeapInUse() - heapBefore) / static_cast<double>(kSleeps);
    rows.push_back({"Heap per pending sleep event (100000 events)", perEvent, "B/event", ""});
}

// Resident set size of the process, from /proc.
std::size_t ResidentBytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long long size = 0;
    unsigned long long resident = 0;
    const int read = std::fscanf(statm, "%llu %llu", &size, &resident);
    std::fclose(statm);
    return read == 2 ? static_cast<std::size_t>(resident) *
                           static_cast<std::size_t>(sysconf(_SC_PAGESIZE))
                     : 0;
}

// The ticks of the every-second events as fractions of their second on the scheduler's
// clock, with the steady time of each.
class CSecondFractionRecorder : public Zent::Scheduler::ITickHandler {
public:
    explicit CSecondFractionRecorder(std::shared_ptr<CAdjustableClock> clock)
        : clock_(std::move(clock)) {}
    void OnTick(std::shared_ptr<IMessage>,
                std::shared_ptr<Zent::Common::Security::CUserContext>) override {
        const ptime now = clock_->UniversalTime();
        std::lock_guard lock(mutex_);
        ticks_.push_back({SteadyClock::now(), now.time_of_day().fractional_seconds()});
    }
    // The largest fraction (in microseconds) of the ticks delivered from `from` on.
    std::int64_t LatestFrom(SteadyClock::time_point from) const {
        std::lock_guard lock(mutex_);
        std::int64_t latest = 0;
        for (const Tick& tick : ticks_) {
            if (!(tick.at < from)) latest = std::max<std::int64_t>(latest, tick.fraction);
        }
        return latest;
    }
    std::size_t CountFrom(SteadyClock::time_point from) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(std::count_if(
            ticks_.begin(), ticks_.end(), [&](const Tick& tick) { return !(tick.at < from); }));
    }

private:
    struct Tick {
        SteadyClock::time_point at;
        std::int64_t fraction;
    };
    const std::shared_ptr<CAdjustableClock> clock_;
    mutable std::mutex mutex_;
    std::vector<Tick> ticks_;
};

// 1,000,000 events (the default limit): 10 every-second ones, then hourly ones; the clock goes
// back an hour and the call that re-plans is timed. The walk re-arms every timer a chunk at
// a time; the every-second events, walked first, must keep ticking on time meanwhile.
void MeasureMillion(std::vector<BenchRow>& rows) {
    constexpr std::size_t kEvents = 1000000;
    constexpr std::size_t kEverySecond = 10;
    const std::size_t residentBefore = ResidentBytes();
    QuietScheduler quiet;
    const auto& clock = quiet.clock;
    auto& scheduler = quiet.scheduler;
    auto recorder = std::make_shared<CSecondFractionRecorder>(clock);
    scheduler->AddTickHandler(recorder);
    CCronTabCache crontabs;
    std::uint64_t key = 0;
    for (; key < kEverySecond; ++key) {
        scheduler->AddTab(std::make_shared<CCrontabScheduler>(crontabs.Get("* * * * * ?")),
                          Event("* * * * * ?"), std::make_shared<CKeyMessage>(key), nullptr);
    }
    const TimeEvent hourly = Event("0 0 * * * ?");
    const auto hourlyCrontab = std::make_shared<CCrontabScheduler>(crontabs.Get("0 0 * * * ?"));
    for (; key < kEvents; ++key)
        scheduler->AddTab(hourlyCrontab, hourly, std::make_shared<CKeyMessage>(key), nullptr);
    const double residentMb =
        static_cast<double>(ResidentBytes() - residentBefore) / (1024.0 * 1024.0);
    const std::string count = std::to_string(scheduler->EventCount());
    rows.push_back({"Resident size of " + count + " armed events", residentMb, "MB", "< 700",
                    residentMb < 700});

    // A quarter into a second, so that the walk spans whole seconds of every-second ticks.
    const ptime settingAt =
        WholeSecond(clock->UniversalTime()) + boost::posix_time::milliseconds(1250);
    std::this_thread::sleep_for(
        std::chrono::microseconds((settingAt - clock->UniversalTime()).total_microseconds()));
    clock->Jump(-boost::posix_time::hours(1), false);
    const auto start = SteadyClock::now();
    scheduler->NotifyTimeChanged(-3600);
    const double elapsed = Seconds(SteadyClock::now() - start);
    rows.push_back({"NotifyTimeChanged(-3600), clock -1 h, " + count + " re-armed", elapsed * 1e3,
                    "ms", "< 2000", elapsed < 2.0});
    // The first tick after the setting may wait for the first chunk; those after it not.
    std::this_thread::sleep_for(1s);
    const std::size_t ticked = recorder->CountFrom(start);
    const double latestMs = static_cast<double>(recorder->LatestFrom(start)) / 1e3;
    rows.push_back({"  every-second ticks meanwhile and in the second after (" +
                        std::to_string(ticked) + "): latest into its second",
                    latestMs, "ms", "< 50", latestMs < 50 && ticked >= kEverySecond});
}

int main(int argc, char** argv) {
    std::vector<BenchRow> rows;
    MeasureRegistry(rows);
    MeasureSleepHeap(rows);
    MeasureSetBack(rows, 0);
    MeasureSetBack(rows, 100000);
    MeasureRemainingTimeBySpec(rows);
    MeasureMillion(rows);
    MeasureSingleEventLateness(rows);
    MeasureCrowdLateness(rows);
    PrintBenchTable(rows, !HasFlag(argc, argv, "--no-header"));
    return AllPass(rows) ? EXIT_SUCCESS : EXIT_FAILURE;
}
