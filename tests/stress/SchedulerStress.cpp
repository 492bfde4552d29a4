// scheduler_stress: the scheduler module under load, checked tick by tick and reply by reply.
//
//     scheduler_stress --seconds 10 --seed 1    # the suite's short run
//     scheduler_stress --scale --seconds 600    # 100,000 events (build in release)
//
// A population of events is registered once (most of them sparse, some ticking every second,
// some in local time, some with random delays or occurrence limits); client threads then send
// all eleven requests, valid and broken, while a mover thread shifts the module's clock just
// before whole seconds: jumps, jumps during the re-plan of an earlier one, zone changes,
// excursions outside 1970..2099 and back, back-and-forth pairs spaced wider than the
// observer's check period. The bus observer (one thread) checks each tick and reply:
// - the clock's history is cut into epochs, one per change, and each tick is placed by the
//   moment the module sent it; every whole second of an epoch (but the one holding the
//   change, and after a set-back the first 200 ms) must bring exactly one tick of every
//   every-second event, on time (within a second of a change the re-plan may delay ticks:
//   those seconds are counted together);
// - a sparse event ticks only for a match after the one it last ticked for, and no crontab
//   event ticks while the clock is outside 1970..2099;
// - a churn registration never ticks once a later one of its slot replaced it or an
//   unregistration removed it, nor when it was refused;
// - every tick carries the context of the user who registered it;
// - a sleep never ticks before both its wall-clock due time and its steady duration;
// - every answered request is answered once, with its response type or an error, and the
//   answers the test can compute are compared with its own reference; a roll call at the end
//   asks for every registration;
// - a forced stop in a burst of requests ends within a second, the module's threads end and
//   nothing is sent after the unload.
// Exit code 0: clean; 1: violations; 2: usage.

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabScheduler.h"
#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/TimeConversions.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsResponse.h"
#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/message/scheduler/GetLastTickResponse.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataResponse.h"
#include "common/message/scheduler/GetNextTimeRangeRequest.h"
#include "common/message/scheduler/GetNextTimeRangeResponse.h"
#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"
#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"
#include "common/message/scheduler/GetRemainingTimeResponse.h"
#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetTimeZoneDetailsResponse.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/RegisterTimeEventResponse.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEventResponse.h"
#include "common/module/Response.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"
#include "tests/stress/StressSupport.h"
#include "tests/support/NamedUser.h"
#include "tests/support/TextMessage.h"

namespace Zent::Stress {
namespace {

using namespace std::chrono_literals;
using namespace Common::Message::Scheduler;
using boost::posix_time::hours;
using boost::posix_time::milliseconds;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using boost::posix_time::time_duration;
using boost::posix_time::time_from_string;
using Common::DataDefinition::Common::UTCTime;
using Common::DataDefinition::Scheduler::TimeEvent;
using Common::DataDefinition::Scheduler::TimeRangeItem;
using Common::Kernel::UserContextPtr;
using Common::Module::CResponse;
using Common::Module::CResponseException;
using Common::Security::CUserContext;
using Scheduler::ToUtcTime;

struct Options {
    int seconds = 20;  // length of the phase with the clock moving
    std::uint32_t events = 4'000;
    std::uint32_t everySecond = 200;  // of `events`
    std::uint32_t clients = 2;        // client threads sending requests
    // Requests each client sends per second; 0: as fast as its window of replies allows.
    // Unpaced clients keep both cores of a small machine busy answering, and then no thread
    // of the module, the tick thread included, gets the processor on time.
    std::uint32_t rate = 250;
    std::uint64_t seed = 0;
};

// The requests, the type that answers each (0: none) and their names.
struct RequestKind {
    std::int32_t type;
    std::int32_t reply;
    const char* name;
};
constexpr std::array<RequestKind, 11> kKinds = {{
    {CRegisterTimeEvent::kType, CRegisterTimeEventResponse::kType, "RegisterTimeEvent"},
    {CUnregisterTimeEvent::kType, 0, "UnregisterTimeEvent"},
    {CRegisterSleepEvent::kType, 0, "RegisterSleepEvent"},
    {CValidateTimeEvent::kType, CValidateTimeEventResponse::kType, "ValidateTimeEvent"},
    {CGetRemainingTimeBySpecRequest::kType, CGetRemainingTimeResponse::kType,
     "GetRemainingTimeBySpec"},
    {CGetRemainingTimeByUserDataRequest::kType, CGetRemainingTimeResponse::kType,
     "GetRemainingTimeByUserData"},
    {CGetNextOccurrencesByUserDataRequest::kType, CGetNextOccurrencesByUserDataResponse::kType,
     "GetNextOccurrencesByUserData"},
    {CGetLastTickRequest::kType, CGetLastTickResponse::kType, "GetLastTick"},
    {CGetNextTimeRangeRequest::kType, CGetNextTimeRangeResponse::kType, "GetNextTimeRange"},
    {CGetTimeZoneDetailsRequest::kType, CGetTimeZoneDetailsResponse::kType, "GetTimeZoneDetails"},
    {CGetAllTimeZoneDetailsRequest::kType, CGetAllTimeZoneDetailsResponse::kType,
     "GetAllTimeZoneDetails"},
}};

// The index of `Request` in kKinds, plus one (0 marks a record never sent).
template <typename Request>
constexpr std::uint8_t KindOf() {
    std::uint8_t index = 0;
    while (kKinds[index].type != Request::kType)
        ++index;
    return index + 1;
}

enum class TagKind : std::uint8_t { Event, Churn, Sleep };

// The user data of every registration, equal when kind and key are: the key is the
// population index, the churn slot or the sleep's request id; `id` names the request that
// registered it. The bus asks a message for its type as it queues it, on the sender's
// thread: for a tick, the moment the module sent it, which the tag keeps, so that the checks
// do not depend on how far the observer lags.
class CKeyTag : public Testing::CTextMessage {
public:
    CKeyTag(TagKind kind, std::uint32_t key, std::uint32_t id)
        : CTextMessage(Stress::Text(static_cast<int>(kind), ":", key)),
          kind_(kind),
          key_(key),
          id_(id) {}
    std::int32_t GetType() const override {
        sentAt_.store(SteadyClock::now().time_since_epoch().count(), std::memory_order_relaxed);
        return CTextMessage::GetType();
    }
    TagKind Kind() const { return kind_; }
    std::uint32_t Key() const { return key_; }
    std::uint32_t Id() const { return id_; }
    // When the bus last took it.
    SteadyClock::time_point SentAt() const {
        return SteadyClock::time_point(SteadyClock::duration(sentAt_.load()));
    }

private:
    TagKind kind_;
    std::uint32_t key_, id_;
    mutable std::atomic<SteadyClock::rep> sentAt_{0};
};

std::shared_ptr<CKeyTag> Tag(TagKind kind, std::uint32_t key, std::uint32_t id = 0) {
    return std::make_shared<CKeyTag>(kind, key, id);
}

constexpr std::uint32_t kChurnSlots = 512;  // shared out among the clients
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t kMaxRequests = 20'000'000;
constexpr int kWindow = 64;  // replies a client waits for at once
const time_duration kMaxLateness = milliseconds(50 * kSlowBuild);
// After a set-back the module has this long to tick again.
const time_duration kSetBackWindow = milliseconds(200);
// The second after a change carries its re-plan: of every event after a jump, of the
// local ones after a zone change (on the one tick thread, which the others wait for too).
const time_duration kReplanAllowance = seconds(kSlowBuild == 1 ? 1 : 2);
// How long after a change sparse ticks are left unchecked (timers it passed fire then).
const time_duration kSparseSettle = milliseconds(1500);
const std::chrono::milliseconds kCheckPeriod = 10s;
// Local events follow a zone change at the observer's next check.
const std::chrono::milliseconds kZoneSettle = kCheckPeriod + 2s;
const ptime kFirstSupported = time_from_string("1970-01-01 00:00:00");
const ptime kPastSupported = time_from_string("2100-01-01 00:00:00");
// Start of the reference queries: the run's clock stays before it.
const ptime kFuture = time_from_string("2030-01-01 00:00:00");

// The sparse texts, how often each is drawn, and the random delay its events may carry.
struct SparseText {
    const char* text;
    double weight;
    std::int32_t maxDelay;  // 0: never delayed
};
constexpr std::array<SparseText, 12> kSparseTexts = {{
    {"0 0 12 * * ?", 30, 0},
    {"0 15 10 ? * MON-FRI", 15, 0},
    {"0 0/5 14,18 * * ?", 10, 0},
    {"0 0 0 L * ?", 8, 0},
    {"0 0 12 ? * 6#3", 8, 0},
    {"0 0 0 LW * ?", 8, 0},
    {"0 0 0 ? * 5L", 8, 0},
    {"0 0 0 1 1 ? 2030-2031", 8, 0},
    {"0 0 * * * ?", 2, 600},
    {"0 * * * * ?", 0.2, 30},
    {"*/10 * * * * ?", 0.1, 5},
    {"30 */2 * * * ?", 0.3, 0},
}};
// The events with an occurrence limit tick every five seconds, spread over each step.
constexpr std::array kLimitedTexts = {"0/5 * * * * ?", "1/5 * * * * ?", "2/5 * * * * ?",
                                      "3/5 * * * * ?", "4/5 * * * * ?"};
constexpr std::array kChurnTexts = {"* * * * * ?", "0 * * * * ?", "0 0 12 * * ?"};

// One defect each: a churn registration with one may be refused, and then must never tick.
constexpr std::array<void (*)(TimeEvent&, const ptime&), 8> kDefects = {
    [](TimeEvent& e, const ptime&) { e.set_timespecification("1,,2 * * * * ?"); },
    [](TimeEvent& e, const ptime&) { e.clear_timespecification(); },
    [](TimeEvent& e, const ptime&) { e.mutable_starttime()->set_month(13); },
    [](TimeEvent& e, const ptime& now) {  // a start without its other fields
        e.mutable_starttime()->set_year(now.date().year());
    },
    [](TimeEvent& e, const ptime& now) {
        *e.mutable_range()->mutable_rangedefinitionendtime() = ToUtcTime(now - hours(1));
    },
    [](TimeEvent& e, const ptime& now) {
        *e.mutable_starttime() = ToUtcTime(now + hours(48));
        *e.mutable_range()->mutable_rangedefinitionendtime() = ToUtcTime(now + hours(24));
    },
    [](TimeEvent& e, const ptime&) { e.mutable_range()->set_rangedefinitionoccurences(0); },
    [](TimeEvent& e, const ptime&) { e.set_delay(-5); },
};

// Texts the parser refuses; the references are its own error texts, then these.
constexpr std::array kRefused = {
    "61 * * * * ?",      "*/0 * * * * ?",   "a b c d e f",  "0 0 25 * * ?", "5-2 * * * * ?",
    "0 0 0 ? * MON-XYZ", "* * * * * * * *", "0 0 0 32 * ?", "L W # ? - ,",  "0 0 0 ? * 8#1"};
constexpr std::array kOtherErrors = {
    "The event never occurs", "Cannot serialize timeEvent to string", "User data not found."};
enum : std::uint32_t { kNeverOccurs = kRefused.size(), kCannotSerialize, kNotFound };

constexpr std::array kZones = {"Europe/Berlin", "America/New_York", "UTC",        "Asia/Kolkata",
                               "Mars/Olympus",  "europe/berlin",    "Etc/GMT+14", ""};
constexpr std::array kLocales = {"en", "de_DE", "ja_JP", "", "xx_INVALID@@"};

// Reference answers of GetLastTick; all start at kFuture and name no delay.
struct LastTickCase {
    const char* text;
    std::uint32_t limit;  // 0: none
    const char* end;      // nullptr: none
    ptime expected;
};
const std::array<LastTickCase, 9> kLastTicks = {{
    {"* * * * * ?", 1, nullptr, kFuture},
    {"* * * * * ?", 1000, nullptr, kFuture + seconds(999)},
    {"* * * * * ?", 20'000'000, nullptr, kFuture + seconds(19'999'999)},
    {"* * * * * ?", 1'000'000'000, nullptr, kFuture + seconds(999'999'999)},
    {"0 0 12 * * ?", 20'000, nullptr,
     ptime(kFuture.date() + boost::gregorian::days(19'999), hours(12))},
    {"0 0 0 1 * ?", 100, nullptr, time_from_string("2038-04-01 00:00:00")},
    {"0 0 0 1 1 ? 2030", kMaxU32, nullptr, kFuture},
    {"0 0 0 1 1 ? 2030", 0, nullptr, kFuture},
    {"* * * * * ?", 20'000'000, "2030-01-02 00:00:00", time_from_string("2030-01-02 00:00:00")},
}};

// Validations and their answers: success, or the error text at index `error`.
struct ValidationCase {
    const char* text;
    const char* start;  // nullptr: none
    const char* end;    // nullptr: none
    bool slack;
    std::uint32_t error;  // kMaxU32: valid; kRefused.size(): one of kRefused, drawn
};
constexpr std::array<ValidationCase, 5> kValidations = {{
    {"0 0 0 1 1 ? 2090", nullptr, nullptr, false, kMaxU32},  // fires in 2090 only
    {"0 0 0 1 1 ? 2090", nullptr, nullptr, true, kMaxU32},
    {"* * * * * ?", nullptr, "2001-01-01 00:00:00", false, kNeverOccurs},  // ended long ago
    // With slack, a start at the first supported second is valid.
    {"* * * * * ?", "1970-01-01 00:00:00", nullptr, true, kMaxU32},
    {nullptr, nullptr, nullptr, false, kRefused.size()},
}};

// One event of the population.
struct EventSpec {
    TimeEvent event;
    std::shared_ptr<const Scheduler::CCrontabScheduler> crontab;
    std::int32_t maxDelay = 0;
    std::uint32_t limit = 0;  // 0: none
};

enum class ChangeKind : std::uint8_t { Start, Forward, SetBack, Zone };

// The clock between two changes.
struct Epoch {
    ChangeKind kind;
    SteadyClock::time_point startSteady, endSteady;
    ptime startWall;  // just after the change
    ptime endWall;    // just before the next change; not-a-date-time while it lasts
    time_duration utcOffset;
    bool outOfRange;                 // outside 1970..2099
    unsigned setBacks, zoneChanges;  // before it, its own included
    // Every-second events tick in each second that starts from `dueFrom` on, and on time
    // from `punctualFrom` on: a set-back gives the module a moment to notice, a jump the
    // time to re-plan. A window that a quick next change cuts short carries over into it.
    ptime dueFrom, punctualFrom;
};

// What a reply to a request must be, when the test knows it.
enum class Expect : std::uint8_t {
    Nothing,      // any reply
    Success,      // no error
    Replaces,     // no error, and the slot's earlier registrations are gone
    Probe,        // any reply, which shows that the unregistration sent before it was done
    Error,        // an error with the text the record's `expected` indexes
    Remaining,    // a remaining time of an every-second event
    Occurrences,  // `count` whole seconds after `fromSecond`
    LastTick,     // kLastTicks[expected]
};

struct Record {
    std::uint8_t kind;  // KindOf the request; 0: never sent
    std::uint8_t replies, ticks;
    std::uint8_t client;  // index of the context that sent it
    Expect expect;
    bool refused;       // answered with an error
    bool nowDependent;  // the reference holds only while the clock rests
    bool settled;       // sent once the module had re-planned after the last change
    bool localTime;     // about an event in local time
    std::uint32_t expected, sleepSeconds;
    std::uint32_t slot;  // of a churn registration or unregistration
    std::uint32_t sentEpoch, sentExcursions;
    std::uint64_t count;
    std::int64_t fromSecond, sentSecond;  // since 1970; sent: by the module's clock
    SteadyClock::time_point sentSteady;
};

// Whole seconds since 1970 (negative before), rounded down.
std::int64_t WholeSeconds(const ptime& t) {
    const time_duration since = t - kFirstSupported;
    std::int64_t whole = since.total_seconds();
    return since < seconds(whole) ? whole - 1 : whole;
}

ptime AtSecond(std::int64_t second) {
    return kFirstSupported + seconds(second);
}

ptime WallAt(const Epoch& epoch, SteadyClock::time_point steady) {
    return epoch.startWall +
           boost::posix_time::microseconds(
               std::chrono::duration_cast<std::chrono::microseconds>(steady - epoch.startSteady)
                   .count());
}

std::size_t CountThreads() {
    using std::filesystem::directory_iterator;
    return std::distance(directory_iterator("/proc/self/task"), directory_iterator());
}

class CStressRun {
public:
    explicit CStressRun(Options options) : options_(options), records_(kMaxRequests) {
        Scheduler::CCrontabParser parser;
        for (const char* text : kRefused) {
            try {
                parser.Parse(text);
                errorTexts_.push_back("(accepted)");
            } catch (const std::exception& e) {
                errorTexts_.emplace_back(e.what());
            }
        }
        errorTexts_.insert(errorTexts_.end(), kOtherErrors.begin(), kOtherErrors.end());
        everySecondTally_.resize(options_.everySecond);
        retiredBelow_.assign(kChurnSlots, 0);
        BuildPopulation(parser);
    }

    int Execute() {
        std::printf(
            "scheduler_stress: seed %llu, %u events (%u every second), %u clients at %u "
            "requests/s (0: unpaced), %d s\n",
            static_cast<unsigned long long>(options_.seed), options_.events, options_.everySecond,
            options_.clients, options_.rate, options_.seconds);
        Phase("loading the module");
        StartModule();
        Phase("registering the population");
        RegisterPopulation();
        Phase("main phase");
        {
            std::lock_guard lock(epochLock_);
            const ptime now = Now();  // the first second is a whole one after the start
            epochs_.push_back({ChangeKind::Start,
                               SteadyClock::now(),
                               {},
                               now,
                               ptime(),
                               clock_->UtcOffset(now),
                               false,
                               0,
                               0,
                               now + seconds(1),
                               now});
            checking_ = true;
        }
        std::vector<std::thread> clients;
        for (std::uint32_t i = 0; i < options_.clients; ++i)
            clients.emplace_back([this, i] { ClientMain(i); });
        MoverMain(SteadyClock::now() + std::chrono::seconds(options_.seconds));
        stopClients_ = true;
        for (std::thread& client : clients)
            client.join();
        Phase("settling");
        std::this_thread::sleep_for(3s);  // the clock at rest
        Phase("asking for every registration without a limit");
        for (std::uint32_t i = 0; i < options_.events; ++i) {
            if (population_[i].limit != 0) continue;
            Send<CGetRemainingTimeByUserDataRequest>(
                options_.clients,
                [&](auto& request, Record&) { request.SetUserData(Tag(TagKind::Event, i)); },
                Expect::Success);
        }
        {
            std::lock_guard lock(epochLock_);
            epochs_.back().endWall = Now();
            checking_ = false;
        }
        WaitForReplies(120s);
        host_->GetBus().WaitUntilIdle(30s);
        const std::uint32_t accounted = EndId();
        {
            std::lock_guard observing(observerLock_);
            CloseTallies(epochs_.size());
            CheckRecords(1, accounted, true);
        }
        ForcedStop();
        CheckRecords(accounted, EndId(), false);
        PrintSummary();
        return violations_.Count() == 0 ? 0 : 1;
    }

private:
    void Phase(const char* name) {
        std::printf("[%7.1f s] %s\n", Elapsed(), name);
        std::fflush(stdout);
    }
    double Elapsed() const {
        return std::chrono::duration<double>(SteadyClock::now() - start_).count();
    }
    void Violation(const std::string& kind, const std::string& text) {
        violations_.Report(kind, text);
    }
    ptime Now() const { return clock_->UniversalTime(); }
    std::uint32_t EndId() const { return std::min(nextId_.load(), kMaxRequests + 1); }

    void WaitForReplies(std::chrono::seconds limit) {
        if (!WaitUntil([this] { return firstReplies_ >= expectedReplies_; },
                       SteadyClock::now() + limit)) {
            Violation("missing reply", Text(expectedReplies_ - firstReplies_,
                                            " requests unanswered ", limit.count(), " s on"));
        }
    }

    // The population: every-second events first (one in ten in local time), then sparse ones,
    // one in twenty of them with an occurrence limit. Each carries its own start in the past,
    // so that its specification is unique.
    void BuildPopulation(Scheduler::CCrontabParser& parser) {
        Rng rng(options_.seed);
        std::map<std::string, std::shared_ptr<const Scheduler::CCrontabScheduler>> crontabs;
        std::vector<double> weights;
        for (const SparseText& sparse : kSparseTexts)
            weights.push_back(sparse.weight);
        std::discrete_distribution<std::size_t> drawText(weights.begin(), weights.end());
        const ptime pastStart = time_from_string("2020-01-01 00:00:00");
        population_.resize(options_.events);
        for (std::uint32_t i = 0; i < options_.events; ++i) {
            EventSpec& spec = population_[i];
            TimeEvent& event = spec.event;
            *event.mutable_starttime() = ToUtcTime(pastStart + seconds(i));
            if (i < options_.everySecond) {
                event.set_timespecification("* * * * * ?");
                event.set_utclocal(i % 10 != 0);
            } else if (i % 20 == 0) {
                event.set_timespecification(kLimitedTexts[i / 20 % kLimitedTexts.size()]);
                event.set_utclocal(true);
                spec.limit = 3 + i % 4;
                event.mutable_range()->set_rangedefinitionoccurences(spec.limit);
            } else {
                const SparseText& sparse = kSparseTexts[drawText(rng)];
                event.set_timespecification(sparse.text);
                event.set_utclocal(!Chance(rng, 0.1));
                if (sparse.maxDelay > 0 && Chance(rng, 0.5)) {
                    spec.maxDelay = Uniform<std::int32_t>(rng, 1, sparse.maxDelay);
                    event.set_delay(spec.maxDelay);
                }
            }
            auto& crontab = crontabs[event.timespecification()];
            if (!crontab) {
                crontab = std::make_shared<Scheduler::CCrontabScheduler>(
                    parser.Parse(event.timespecification()));
            }
            spec.crontab = crontab;
        }
        sparseTicks_.assign(options_.events, SparseTally{});
    }

    void StartModule() {
        Host::CSchedulerHost::Options hostOptions;
        hostOptions.logSink = [this](const Host::LogRecord& record) {
            const auto level = static_cast<std::size_t>(record.level);
            ++logLines_[level >= 1 && level <= 4 ? level : 0];
        };
        host_ = std::make_unique<Host::CSchedulerHost>(std::move(hostOptions));
        host_->GetBus().AddObserver(
            [this](const auto& message, const auto& context) { Observe(message, context); });
        threadsBeforeLoad_ = CountThreads();
        host_->Load(SCHEDULER_LIBRARY);
        seams_ = std::make_unique<CModuleSeams>(SCHEDULER_LIBRARY);
        seams_->SetClock(clock_);
        seams_->SetObserverPeriods(kCheckPeriod, 1s);  // the event dump every second
        host_->Initialize();
        host_->Start();
        for (std::uint32_t i = 0; i <= options_.clients; ++i) {  // the last: the main thread's
            contexts_.push_back(std::make_shared<CUserContext>(
                std::make_shared<Testing::CNamedUser>(Text("client-", i))));
        }
    }

    void RegisterPopulation() {
        const auto begin = SteadyClock::now();
        // No first tick is for a match before the registration.
        const ptime registered = Now() - seconds(1);
        for (std::uint32_t i = 0; i < options_.events; ++i) {
            sparseTicks_[i].lastMatch = population_[i].event.utclocal()
                                            ? registered
                                            : registered + clock_->UtcOffset(registered);
        }
        // The every-second events are spread through the order of registration, so that a
        // re-plan, which walks the events in that order a chunk at a time, finds some of
        // them in each chunk: those not walked yet tick between chunks.
        std::vector<std::uint32_t> order;
        const std::uint32_t stride = options_.events / options_.everySecond;
        std::uint32_t sparse = options_.everySecond;
        for (std::uint32_t index = 0; index < options_.everySecond; ++index) {
            order.push_back(index);
            for (std::uint32_t k = 1; k < stride && sparse < options_.events; ++k)
                order.push_back(sparse++);
        }
        while (sparse < options_.events)
            order.push_back(sparse++);
        for (const std::uint32_t i : order) {
            Send<CRegisterTimeEvent>(
                options_.clients,
                [&](auto& request, Record&) {
                    request.SetTimeEvent(population_[i].event);
                    request.SetUserData(Tag(TagKind::Event, i));
                },
                Expect::Success);
        }
        WaitForReplies(600s);
        registrationSeconds_ = std::chrono::duration<double>(SteadyClock::now() - begin).count();
        std::printf("  %u registrations answered in %.1f s\n", options_.events,
                    registrationSeconds_);
        std::this_thread::sleep_for(2s);  // every every-second event ticks before the checks
    }

    // Sending.

    // Sends a `Request` with the next request id from context `client`, filled in by
    // `fill(request, record)`; its reply must be as `expect` says. The main thread's
    // requests wait while 1,024 replies are outstanding.
    template <typename Request, typename Fill>
    void Send(std::uint32_t client, Fill&& fill, Expect expect = Expect::Nothing,
              std::uint32_t expected = 0) {
        while (client == options_.clients && expectedReplies_ - firstReplies_ >= 1024)
            std::this_thread::sleep_for(200us);
        const std::uint32_t id = nextId_.fetch_add(1);
        if (id > kMaxRequests) return;
        auto request = std::make_shared<Request>(id);
        Record& record = records_[id];
        fill(*request, record);
        record.kind = KindOf<Request>();
        record.client = static_cast<std::uint8_t>(client);
        record.expect = expect;
        record.expected = expected;
        record.sentSteady = SteadyClock::now();
        {
            std::lock_guard lock(epochLock_);
            record.sentEpoch = static_cast<std::uint32_t>(epochs_.size());
            record.sentExcursions = inExcursion_ ? kMaxU32 : excursions_;
            record.settled = epochs_.empty() || !(Now() < epochs_.back().punctualFrom);
        }
        record.sentSecond = WholeSeconds(Now());
        if (kKinds[record.kind - 1].reply != 0) ++expectedReplies_;
        ++sent_[record.kind - 1];
        if (!host_->Send(std::move(request), contexts_[client]))
            Violation("bus", "the bus refused a request");
    }

    void ClientMain(std::uint32_t client) {
        Rng rng(options_.seed * 7919 + client + 1);
        std::vector<double> weights;
        for (const Operation& operation : kOperations)
            weights.push_back(operation.weight);
        std::discrete_distribution<std::size_t> operation(weights.begin(), weights.end());
        const auto begin = SteadyClock::now();
        for (std::uint64_t sent = 0; !stopClients_ && nextId_ <= kMaxRequests;) {
            if (expectedReplies_ - firstReplies_ >= kWindow * options_.clients) {
                std::this_thread::sleep_for(200us);
                continue;
            }
            if (options_.rate != 0)
                std::this_thread::sleep_until(
                    begin + std::chrono::microseconds(sent * 1'000'000 / options_.rate));
            (this->*kOperations[operation(rng)].send)(rng, client);
            ++sent;
        }
    }

    std::uint32_t SomeEverySecond(Rng& rng) const {
        return Uniform<std::uint32_t>(rng, 0, options_.everySecond - 1);
    }

    // The churn slots are shared out among the clients, so that the requests about one
    // slot come from one thread, in the order the module takes them.
    std::uint32_t SomeChurnSlot(Rng& rng, std::uint32_t client) const {
        const std::uint32_t perClient = kChurnSlots / options_.clients;
        return (Uniform<std::uint32_t>(rng, 0, perClient - 1) * options_.clients + client) %
               kChurnSlots;
    }

    // A churn registration replaces its slot's earlier one; one in five carries a defect.
    void SendChurn(Rng& rng, std::uint32_t client) {
        const std::uint32_t slot = SomeChurnSlot(rng, client);
        TimeEvent event;
        event.set_timespecification(Pick(rng, kChurnTexts));
        event.set_utclocal(Chance(rng, 0.8));
        const bool defective = Chance(rng, 0.2);
        if (defective) Pick(rng, kDefects)(event, Now());
        Send<CRegisterTimeEvent>(
            client,
            [&](auto& request, Record& record) {
                record.slot = slot;
                request.SetTimeEvent(event);
                request.SetUserData(Tag(TagKind::Churn, slot, request.GetRequestId()));
            },
            defective ? Expect::Nothing : Expect::Replaces);
    }

    // Unregistration is never answered: the query for the same user data that follows shows
    // when it was done.
    void SendUnregistration(Rng& rng, std::uint32_t client) {
        const std::uint32_t slot = SomeChurnSlot(rng, client);
        const auto tagged = [&](auto& request, Record& record) {
            record.slot = slot;
            request.SetUserData(Tag(TagKind::Churn, slot));
        };
        Send<CUnregisterTimeEvent>(client, tagged);
        Send<CGetRemainingTimeByUserDataRequest>(client, tagged, Expect::Probe);
    }

    // A sleep; its key is its request id.
    void SendSleep(Rng& rng, std::uint32_t client) {
        Send<CRegisterSleepEvent>(client, [&](auto& request, Record& record) {
            record.sleepSeconds = Chance(rng, 0.7) ? Uniform<std::uint32_t>(rng, 1, 15)
                                                   : Uniform<std::uint32_t>(rng, 600, 3600);
            request.SetSleepSeconds(record.sleepSeconds);
            request.SetUserData(Tag(TagKind::Sleep, request.GetRequestId()));
            ++sleepsSent_;
        });
    }

    void SendValidation(Rng& rng, std::uint32_t client) {
        const ValidationCase& known = Pick(rng, kValidations);
        std::uint32_t error = known.error;
        TimeEvent event;
        event.set_utclocal(true);
        if (known.text == nullptr) error = Uniform<std::uint32_t>(rng, 0, kRefused.size() - 1);
        event.set_timespecification(known.text != nullptr ? known.text : kRefused[error]);
        if (known.start) *event.mutable_starttime() = ToUtcTime(time_from_string(known.start));
        if (known.end) {
            *event.mutable_range()->mutable_rangedefinitionendtime() =
                ToUtcTime(time_from_string(known.end));
        }
        Send<CValidateTimeEvent>(
            client,
            [&](auto& request, Record&) {
                request.SetTimeEvent(event);
                request.SetTimeZoneSlack(known.slack);
            },
            error == kMaxU32 ? Expect::Success : Expect::Error, error);
    }

    void SendRemainingBySpec(Rng& rng, std::uint32_t client) {
        const std::uint32_t index = SomeEverySecond(rng);
        TimeEvent event = population_[index].event;
        const bool incomplete = Chance(rng, 0.1);
        if (incomplete) {  // a start without its required fields
            *event.mutable_starttime() = UTCTime();
            event.mutable_starttime()->set_year(2030);
        }
        Send<CGetRemainingTimeBySpecRequest>(
            client,
            [&](auto& request, Record& record) {
                request.SetTimeEvent(event);
                record.nowDependent = true;
                record.localTime = !event.utclocal();
            },
            incomplete ? Expect::Error : Expect::Remaining, kCannotSerialize);
    }

    // About an every-second event, a sparse one without a limit (never erased, so found), or
    // an unknown key.
    void SendRemainingByUserData(Rng& rng, std::uint32_t client) {
        const int kind = Weighted(rng, {6, 3, 1});
        std::uint32_t index = SomeEverySecond(rng);
        if (kind == 1) {
            index = Uniform<std::uint32_t>(rng, options_.everySecond, options_.events - 1);
            if (population_[index].limit != 0) index = SomeEverySecond(rng);
        }
        const bool everySecond = index < options_.everySecond;
        Send<CGetRemainingTimeByUserDataRequest>(
            client,
            [&](auto& request, Record& record) {
                request.SetUserData(Tag(TagKind::Event, kind == 2 ? kMaxU32 : index));
                record.nowDependent = everySecond;
                record.localTime = !population_[index].event.utclocal();
            },
            kind == 2     ? Expect::Error
            : everySecond ? Expect::Remaining
                          : Expect::Success,
            kNotFound);
    }

    void SendNextOccurrences(Rng& rng, std::uint32_t client) {
        const std::uint32_t index = SomeEverySecond(rng);
        const ptime from = kFuture + seconds(Uniform(rng, 0, 86400 * 365));
        const int draw = Uniform(rng, 0, 9);
        const std::uint64_t count = draw < 5   ? Uniform<std::uint64_t>(rng, 0, 20)
                                    : draw < 8 ? Uniform<std::uint64_t>(rng, 21, 500)
                                    : draw < 9 ? 10'000
                                               : std::numeric_limits<std::uint64_t>::max();
        Send<CGetNextOccurrencesByUserDataRequest>(
            client,
            [&](auto& request, Record& record) {
                request.SetUserData(Tag(TagKind::Event, index));
                request.SetCount(count);
                request.SetFromTime(ToUtcTime(from));
                record.count = count;
                record.fromSecond = WholeSeconds(from);
            },
            Expect::Occurrences);
    }

    void SendLastTick(Rng& rng, std::uint32_t client) {
        const auto index = Uniform<std::uint32_t>(rng, 0, kLastTicks.size() - 1);
        const LastTickCase& known = kLastTicks[index];
        TimeEvent event;
        event.set_utclocal(true);
        event.set_timespecification(known.text);
        *event.mutable_starttime() = ToUtcTime(kFuture);
        if (known.limit != 0) event.mutable_range()->set_rangedefinitionoccurences(known.limit);
        if (known.end != nullptr) {
            *event.mutable_range()->mutable_rangedefinitionendtime() =
                ToUtcTime(time_from_string(known.end));
        }
        Send<CGetLastTickRequest>(
            client, [&](auto& request, Record&) { request.SetTimeEvent(event); }, Expect::LastTick,
            index);
    }

    // The three requests below are checked for their reply type only.
    void SendNextRange(Rng& rng, std::uint32_t client) {
        Send<CGetNextTimeRangeRequest>(client, [&](auto& request, Record&) {
            std::vector<TimeRangeItem> ranges(Uniform<std::size_t>(rng, 0, 3));
            for (TimeRangeItem& item : ranges) {
                item.set_timespecification(Chance(rng, 0.9) ? Pick(rng, kSparseTexts).text
                                                            : Pick(rng, kRefused));
                item.set_durationseconds(Chance(rng, 0.1) ? kMaxU32
                                                          : Uniform<std::uint32_t>(rng, 0, 86400));
                item.set_utclocal(Chance(rng, 0.7));
            }
            request.SetRanges(std::move(ranges));
            request.SetFromTime(ToUtcTime(Now()));
        });
    }

    void SendZoneDetails(Rng& rng, std::uint32_t client) {
        Send<CGetTimeZoneDetailsRequest>(client, [&](auto& request, Record&) {
            request.SetTimeZoneId(Pick(rng, kZones));
            request.SetLocaleName(Pick(rng, kLocales));
            request.SetAtTime(ToUtcTime(Now()));
            request.SetTranslatorFlag(Chance(rng, 0.5));
        });
    }

    void SendAllZoneDetails(Rng& rng, std::uint32_t client) {
        Send<CGetAllTimeZoneDetailsRequest>(
            client, [&](auto& request, Record&) { request.SetLocaleName(Pick(rng, kLocales)); });
    }

    // The clients' requests, and how often each is sent relative to the others.
    struct Operation {
        double weight;
        void (CStressRun::*send)(Rng&, std::uint32_t);
    };
    static constexpr std::array<Operation, 11> kOperations = {{
        {10, &CStressRun::SendChurn},
        {6, &CStressRun::SendUnregistration},
        {3, &CStressRun::SendSleep},
        {8, &CStressRun::SendValidation},
        {6, &CStressRun::SendRemainingBySpec},
        {8, &CStressRun::SendRemainingByUserData},
        {6, &CStressRun::SendNextOccurrences},
        {6, &CStressRun::SendLastTick},
        {3, &CStressRun::SendNextRange},
        {3, &CStressRun::SendZoneDetails},
        {0.2, &CStressRun::SendAllZoneDetails},
    }};

    // Moving the clock.

    // Waits until the module's wall clock is a few milliseconds before a whole second.
    void WaitForSecondEnd(Rng& rng) {
        const time_duration intoSecond =
            milliseconds(Now().time_of_day().total_milliseconds() % 1000);
        time_duration wait = seconds(1) - intoSecond - milliseconds(Uniform(rng, 3, 30));
        if (wait.is_negative()) wait += seconds(1);
        std::this_thread::sleep_for(std::chrono::microseconds(wait.total_microseconds()));
    }

    // Moves the clock by `delta`, sets its zone's offset when given, and opens the next epoch.
    void Change(time_duration delta, std::optional<time_duration> offset = std::nullopt) {
        std::lock_guard lock(epochLock_);
        shift_ += delta;
        Epoch& last = epochs_.back();
        last.endSteady = SteadyClock::now();
        last.endWall = Now();
        clock_->Jump(delta);
        if (offset) clock_->SetUtcOffset(*offset);
        const ptime wall = Now();
        const bool outOfRange = wall < kFirstSupported || !(wall < kPastSupported);
        if (outOfRange && !last.outOfRange) ++excursions_;
        inExcursion_ = outOfRange;
        const ChangeKind kind = delta.is_negative()       ? ChangeKind::SetBack
                                : delta > time_duration() ? ChangeKind::Forward
                                                          : ChangeKind::Zone;
        const auto carried = [&](const ptime& lastFrom) {
            return lastFrom > last.endWall ? lastFrom - last.endWall : time_duration();
        };
        const time_duration due = std::max(
            kind == ChangeKind::SetBack ? kSetBackWindow : time_duration(), carried(last.dueFrom));
        const time_duration punctual = std::max(kReplanAllowance, carried(last.punctualFrom));
        epochs_.push_back({kind,
                           SteadyClock::now(),
                           {},
                           wall,
                           ptime(),
                           clock_->UtcOffset(wall),
                           outOfRange,
                           last.setBacks + (kind == ChangeKind::SetBack),
                           last.zoneChanges + (kind == ChangeKind::Zone),
                           wall + due,
                           wall + punctual});
        std::printf("[%7.1f s] clock: %+lld s, zone offset %+lld s: %s\n", Elapsed(),
                    static_cast<long long>(delta.total_seconds()),
                    static_cast<long long>(clock_->UtcOffset(wall).total_seconds()),
                    boost::posix_time::to_simple_string(wall).c_str());
        std::fflush(stdout);
        ++changes_[static_cast<std::size_t>(kind)];
    }

    // Rests, then moves the clock, until `end`. The clock stays where it is: putting it back
    // would fire every sparse event the way back passes.
    void MoverMain(SteadyClock::time_point end) {
        Rng rng(options_.seed * 31 + 17);
        // A forward jump fires at once every timer it passes: a day would pass nearly every
        // sparse event, and the catch-up, not the re-plan, would set the pace.
        const std::array<time_duration, 4> setBacks = {seconds(10), seconds(300), hours(1),
                                                       hours(24)};
        const std::array<time_duration, 3> forward = {seconds(10), seconds(300), hours(1)};
        const auto rest = [&](std::chrono::milliseconds length) {
            return !WaitUntil([this] { return stopClients_.load(); }, SteadyClock::now() + length,
                              50ms);
        };
        const auto inBounds = [&](time_duration delta) -> time_duration {
            const time_duration next = shift_ + delta;
            if (next < hours(-48)) return hours(1);
            return next > hours(2) ? -delta : delta;
        };
        const auto hold = kCheckPeriod + 2s;  // the observer sees each change on its own
        const auto there = [&](time_duration delta) {
            Change(delta);
            rest(hold);
            WaitForSecondEnd(rng);
            Change(-delta);
        };
        while (SteadyClock::now() + 3s < end &&
               rest(std::chrono::milliseconds(Uniform(rng, 2000, 5000)))) {
            // Pairs and excursions only while there is time to hold them.
            const double holdable = SteadyClock::now() + 3s + hold < end ? 1 : 0;
            WaitForSecondEnd(rng);
            switch (Weighted(rng, {6, 2, holdable, holdable, 1})) {
                case 0:
                    Change(inBounds(Chance(rng, 0.5) ? Pick(rng, forward) : -Pick(rng, setBacks)));
                    break;
                case 1:  // a second jump while the first one's re-plan walks the events
                    Change(inBounds(Chance(rng, 0.5) ? hours(1) : -hours(1)));
                    std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(rng, 20, 80)));
                    Change(inBounds(Chance(rng, 0.5) ? seconds(10) : -seconds(10)));
                    break;
                case 2: {  // outside the supported years, then back
                    const ptime now = Now();
                    there(ptime(boost::gregorian::date(Chance(rng, 0.5) ? 2106 : 1966, 3, 1),
                                now.time_of_day()) -
                          now);
                    ++excursionCount_;
                    break;
                }
                case 3:  // there and back, further apart than the observer's period
                    there(inBounds(Chance(rng, 0.5) ? hours(1) : -hours(1)));
                    ++pairCount_;
                    break;
                default: {
                    static constexpr std::array kOffsets = {0, 3600, -18000, 19800, 50400};
                    Change(time_duration(), seconds(Pick(rng, kOffsets)));
                    break;
                }
            }
        }
    }

    // Observing: one bus thread calls these, one message at a time.

    void Observe(const std::shared_ptr<Common::Kernel::IMessage>& message,
                 const UserContextPtr& context) {
        std::lock_guard lock(observerLock_);
        if (const auto* reply = dynamic_cast<const CResponse*>(message.get())) {
            OnReply(*reply);
        } else if (const auto* tag = dynamic_cast<const CKeyTag*>(message.get())) {
            OnTick(*tag, context);
        }
    }

    // When a tick was sent: the epoch, and the module's wall time; empty outside the checked
    // phase and while a change was under way.
    struct Moment {
        std::size_t epoch;
        ptime wall;
        SteadyClock::time_point steady;
    };

    std::optional<Moment> SentMoment(SteadyClock::time_point sent) {
        std::lock_guard lock(epochLock_);
        if (!checking_) return std::nullopt;
        for (std::size_t i = epochs_.size(); i-- > 0;) {
            if (!(sent < epochs_[i].startSteady)) return Moment{i, WallAt(epochs_[i], sent), sent};
            if (i > 0 && !(sent < epochs_[i - 1].endSteady)) return std::nullopt;
        }
        return std::nullopt;
    }

    // Whether a tick names a request `id` of kind `Request`; checks the tick's context.
    template <typename Request>
    bool IsTickOf(std::uint32_t id, const UserContextPtr& context) {
        if (id == 0 || id >= EndId() || records_[id].kind != KindOf<Request>()) {
            Violation("foreign tick", Text("a tick names request ", id, ", which is no ",
                                           kKinds[KindOf<Request>() - 1].name));
            return false;
        }
        CheckContext(context, records_[id].client, Text("request ", id));
        return true;
    }

    void CheckContext(const UserContextPtr& context, std::uint32_t client,
                      const std::string& what) {
        if (context != contexts_[client])
            Violation("user context", what + " ticked with another user context than its own");
    }

    void OnTick(const CKeyTag& tag, const UserContextPtr& context) {
        const std::optional<Moment> moment = SentMoment(tag.SentAt());
        if (tag.Kind() == TagKind::Sleep) {
            if (IsTickOf<CRegisterSleepEvent>(tag.Key(), context)) OnSleepTick(tag.Key(), moment);
            return;
        }
        if (tag.Kind() == TagKind::Churn) {
            ++churnTicks_;
            if (!IsTickOf<CRegisterTimeEvent>(tag.Id(), context)) return;
            if (records_[tag.Id()].refused) {
                Violation("refused registration ticked",
                          Text("registration ", tag.Id(), " was refused, yet ticked"));
            } else if (tag.Id() <= retiredBelow_[tag.Key()]) {
                Violation("tick after removal",
                          Text("registration ", tag.Id(), " of churn slot ", tag.Key(),
                               " ticked after request ", retiredBelow_[tag.Key()] + 1,
                               " replaced or removed it"));
            }
            return;
        }
        const std::uint32_t index = tag.Key();
        if (index >= options_.events) {
            Violation("foreign tick", Text("a tick names event ", index, ", never registered"));
            return;
        }
        ++eventTicks_;
        CheckContext(context, options_.clients, Text("event ", index));
        const EventSpec& spec = population_[index];
        SparseTally& tally = sparseTicks_[index];
        if (spec.limit != 0 && ++tally.ticks > spec.limit) {
            Violation("occurrence limit", Text("event ", index, " with a limit of ", spec.limit,
                                               " ticked ", tally.ticks, " times"));
        }
        if (!moment) return;
        Epoch epoch;
        {
            std::lock_guard lock(epochLock_);
            epoch = epochs_[moment->epoch];
        }
        if (epoch.outOfRange && moment->wall - epoch.startWall > kMaxLateness) {
            Violation("tick outside 1970..2099",
                      Text("event ", index, " (", spec.event.timespecification(), ") ticked at ",
                           moment->wall, ", while the clock was outside the supported years"));
        } else if (index < options_.everySecond) {
            TallyEverySecond(index, moment->epoch, epoch, moment->wall);
        } else {
            CheckSparse(index, epoch, moment->wall);
        }
    }

    // The ticks of one every-second event in each second of the epoch being tallied, and how
    // late the first of each second came.
    struct SecondTally {
        std::vector<std::uint8_t> ticks;  // by second from the epoch's first
        std::vector<std::uint16_t> lateMs;
    };

    void TallyEverySecond(std::uint32_t index, std::size_t epochIndex, const Epoch& epoch,
                          const ptime& wall) {
        if (epochIndex != talliedEpoch_) CloseTallies(epochIndex);
        const std::int64_t slot = WholeSeconds(wall) - WholeSeconds(epoch.startWall);
        if (slot < 0 || slot >= 4096) return;
        SecondTally& tally = everySecondTally_[index];
        if (tally.ticks.size() <= static_cast<std::size_t>(slot)) {
            tally.ticks.resize(slot + 1, 0);
            tally.lateMs.resize(slot + 1, 0);
        }
        if (tally.ticks[slot]++ == 0) {
            tally.lateMs[slot] = static_cast<std::uint16_t>(std::min<std::int64_t>(
                (wall - AtSecond(WholeSeconds(wall))).total_milliseconds(), 65535));
        }
        ++everySecondTicks_;
    }

    // Checks the seconds of every epoch before `next` that have not been checked yet. Only
    // the first of them has ticks tallied: a later one saw none.
    void CloseTallies(std::size_t next) {
        std::vector<Epoch> closing;
        {
            std::lock_guard lock(epochLock_);
            closing.assign(epochs_.begin() + talliedEpoch_, epochs_.begin() + next);
        }
        for (const Epoch& epoch : closing) {
            CheckSeconds(epoch);
            for (SecondTally& tally : everySecondTally_)
                tally.ticks.clear(), tally.lateMs.clear();
        }
        talliedEpoch_ = next;
    }

    void CheckSeconds(const Epoch& epoch) {
        if (epoch.outOfRange || epoch.endWall.is_not_a_date_time()) return;
        static constexpr std::array kNames = {"since the start", "after a forward jump",
                                              "after a set-back", "after a zone change"};
        const std::int64_t base = WholeSeconds(epoch.startWall);
        // The whole seconds that start after the epoch's and its window's start, up to the
        // last one that ends within it.
        const std::int64_t from = WholeSeconds(epoch.dueFrom) + 1;
        const std::int64_t to = WholeSeconds(epoch.endWall) - 1;
        const std::int64_t lateFrom =
            std::min(to + 1, std::max(from, WholeSeconds(epoch.punctualFrom) + 1));
        for (std::uint32_t index = 0; index < options_.everySecond; ++index) {
            const SecondTally& tally = everySecondTally_[index];
            const auto ticksIn = [&](std::int64_t second) -> unsigned {
                const auto slot = static_cast<std::size_t>(second - base);
                return slot < tally.ticks.size() ? tally.ticks[slot] : 0;
            };
            const auto what = [&](std::int64_t second) {
                return Text("every-second event ", index, index % 10 == 0 ? " (local time)" : "",
                            " in second ", AtSecond(second), " (clock ",
                            kNames[static_cast<std::size_t>(epoch.kind)], " at ", epoch.startWall,
                            ")");
            };
            // While the module re-plans, a tick may slip into the next second: those seconds
            // count together. After a forward jump, a timer that the jump left in the past
            // may fire once more, for its old occurrence.
            unsigned replanTicks = 0;
            for (std::int64_t second = from; second < lateFrom; ++second)
                replanTicks += ticksIn(second);
            const auto replanSeconds =
                static_cast<unsigned>(std::max<std::int64_t>(0, lateFrom - from));
            const unsigned stale = epoch.kind == ChangeKind::Forward ? 1 : 0;
            if (replanTicks < replanSeconds || replanTicks > replanSeconds + stale) {
                Violation(replanTicks < replanSeconds ? "lost tick" : "doubled tick",
                          Text(what(from), " and the ", replanSeconds - 1,
                               " after it: ", replanTicks, " ticks"));
            }
            for (std::int64_t second = lateFrom; second <= to; ++second) {
                const unsigned ticks = ticksIn(second);
                const unsigned late = ticks == 0 ? 0u : tally.lateMs[second - base];
                if (ticks != 1) {
                    Violation(ticks == 0 ? "lost tick" : "doubled tick",
                              Text(what(second), ": ", ticks, " ticks"));
                } else if (late > kMaxLateness.total_milliseconds()) {
                    Violation("late tick", Text(what(second), ": ", late, " ms late"));
                }
                maxLateMs_ = std::max(maxLateMs_, late);
            }
        }
        if (to >= from) secondsChecked_ += static_cast<unsigned long long>(to - from + 1);
    }

    struct SparseTally {
        std::uint32_t ticks = 0;
        // The match the last checked tick was for (at first: the time of registration), and
        // the clock changes before it that make matches come again.
        ptime lastMatch;
        unsigned setBacks = 0, zoneChanges = 0;
    };

    // A sparse event ticks for a match that came after the one it last ticked for: otherwise
    // it ticked early, or twice. Ticks the change of an epoch sets off are left alone.
    void CheckSparse(std::uint32_t index, const Epoch& epoch, const ptime& wall) {
        const EventSpec& spec = population_[index];
        const bool local = !spec.event.utclocal();
        if (wall - epoch.startWall < kSparseSettle) return;
        if (local && HadZoneChangeWithin(kZoneSettle)) return;
        const ptime base = local ? wall + epoch.utcOffset : wall;
        const ptime match = spec.crontab->LastOccurrenceAtOrBefore(base);
        SparseTally& tally = sparseTicks_[index];
        ++sparseChecked_;
        const bool sameClock =
            tally.setBacks == epoch.setBacks && (!local || tally.zoneChanges == epoch.zoneChanges);
        if (match.is_not_a_date_time() ||
            (sameClock && !tally.lastMatch.is_not_a_date_time() && !(tally.lastMatch < match))) {
            Violation(
                "early or doubled tick",
                Text("event ", index, " (", spec.event.timespecification(), local ? ", local" : "",
                     ", delay up to ", spec.maxDelay, " s) ticked at ", base, " for its match at ",
                     match, ", not after its last tick's match or its registration at ",
                     tally.lastMatch));
        }
        tally.lastMatch = match;
        tally.setBacks = epoch.setBacks;
        tally.zoneChanges = epoch.zoneChanges;
    }

    bool HadZoneChangeWithin(std::chrono::milliseconds window) {
        std::lock_guard lock(epochLock_);
        const auto steadyNow = SteadyClock::now();
        for (auto it = epochs_.rbegin(); it != epochs_.rend(); ++it) {
            if (steadyNow - it->startSteady > window) break;
            if (it->kind == ChangeKind::Zone) return true;
        }
        return false;
    }

    // Once only, and due at the earlier of its wall time and its duration on the steady
    // clock; the module counts from the whole second it is registered in, in whichever epoch
    // that was.
    void OnSleepTick(std::uint32_t id, const std::optional<Moment>& moment) {
        ++sleepTicks_;
        Record& record = records_[id];
        if (++record.ticks > 1)
            Violation("doubled tick", Text("sleep ", id, " ticked ", +record.ticks, " times"));
        if (!moment) return;
        const auto elapsed = moment->steady - record.sentSteady;
        if (elapsed >= std::chrono::seconds(record.sleepSeconds) - 1s - 20ms) return;
        std::lock_guard lock(epochLock_);
        if (epochs_[moment->epoch].startSteady > moment->steady - 50ms) return;  // just moved
        ptime earliestDue = kPastSupported;
        for (std::size_t i = record.sentEpoch == 0 ? 0 : record.sentEpoch - 1;
             i <= moment->epoch && i < epochs_.size(); ++i) {
            const ptime wall =
                WallAt(epochs_[i], std::max(record.sentSteady, epochs_[i].startSteady));
            earliestDue = std::min(earliestDue, wall - seconds(1) + seconds(record.sleepSeconds));
        }
        if (moment->wall + milliseconds(20) < earliestDue) {
            Violation("early sleep",
                      Text("sleep ", id, " of ", record.sleepSeconds, " s ticked after ",
                           std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(),
                           " ms, at ", moment->wall, ", before its due time ", earliestDue));
        }
    }

    void OnReply(const CResponse& reply) {
        const std::uint32_t id = reply.GetRequestId();
        if (id == 0 || id >= EndId() || records_[id].kind == 0) {
            Violation("reply to an unknown request", Text("a reply names request ", id));
            return;
        }
        Record& record = records_[id];
        const RequestKind& kind = kKinds[record.kind - 1];
        if (record.replies < 255) ++record.replies;
        if (kind.reply == 0 || record.replies > 1) return;  // reported by CheckRecords
        ++firstReplies_;
        const auto* error = dynamic_cast<const CResponseException*>(&reply);
        record.refused = error != nullptr;
        ++(error != nullptr ? errors_ : responses_)[record.kind - 1];
        if (error == nullptr && reply.GetType() != kind.reply) {
            Violation("wrong reply type", Text("request ", id, " (", kind.name,
                                               ") was answered with type ", reply.GetType()));
            return;
        }
        // An accepted registration retires its slot's earlier ones; a probe's answer, those
        // the unregistration before it removed.
        if ((record.expect == Expect::Replaces && error == nullptr) ||
            record.expect == Expect::Probe) {
            retiredBelow_[record.slot] = std::max(retiredBelow_[record.slot], id - 1);
        }
        if (IsCheckable(record)) CheckContent(id, record, kind, reply, error);
    }

    // References assume a clock inside the supported years from send to reply, and the
    // ones that read the clock assume it rested (for local events, since the zone's last
    // change was seen too).
    bool IsCheckable(const Record& record) {
        {
            std::lock_guard lock(epochLock_);
            if (inExcursion_ || record.sentExcursions != excursions_) return false;
            if (record.nowDependent && (record.sentEpoch != epochs_.size() || !record.settled))
                return false;
        }
        return !(record.nowDependent && record.localTime && HadZoneChangeWithin(kZoneSettle));
    }

    // One check for each kind of reply the test knows: empty when the reply is right, else
    // what it expected.
    void CheckContent(std::uint32_t id, const Record& record, const RequestKind& kind,
                      const CResponse& reply, const CResponseException* error) {
        ++contentChecked_;
        std::string got = error != nullptr ? "error \"" + ErrorText(*error) + "\""
                                           : Text("a reply of type ", reply.GetType());
        std::string expected;
        switch (record.expect) {
            case Expect::Nothing:
            case Expect::Probe:
                break;
            case Expect::Success:
            case Expect::Replaces:
                if (error != nullptr) expected = "success";
                if (error != nullptr && ErrorText(*error) == errorTexts_[kNotFound]) {
                    Violation("registration lost", Text("request ", id, ": ", got));
                    return;
                }
                break;
            case Expect::Error:
                if (error == nullptr || ErrorText(*error) != errorTexts_[record.expected])
                    expected = "error \"" + errorTexts_[record.expected] + "\"";
                break;
            case Expect::Remaining:
                if (const auto* answer = dynamic_cast<const CGetRemainingTimeResponse*>(&reply)) {
                    const ptime low = AtSecond(record.sentSecond);
                    const ptime high = AtSecond(WholeSeconds(Now()) + 1);
                    const ptime next = answer->GetNextTick();
                    got = Text(answer->GetRemainingSeconds(), " s to ", next);
                    if (answer->GetRemainingSeconds() < 0 || answer->GetRemainingSeconds() > 1 ||
                        next.is_not_a_date_time() || next < low || next > high) {
                        expected = Text("0..1 s to ", low, "..", high);
                    }
                } else {
                    expected = "a remaining time";
                }
                break;
            case Expect::Occurrences: {
                const auto* answer =
                    dynamic_cast<const CGetNextOccurrencesByUserDataResponse*>(&reply);
                const std::uint64_t count = std::min<std::uint64_t>(record.count, 10'000);
                bool right = answer != nullptr && answer->GetOccurrences().size() == count;
                for (std::size_t i = 0; right && i < count; ++i) {
                    right = Scheduler::ToTimePoint(answer->GetOccurrences()[i]) ==
                            AtSecond(record.fromSecond + static_cast<std::int64_t>(i) + 1);
                }
                if (answer != nullptr) got = Text(answer->GetOccurrences().size(), " occurrences");
                if (!right) expected = Text(count, " seconds after ", AtSecond(record.fromSecond));
                break;
            }
            case Expect::LastTick: {
                const LastTickCase& known = kLastTicks[record.expected];
                const auto* answer = dynamic_cast<const CGetLastTickResponse*>(&reply);
                if (answer != nullptr) got = Text(answer->GetLastTick());
                if (answer == nullptr || answer->GetNoLastTick() ||
                    answer->GetLastTick() != known.expected) {
                    expected = Text(known.expected, " for \"", known.text, "\" from ", kFuture,
                                    ", limit ", known.limit, ", end ", known.end ? known.end : "-");
                }
                break;
            }
        }
        if (!expected.empty()) {
            Violation(Text("wrong reply to ", kind.name),
                      Text("request ", id, ": expected ", expected, ", got ", got));
        }
    }

    // Replies counted and sleeps ticked for the requests from `first` to before `end`;
    // with `complete`, every answered one must have its reply and every limit be reached.
    void CheckRecords(std::uint32_t first, std::uint32_t end, bool complete) {
        const auto idle = SteadyClock::now();
        for (std::uint32_t id = first; id < end; ++id) {
            const Record& record = records_[id];
            if (record.kind == 0) continue;
            const RequestKind& kind = kKinds[record.kind - 1];
            const std::string request =
                Text("request ", id, " (", kind.name, ") got ", +record.replies, " replies");
            if (kind.reply == 0 && record.replies != 0) {
                Violation("reply to an unanswered request", request);
            } else if (record.replies > 1) {
                Violation("doubled reply", request);
            } else if (kind.reply != 0 && record.replies == 0 && complete) {
                Violation("missing reply", request);
            }
            if (complete && record.kind == KindOf<CRegisterSleepEvent>() && record.ticks == 0 &&
                idle - record.sentSteady > std::chrono::seconds(record.sleepSeconds) + 3s) {
                Violation("lost sleep",
                          Text("sleep ", id, " of ", record.sleepSeconds, " s never ticked"));
            }
        }
        // Five seconds apart, paused only by the excursions.
        for (std::uint32_t index = options_.everySecond;
             complete && options_.seconds >= 120 && index < options_.events; ++index) {
            const std::uint32_t limit = population_[index].limit;
            if (limit != 0 && sparseTicks_[index].ticks != limit) {
                Violation("occurrence limit",
                          Text("event ", index, " with a limit of ", limit, " ticked ",
                               sparseTicks_[index].ticks, " times"));
            }
        }
    }

    // A burst of requests, then Stop(true) while they are processed: it ends within a
    // second, the module's threads end with Unload, and nothing is sent after it.
    void ForcedStop() {
        Phase("forced stop in a burst of requests");
        Rng rng(options_.seed + 5);
        for (int burst = 0; burst < 200; ++burst)
            (this->*Pick(rng, kOperations).send)(rng, options_.clients);
        seams_.reset();
        host_->PrepareShutdown();
        const auto begin = SteadyClock::now();
        host_->Stop(true);
        stopMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - begin)
                      .count();
        if (stopMs_ > 1000) Violation("stop time", Text("Stop(true) took ", stopMs_, " ms"));
        // Replies the module made must reach the observer before its library goes.
        if (!host_->GetBus().WaitUntilIdle(60s)) Violation("bus", "the bus never became idle");
        host_->Unload();
        const std::uint64_t sentAtUnload = host_->GetBus().GetSentCount();
        std::size_t threads = 0;
        WaitUntil([&] { return (threads = CountThreads()) == threadsBeforeLoad_; },
                  SteadyClock::now() + 1s, 5ms);
        if (threads != threadsBeforeLoad_) {
            Violation("threads", Text(threads, " threads run after Unload, ", threadsBeforeLoad_,
                                      " ran before Load"));
        }
        std::this_thread::sleep_for(1200ms);
        if (const std::uint64_t sent = host_->GetBus().GetSentCount(); sent != sentAtUnload)
            Violation("sent after unload", Text(sent - sentAtUnload, " messages after Unload"));
    }

    void PrintSummary() const {
        std::printf("\n%-30s %10s %10s %10s\n", "request", "sent", "responses", "errors");
        for (std::size_t i = 0; i < kKinds.size(); ++i) {
            std::printf("%-30s %10llu %10llu %10llu\n", kKinds[i].name, sent_[i].load(),
                        responses_[i], errors_[i]);
        }
        std::printf(
            "registration of the population: %.1f s; Stop(true): %lld ms\n"
            "clock: %llu jumps forward, %llu set-backs, %llu zone changes (%u excursions, "
            "%u pairs)\nticks: %llu of the population (%llu of every-second events), %llu of "
            "churn slots, %llu of %llu sleeps\nchecked: %llu seconds x %u every-second events, "
            "%llu sparse ticks, %llu reply contents; latest every-second tick %u ms into its "
            "second\nlog lines: %llu detail, %llu info, %llu warning, %llu error\n",
            registrationSeconds_, stopMs_, changes_[1].load(), changes_[2].load(),
            changes_[3].load(), excursionCount_, pairCount_, eventTicks_, everySecondTicks_,
            churnTicks_, sleepTicks_, sleepsSent_.load(), secondsChecked_, options_.everySecond,
            sparseChecked_, contentChecked_, maxLateMs_, logLines_[1].load(), logLines_[2].load(),
            logLines_[3].load(), logLines_[4].load());
        violations_.PrintSummary();
    }

    const Options options_;
    const SteadyClock::time_point start_ = SteadyClock::now();
    const std::shared_ptr<Scheduler::CAdjustableClock> clock_ =
        std::make_shared<Scheduler::CAdjustableClock>();
    std::unique_ptr<Host::CSchedulerHost> host_;
    std::unique_ptr<CModuleSeams> seams_;
    std::vector<std::shared_ptr<CUserContext>> contexts_;  // one per client, then the main one
    std::size_t threadsBeforeLoad_ = 0;

    std::vector<EventSpec> population_;
    std::vector<std::string> errorTexts_;  // the parser's texts for kRefused, kOtherErrors
    CRecordBook<Record> records_;
    std::atomic<std::uint32_t> nextId_{1};
    std::atomic<bool> stopClients_{false};
    std::atomic<unsigned long long> expectedReplies_{0}, firstReplies_{0}, sleepsSent_{0};
    std::array<std::atomic<unsigned long long>, kKinds.size()> sent_{};
    std::array<std::atomic<unsigned long long>, 5> logLines_{};  // by level 1..4; 0: others
    double registrationSeconds_ = 0;
    long long stopMs_ = 0;

    // The clock's history; the mover appends, everyone reads.
    mutable std::mutex epochLock_;
    std::vector<Epoch> epochs_;
    unsigned excursions_ = 0;
    bool inExcursion_ = false;
    bool checking_ = false;
    time_duration shift_;
    std::array<std::atomic<unsigned long long>, 4> changes_{};  // by ChangeKind
    unsigned excursionCount_ = 0, pairCount_ = 0;

    // The observer's, and the final checks' once it is done.
    std::mutex observerLock_;
    std::vector<SecondTally> everySecondTally_;
    std::size_t talliedEpoch_ = 0;
    std::vector<SparseTally> sparseTicks_;
    std::vector<std::uint32_t> retiredBelow_;  // by churn slot: its registrations up to it
    std::array<unsigned long long, kKinds.size()> responses_{}, errors_{};
    unsigned long long eventTicks_ = 0, everySecondTicks_ = 0, churnTicks_ = 0, sleepTicks_ = 0;
    unsigned long long secondsChecked_ = 0, sparseChecked_ = 0, contentChecked_ = 0;
    unsigned maxLateMs_ = 0;

    CViolations violations_;
};

}  // namespace
}  // namespace Zent::Stress

int main(int argc, char** argv) {
    Zent::Stress::Options options;
    options.seed = std::random_device{}();
    bool scale = false;
    std::uint32_t events = 0, everySecond = 0, rate = 0;
    CLI::App app("The scheduler module under load. Exit code 0: clean; 1: violations; 2: usage.",
                 "scheduler_stress");
    app.add_flag("--scale", scale,
                 "the full population: 100,000 events, 1,000 of them every second, 2,500 "
                 "requests/s per client (build in release)");
    app.add_option("--seconds", options.seconds, "length of the phase with the clock moving (20)")
        ->check(CLI::Range(1, 86400));
    app.add_option("--events", events, "registered events (4000; --scale: 100000)")
        ->check(CLI::Range(1000, 1'000'000));
    app.add_option("--every-second", everySecond,
                   "of --events, those that tick every second (200; --scale: 1000), at most half")
        ->check(CLI::Range(1, 10'000));
    app.add_option("--clients", options.clients, "client threads sending requests (2)")
        ->check(CLI::Range(1, 64));
    app.add_option("--rate", rate,
                   "requests per second of each client, 0 for as fast as replies come (250; "
                   "--scale: 2500)")
        ->check(CLI::Range(0, 1'000'000));
    app.add_option("--seed", options.seed, "seed of the random choices (default: random, printed)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (scale) options.events = 100'000, options.everySecond = 1'000, options.rate = 2'500;
    if (events != 0) options.events = events;
    if (everySecond != 0) options.everySecond = everySecond;
    if (app.count("--rate") > 0) options.rate = rate;
    if (options.events < 2 * options.everySecond) {
        std::fprintf(stderr, "scheduler_stress: --events must be at least twice --every-second\n");
        return 2;
    }
    try {
        Zent::Stress::CStressRun run(options);
        return run.Execute();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scheduler_stress: %s\n", e.what());
        return 1;
    }
}
