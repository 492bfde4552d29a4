// Tick lateness under load: 100,000 registered events, mostly hourly and daily crontabs at
// scattered seconds plus a few every-second events, while one client asks every kind of
// query in a loop with one request in flight. Each tick of the every-second events is timed
// from its whole second by the system clock, over kMeasuredSeconds whole seconds, twice:
// - "bus": the substitute kernel loads the real plug-in; the registrations go out
//   pipelined, the queries as requests, and the ticks are timed as they appear on the bus.
//   The module takes no options from its host, so its event dump keeps its 60 s period and
//   does not fall into the timed seconds.
// - "direct": a time scheduler of the bench's own, which dumps its events every second,
//   under the same load made as calls (time ranges and time zones, which the module answers
//   without the time scheduler, are left out).
// Exits with 1 when either p99 misses kTargetP99Ms or an every-second event has a timed
// second without a tick.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/date_time/posix_time/posix_time.hpp>

#include "BenchTable.h"
#include "BusClient.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "common/kernel/ILoggerResource.h"
#include "common/message/MessageEquality.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/GetNextTimeRangeRequest.h"
#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"
#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"
#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/ResponseException.h"

namespace {

using namespace std::chrono_literals;
namespace Kernel = Zent::Common::Kernel;
namespace Messages = Zent::Common::Message::Scheduler;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using Zent::Common::DataDefinition::Scheduler::TimeRangeItem;
using Zent::Scheduler::CCrontabParser;
using Zent::Scheduler::CCrontabScheduler;
using Zent::Scheduler::CTimeScheduler;

constexpr std::uint32_t kEvents = 100000;
constexpr std::uint32_t kEverySecond = 10;     // events 0 .. kEverySecond-1, the timed ones
constexpr std::uint32_t kProbe = kEvents - 1;  // the registration the queries ask about
constexpr std::uint32_t kRegistrationWindow = 256;
constexpr std::int64_t kMeasuredSeconds = 15;
constexpr std::uint64_t kOccurrencesAsked = 1000;
// Far above any count that could be stepped through one match at a time.
constexpr std::uint32_t kHugeLimit = 4294967295U;
constexpr double kTargetP99Ms = 5.0;

// Event `i`: the first kEverySecond tick every second in UTC. The others tick hourly (even
// i) or daily (odd i) at a second spread over the hour or the day by a stride coprime with
// both; every tenth of them is in local time.
TimeEvent LoadEvent(std::uint32_t i) {
    TimeEvent event;
    event.set_utclocal(i < kEverySecond || i % 10 != 0);
    if (i < kEverySecond) {
        event.set_timespecification("* * * * * ?");
        return event;
    }
    const std::uint32_t spread = i / 2 * 7;
    const std::uint32_t hourly = spread % 3600;
    const std::uint32_t daily = spread % 86400;
    event.set_timespecification(
        i % 2 == 0 ? std::to_string(hourly % 60) + " " + std::to_string(hourly / 60) + " * * * ?"
                   : std::to_string(daily % 60) + " " + std::to_string(daily / 60 % 60) + " " +
                         std::to_string(daily / 3600) + " * * ?");
    return event;
}

TimeEvent Event(const char* text, std::uint32_t limit = 0) {
    TimeEvent event;
    event.set_timespecification(text);
    event.set_utclocal(true);
    if (limit != 0) event.mutable_range()->set_rangedefinitionoccurences(limit);
    return event;
}

UTCTime NowUtc() {
    const boost::posix_time::ptime now = boost::posix_time::second_clock::universal_time();
    UTCTime time;
    time.set_year(now.date().year());
    time.set_month(now.date().month());
    time.set_day(now.date().day());
    time.set_hour(static_cast<std::int32_t>(now.time_of_day().hours()));
    time.set_minute(static_cast<std::int32_t>(now.time_of_day().minutes()));
    time.set_second(static_cast<std::int32_t>(now.time_of_day().seconds()));
    return time;
}

// The user data of event `i`, sent back at each of its ticks.
class CLoadTick : public Kernel::IMessage {
public:
    explicit CLoadTick(std::uint32_t event) : event_(event) {}
    std::int32_t GetType() const override { return 9300; }
    std::string GetTypeName() const override { return "LoadTick"; }
    std::size_t GetHash() const override { return std::hash<std::uint32_t>{}(event_); }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        return Zent::Common::Message::IsSameClassAnd(
            *this, other, [this](const CLoadTick& that) { return that.event_ == event_; });
    }
    std::uint32_t Event() const { return event_; }

private:
    std::uint32_t event_;
};

// The ticks of the every-second events that arrive within the timed seconds: how far past
// its whole second each arrived, and how many each event had in each second. A tick a
// second or more late lands in a later second and leaves its own without a tick.
class CTickTally {
public:
    // Times the kMeasuredSeconds whole seconds from the one after next, whose end it returns.
    std::chrono::sys_seconds Start() {
        std::lock_guard lock(mutex_);
        first_ = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) + 2s;
        lateness_.clear();
        lateness_.reserve(kEverySecond * kMeasuredSeconds * 2);
        counts_.assign(kEverySecond * kMeasuredSeconds, 0);
        return first_ + std::chrono::seconds(kMeasuredSeconds);
    }

    void Record(std::uint32_t event) {
        const auto now = std::chrono::system_clock::now();
        const auto second = std::chrono::floor<std::chrono::seconds>(now);
        std::lock_guard lock(mutex_);
        const std::int64_t index = (second - first_).count();
        if (event >= kEverySecond || index < 0 || index >= kMeasuredSeconds) return;
        lateness_.push_back(
            std::chrono::duration_cast<std::chrono::microseconds>(now - second).count());
        ++counts_[event * kMeasuredSeconds + index];
    }

    void AddRows(const std::string& label, std::vector<BenchRow>& rows) const {
        std::lock_guard lock(mutex_);
        std::vector<std::int64_t> sorted = lateness_;
        std::sort(sorted.begin(), sorted.end());
        const auto ms = [&sorted](double fraction) {
            return sorted.empty() ? 0.0 : Percentile(sorted, fraction) / 1e3;
        };
        const std::string name = label + ": every-second tick lateness ";
        rows.push_back({name + "p50", ms(0.50), "ms", ""});
        const double p99 = ms(0.99);
        rows.push_back({name + "p99", p99, "ms", "< 5", !sorted.empty() && p99 < kTargetP99Ms});
        rows.push_back({name + "max", ms(1.0), "ms", ""});
        const auto missed = std::count(counts_.begin(), counts_.end(), 0);
        rows.push_back(
            {label + ": seconds without a tick (of " + std::to_string(counts_.size()) + ")",
             static_cast<double>(missed), "", "0", missed == 0});
    }

private:
    mutable std::mutex mutex_;
    std::chrono::sys_seconds first_{};
    std::vector<std::int64_t> lateness_;
    std::vector<std::uint8_t> counts_;
};

// Runs `ask` on a thread of its own, over and over, until stopped; `ask` returns how
// many queries it made. What it throws ends the loop and is thrown again by Stop.
class CQueryLoop {
public:
    explicit CQueryLoop(std::function<std::uint64_t()> ask)
        : start_(std::chrono::steady_clock::now()), thread_([this, ask = std::move(ask)] {
              try {
                  while (!stop_)
                      asked_ += ask();
              } catch (...) {
                  failure_ = std::current_exception();
              }
          }) {}
    ~CQueryLoop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    CQueryLoop(const CQueryLoop&) = delete;
    CQueryLoop& operator=(const CQueryLoop&) = delete;

    // Ends the loop; returns the queries per second it made.
    double Stop() {
        stop_ = true;
        thread_.join();
        if (failure_) std::rethrow_exception(failure_);
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
        return static_cast<double>(asked_) / elapsed.count();
    }

private:
    std::atomic<bool> stop_{false};
    std::uint64_t asked_ = 0;
    std::exception_ptr failure_;
    std::chrono::steady_clock::time_point start_;
    std::thread thread_;
};

void WaitForTimedSeconds(CTickTally& tally) {
    std::this_thread::sleep_until(tally.Start() + 100ms);
}

// The query types the module answers, in the order the client asks them.
constexpr const char* kQueryNames[] = {"ValidateTimeEvent",          "GetRemainingTimeBySpec",
                                       "GetRemainingTimeByUserData", "GetNextOccurrences (1000)",
                                       "GetLastTick (huge limit)",   "GetNextTimeRange",
                                       "GetTimeZoneDetails",         "GetAllTimeZoneDetails"};
constexpr std::uint32_t kQueryTypes = std::size(kQueryNames);

// A request of query type `type` (an index into kQueryNames).
std::shared_ptr<Kernel::IMessage> QueryRequest(std::uint32_t type, std::uint32_t id,
                                               const UTCTime& now) {
    switch (type) {
        case 0: {
            auto request = std::make_shared<Messages::CValidateTimeEvent>(id);
            request->SetTimeEvent(Event("0 30 8 ? * mon-fri"));
            request->SetTimeZoneSlack(true);
            return request;
        }
        case 1: {
            auto request = std::make_shared<Messages::CGetRemainingTimeBySpecRequest>(id);
            request->SetTimeEvent(LoadEvent(kProbe));
            return request;
        }
        case 2: {
            auto request = std::make_shared<Messages::CGetRemainingTimeByUserDataRequest>(id);
            request->SetUserData(std::make_shared<CLoadTick>(kProbe));
            return request;
        }
        case 3: {
            auto request = std::make_shared<Messages::CGetNextOccurrencesByUserDataRequest>(id);
            request->SetUserData(std::make_shared<CLoadTick>(kProbe));
            request->SetFromTime(now);
            request->SetCount(kOccurrencesAsked);
            return request;
        }
        case 4: {
            auto request = std::make_shared<Messages::CGetLastTickRequest>(id);
            request->SetTimeEvent(Event("* * * * * ?", kHugeLimit));
            return request;
        }
        case 5: {
            TimeRangeItem officeHours;
            officeHours.set_timespecification("0 0 8 ? * mon-fri");
            officeHours.set_durationseconds(10 * 3600);
            officeHours.set_utclocal(false);
            TimeRangeItem nightly;
            nightly.set_timespecification("0 30 23 * * ?");
            nightly.set_durationseconds(1800);
            nightly.set_utclocal(true);
            auto request = std::make_shared<Messages::CGetNextTimeRangeRequest>(id);
            request->SetRanges({officeHours, nightly});
            request->SetFromTime(now);
            return request;
        }
        case 6: {
            auto request = std::make_shared<Messages::CGetTimeZoneDetailsRequest>(id);
            request->SetLocaleName("en_US");
            request->SetTimeZoneId("Europe/Berlin");
            request->SetAtTime(now);
            return request;
        }
        default: {
            auto request = std::make_shared<Messages::CGetAllTimeZoneDetailsRequest>(id);
            request->SetLocaleName("en_US");
            return request;
        }
    }
}

void MeasureThroughBus(std::vector<BenchRow>& rows) {
    CTickTally tally;
    std::atomic<std::uint64_t> errorReplies{0};
    CBusClient client;
    client.Bus().AddObserver([&](const std::shared_ptr<Kernel::IMessage>& message,
                                 const Kernel::UserContextPtr&) {
        if (const auto* tick = dynamic_cast<const CLoadTick*>(message.get())) {
            tally.Record(tick->Event());
        } else if (dynamic_cast<const Zent::Common::Module::CResponseException*>(message.get()) !=
                   nullptr) {
            ++errorReplies;
        }
    });

    const auto start = std::chrono::steady_clock::now();
    client.Run(kEvents, kRegistrationWindow, [](std::uint32_t id) {
        // Ids start at 1.
        auto registration = std::make_shared<Messages::CRegisterTimeEvent>(id);
        registration->SetTimeEvent(LoadEvent(id - 1));
        registration->SetUserData(std::make_shared<CLoadTick>(id - 1));
        return registration;
    });
    const std::chrono::duration<double> registering = std::chrono::steady_clock::now() - start;
    if (errorReplies != 0) throw std::runtime_error("a registration was refused");
    rows.push_back({"Load bus: register 100k, " + std::to_string(kRegistrationWindow) +
                        " in flight: throughput",
                    kEvents / registering.count(), "req/s", ""});

    const UTCTime now = NowUtc();
    // Each round asks every type once, in order, so its i-th round trip is type i's.
    std::vector<std::vector<std::int64_t>> roundTrips(kQueryTypes);
    CQueryLoop queries([&client, &now, &roundTrips] {
        const std::vector<std::int64_t> round = client.Run(
            kQueryTypes, 1,
            [&now, type = 0U](std::uint32_t id) mutable { return QueryRequest(type++, id, now); });
        for (std::uint32_t type = 0; type < kQueryTypes; ++type)
            roundTrips[type].push_back(round[type]);
        return kQueryTypes;
    });
    WaitForTimedSeconds(tally);
    rows.push_back({"Load bus: queries, 1 in flight", queries.Stop(), "req/s", ""});
    for (std::uint32_t type = 0; type < kQueryTypes; ++type) {
        std::sort(roundTrips[type].begin(), roundTrips[type].end());
        rows.push_back({std::string("Load bus: ") + kQueryNames[type] + ", round trip p50",
                        Percentile(roundTrips[type], 0.5) / 1e3, "ms", ""});
    }
    rows.push_back(
        {"Load bus: error replies to queries", static_cast<double>(errorReplies.load()), "", ""});
    tally.AddRows("Load bus", rows);
}

// A production logger at its usual minimum level: detail lines, the dump's among them, are
// dropped unbuilt; the others are taken and discarded.
class CNullLogger : public Kernel::ILoggerResource {
public:
    void Log(const std::string&, std::int32_t, const std::string&) override {}
    bool IsEnabled(std::int32_t level) const override { return level >= 2; }
};

Zent::Common::Library::Logging::CLoggerBridge NullLoggerBridge() {
    auto logger = std::make_shared<CNullLogger>();
    auto stream = [logger](std::int32_t level) {
        return [logger, level] {
            return Products::Common::Zent::TraceLog::CLogStream(logger, level, "SchedulerModule");
        };
    };
    return Zent::Common::Library::Logging::CLoggerBridge(stream(2), stream(1), stream(4));
}

class CTallyTicks : public Zent::Scheduler::ITickHandler {
public:
    explicit CTallyTicks(CTickTally& tally) : tally_(tally) {}
    void OnTick(std::shared_ptr<Kernel::IMessage> userData,
                std::shared_ptr<Zent::Common::Security::CUserContext>) override {
        if (const auto* tick = dynamic_cast<const CLoadTick*>(userData.get())) {
            tally_.Record(tick->Event());
        }
    }

private:
    CTickTally& tally_;
};

void MeasureDirect(std::vector<BenchRow>& rows) {
    CTickTally tally;
    CTimeScheduler::Options options;
    // The observer dumps when it wakes to compare the clocks, so it wakes each second too.
    options.checkPeriod = 1s;
    options.dumpPeriod = 1s;
    CTimeScheduler scheduler(NullLoggerBridge(), options);
    scheduler.AddTickHandler(std::make_shared<CTallyTicks>(tally));
    CCrontabParser parser;
    for (std::uint32_t i = 0; i < kEvents; ++i) {
        const TimeEvent event = LoadEvent(i);
        scheduler.AddTab(
            std::make_shared<CCrontabScheduler>(parser.Parse(event.timespecification())), event,
            std::make_shared<CLoadTick>(i), nullptr);
    }

    const TimeEvent validated = Event("0 30 8 ? * mon-fri");
    const CCrontabScheduler validatedCrontab(parser.Parse(validated.timespecification()));
    const TimeEvent probe = LoadEvent(kProbe);
    const auto probeData = std::make_shared<CLoadTick>(kProbe);
    const TimeEvent hugeLimit = Event("* * * * * ?", kHugeLimit);
    std::uint64_t refused = 0;
    // The refusals are counted as the module's error replies would be.
    const auto ask = [&refused](const std::function<void()>& query) {
        try {
            query();
        } catch (const std::exception&) {
            ++refused;
        }
    };
    CQueryLoop queries([&] {
        CTimeScheduler::Time next;
        ask([&] { scheduler.ValidateTimeEvent(validatedCrontab, validated, true); });
        ask([&] { scheduler.GetRemainingTimeBySpec(probe, next); });
        ask([&] { scheduler.GetRemainingTimeByUserData(probeData, next); });
        ask([&] {
            scheduler.GetNextOccurrencesByUserData(
                probeData, boost::posix_time::second_clock::universal_time(), kOccurrencesAsked);
        });
        ask([&] { scheduler.GetLastTick(hugeLimit); });
        return std::uint64_t{5};
    });
    WaitForTimedSeconds(tally);
    rows.push_back(
        {"Load direct, dump each 1 s: queries, 1 at a time", queries.Stop(), "req/s", ""});
    rows.push_back({"Load direct: refused queries", static_cast<double>(refused), "", ""});
    tally.AddRows("Load direct", rows);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::vector<BenchRow> rows;
        MeasureThroughBus(rows);
        MeasureDirect(rows);
        PrintBenchTable(rows, !HasFlag(argc, argv, "--no-header"));
        return AllPass(rows) ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tick_lateness_bench: %s\n", e.what());
        return EXIT_FAILURE;
    }
}
