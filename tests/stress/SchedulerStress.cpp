// scheduler_stress: the scheduler module under load, checked tick by tick and reply by reply.
//
//     scheduler_stress --seconds 10 --seed 1    # the suite's short run
//     scheduler_stress --scale --seconds 600    # 100,000 events (build in release)
//
// A population of events is registered (sparse ones, every-second ones, some in local time,
// some delayed or limited); client threads send all eleven requests, valid and broken, while
// a mover thread shifts the module's clock just before whole seconds: jumps, jumps during the
// re-plan of an earlier one, zone changes, excursions outside 1970..2099 and back, pairs
// spaced wider than the observer's check period. The bus observer checks every tick and
// reply: each whole second at rest brings exactly one tick of every every-second event, on
// time; sparse events never tick early or twice, nor outside 1970..2099; a replaced, removed
// or refused registration never ticks; ticks carry their registrant's context; sleeps never
// tick early; every request is answered once, with its response type, and with the test's
// own reference answer where it has one. Exit code 0: clean; 1: violations; 2: usage.

#include <sys/mman.h>

#include <Poco/SharedLibrary.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Scheduler/ModuleSeams.h"
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
#include "common/module/InterModuleException.h"
#include "common/module/Response.h"
#include "common/module/ResponseException.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"
#include "tests/support/NamedUser.h"
#include "tests/support/RethrowAs.h"
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
using Scheduler::ToUtcTime;
using SteadyClock = std::chrono::steady_clock;
using Rng = std::mt19937_64;

// Sanitizers and unoptimised code slow every thread down: timing allowances are wider there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || !defined(NDEBUG)
constexpr int kSlowBuild = 5;
#else
constexpr int kSlowBuild = 1;
#endif

template <typename... Pieces>
std::string Text(const Pieces&... pieces) {
    std::ostringstream out;
    (out << ... << pieces);
    return out.str();
}
bool Chance(Rng& rng, double probability) {
    return std::bernoulli_distribution(probability)(rng);
}
template <typename Integer>
Integer Uniform(Rng& rng, Integer low, Integer high) {
    return std::uniform_int_distribution<Integer>(low, high)(rng);
}
template <typename Array>
auto Pick(Rng& rng, const Array& values) {
    return values[Uniform<std::size_t>(rng, 0, std::size(values) - 1)];
}

// Polls `done` until it holds or `deadline` passes; whether it holds.
template <typename Done>
bool WaitUntil(Done done, SteadyClock::time_point deadline, SteadyClock::duration step = 20ms) {
    while (!done()) {
        if (SteadyClock::now() >= deadline) return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

std::string ErrorText(const CResponseException& reply) {
    if (!reply.GetHolder()) return "an error reply without an exception";
    return Testing::RethrowAs<Common::Module::CInterModuleException>(*reply.GetHolder());
}

struct Options {
    int seconds = 20;  // length of the phase with the clock moving
    std::uint32_t events = 4'000;
    std::uint32_t everySecond = 200;  // of `events`
    // Requests each client sends per second (0: as fast as replies come). Unpaced clients
    // keep a small machine so busy that no thread of the module gets the processor on time.
    std::uint32_t rate = 250;
    std::uint64_t seed = 0;
};

// The requests, the type that answers each (0: none) and their names.
struct RequestKind {
    std::int32_t type, reply;
    const char* name;
};
constexpr std::array<RequestKind, 11> kKinds = {
    {{CRegisterTimeEvent::kType, CRegisterTimeEventResponse::kType, "RegisterTimeEvent"},
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
      "GetAllTimeZoneDetails"}}};

// The index of `Request` in kKinds, plus one (0 marks a record never sent).
template <typename Request>
constexpr std::uint8_t KindOf() {
    std::uint8_t index = 0;
    while (kKinds[index].type != Request::kType)
        ++index;
    return index + 1;
}

enum class TagKind : std::uint8_t { Event, Churn, Sleep };
// The user data of every registration, equal when kind and key (population index, churn
// slot or sleep request id) are; `id` names the request that registered it. The bus asks a
// message for its type as it queues it, on the sender's thread: the tag keeps that moment,
// when the module sent the tick, so the checks do not depend on how far the observer lags.
class CKeyTag : public Testing::CTextMessage {
public:
    CKeyTag(TagKind kind, std::uint32_t key, std::uint32_t id)
        : CTextMessage(Stress::Text(static_cast<int>(kind), ":", key)),
          kind(kind),
          key(key),
          id(id) {}
    std::int32_t GetType() const override {
        sentAt.store(SteadyClock::now().time_since_epoch().count());
        return CTextMessage::GetType();
    }
    const TagKind kind;
    const std::uint32_t key, id;
    mutable std::atomic<SteadyClock::rep> sentAt{0};
};

std::shared_ptr<CKeyTag> Tag(TagKind kind, std::uint32_t key, std::uint32_t id = 0) {
    return std::make_shared<CKeyTag>(kind, key, id);
}

// Client threads send from contexts 0 to kClients - 1, the main thread from kMain.
constexpr std::uint32_t kClients = 2, kMain = kClients;
constexpr std::uint32_t kChurnSlots = 256;  // shared out among the clients
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
// The clients stop here; the main thread's requests after them take at most the margin.
constexpr std::uint32_t kMaxRequests = 20'000'000, kRecordMargin = 1'000'000;
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

// The sparse texts, how often each is drawn, and the longest random delay its events may
// carry (0: never delayed).
constexpr std::array kSparseTexts = {"0 0 12 * * ?", "0 15 10 ? * MON-FRI",   "0 0/5 14,18 * * ?",
                                     "0 0 0 L * ?",  "0 0 12 ? * 6#3",        "0 0 0 LW * ?",
                                     "0 0 0 ? * 5L", "0 0 0 1 1 ? 2030-2031", "0 0 * * * ?",
                                     "0 * * * * ?",  "*/10 * * * * ?",        "30 */2 * * * ?"};
constexpr std::array<double, 12> kSparseWeights = {30, 15, 10, 8, 8, 8, 8, 8, 2, 0.2, 0.1, 0.3};
constexpr std::array kSparseDelays = {0, 0, 0, 0, 0, 0, 0, 0, 600, 30, 5, 0};
// The events with an occurrence limit tick every five seconds, spread over each step.
constexpr std::array kLimitedTexts = {"0/5 * * * * ?", "1/5 * * * * ?", "2/5 * * * * ?",
                                      "3/5 * * * * ?", "4/5 * * * * ?"};
constexpr std::array kChurnTexts = {"* * * * * ?", "0 * * * * ?", "0 0 12 * * ?"};

// One defect each: a churn registration with one may be refused, and then must never tick.
constexpr std::array<void (*)(TimeEvent&, const ptime&), 6> kDefects = {
    [](TimeEvent& e, const ptime&) { e.set_timespecification("1,,2 * * * * ?"); },
    [](TimeEvent& e, const ptime&) { e.clear_timespecification(); },
    [](TimeEvent& e, const ptime&) { e.mutable_starttime()->set_month(13); },
    [](TimeEvent& e, const ptime& now) { *e.mutable_starttime() = ToUtcTime(now + hours(48)); },
    [](TimeEvent& e, const ptime&) { e.mutable_range()->set_rangedefinitionoccurences(0); },
    [](TimeEvent& e, const ptime&) { e.set_delay(-5); }};

// Texts the parser refuses; the reference error texts are the parser's for them, then these.
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
const std::array<LastTickCase, 9> kLastTicks = {
    {{"* * * * * ?", 1, nullptr, kFuture},
     {"* * * * * ?", 1000, nullptr, kFuture + seconds(999)},
     {"* * * * * ?", 20'000'000, nullptr, kFuture + seconds(19'999'999)},
     {"* * * * * ?", 1'000'000'000, nullptr, kFuture + seconds(999'999'999)},
     {"0 0 12 * * ?", 20'000, nullptr, kFuture + boost::gregorian::days(19'999) + hours(12)},
     {"0 0 0 1 * ?", 100, nullptr, time_from_string("2038-04-01 00:00:00")},
     {"0 0 0 1 1 ? 2030", kMaxU32, nullptr, kFuture},
     {"0 0 0 1 1 ? 2030", 0, nullptr, kFuture},
     {"* * * * * ?", 20'000'000, "2030-01-02 00:00:00", time_from_string("2030-01-02 00:00:00")}}};

// One event of the population.
struct EventSpec {
    TimeEvent event;
    std::shared_ptr<const Scheduler::CCrontabScheduler> crontab;
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
    unsigned setBacks, zoneChanges;  // up to it, its own included
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
    LastTick      // kLastTicks[expected]
};

struct Record {
    std::uint32_t id;
    std::uint8_t kind;  // KindOf the request; 0: never sent
    std::uint8_t replies, ticks, client;
    Expect expect;
    bool refused;       // answered with an error
    bool nowDependent;  // the reference holds only while the clock rests
    bool settled;       // sent once the module had re-planned after the last change
    bool localTime;     // about an event in local time
    std::uint32_t expected, sleepSeconds, slot;  // slot: of a churn request
    std::uint32_t sentEpoch, sentExcursions;
    std::uint64_t count;
    std::int64_t fromSecond, sentSecond;  // since 1970; sent: by the module's clock
    SteadyClock::time_point sentSteady;
};

// Whole seconds since 1970 (negative before), rounded down.
std::int64_t WholeSeconds(const ptime& t) {
    const time_duration since = t - kFirstSupported;
    const std::int64_t whole = since.total_seconds();
    return since < seconds(whole) ? whole - 1 : whole;
}
ptime AtSecond(std::int64_t second) {
    return kFirstSupported + seconds(second);
}
ptime WallAt(const Epoch& epoch, SteadyClock::time_point steady) {
    const auto since =
        std::chrono::duration_cast<std::chrono::microseconds>(steady - epoch.startSteady);
    return epoch.startWall + boost::posix_time::microseconds(since.count());
}

class CStressRun {
public:
    explicit CStressRun(Options options) : options_(options) {
        if (records_ == MAP_FAILED) throw std::runtime_error("cannot map the request records");
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
    ~CStressRun() { munmap(records_, kRecordBytes); }

    int Execute() {
        std::printf(
            "scheduler_stress: seed %llu, %u events (%u every second), %u requests/s, %d s\n",
            static_cast<unsigned long long>(options_.seed), options_.events, options_.everySecond,
            options_.rate, options_.seconds);
        Phase("loading the module");
        StartModule();
        Phase("registering the population");
        RegisterPopulation();
        Phase("main phase");
        {
            std::lock_guard lock(epochLock_);
            const ptime now = Now();  // the first second is a whole one after the start
            epochs_.push_back({ChangeKind::Start, SteadyClock::now(), SteadyClock::time_point(),
                               now, ptime(), clock_->UtcOffset(now), false, 0, 0, now + seconds(1),
                               now});
            checking_ = true;
        }
        std::vector<std::thread> clients;
        for (std::uint32_t i = 0; i < kClients; ++i)
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
            auto [request, record] = Make<CGetRemainingTimeByUserDataRequest>(kMain);
            request->SetUserData(Tag(TagKind::Event, i));
            Send(request, record, Expect::Success);
        }
        {
            std::lock_guard lock(epochLock_);
            epochs_.back().endWall = Now();
            checking_ = false;
        }
        WaitForReplies(120s);
        host_->GetBus().WaitUntilIdle(30s);
        {
            std::lock_guard observing(observerLock_);
            CloseTallies(epochs_.size());
            CheckRecords();
        }
        Stop();
        PrintSummary();
        return violationCount_ == 0 ? 0 : 1;
    }

private:
    void Phase(const char* name) {
        std::printf("[%7.1f s] %s\n", Elapsed(), name);
        std::fflush(stdout);
    }
    double Elapsed() const {
        return std::chrono::duration<double>(SteadyClock::now() - start_).count();
    }
    // Counts a failed check by kind; shows the first five of each kind on stderr.
    void Violation(const std::string& kind, const std::string& text) {
        std::lock_guard lock(violationLock_);
        ++violationCount_;
        if (++violations_[kind] <= 5)
            std::fprintf(stderr, "VIOLATION (%s): %s\n", kind.c_str(), text.c_str());
    }
    ptime Now() const { return clock_->UniversalTime(); }
    std::uint32_t EndId() const { return nextId_.load(); }
    // Sets the clock and observer periods of the plug-in's time scheduler through the seams of
    // its library, loaded (again) into this process; null and 0 put the defaults back.
    void SetSeams(std::shared_ptr<Scheduler::IClock> clock, std::int64_t checkMs,
                  std::int64_t dumpMs) {
        reinterpret_cast<decltype(&ZentSchedulerSetClock)>(
            library_.getSymbol(kZentSchedulerSetClockSymbol))(std::move(clock));
        reinterpret_cast<decltype(&ZentSchedulerSetObserverPeriods)>(
            library_.getSymbol(kZentSchedulerSetObserverPeriodsSymbol))(checkMs, dumpMs);
    }

    void WaitForReplies(std::chrono::seconds limit) {
        if (!WaitUntil([this] { return firstReplies_ >= expectedReplies_; },
                       SteadyClock::now() + limit)) {
            Violation("missing reply", Text(expectedReplies_ - firstReplies_,
                                            " requests unanswered ", limit.count(), " s on"));
        }
    }

    // The every-second events are spread through the population, and so through the order
    // of registration: a re-plan, which walks the events in that order a chunk at a time,
    // finds some of them in each chunk, and those not walked yet tick between chunks.
    bool IsEverySecond(std::uint32_t index) const {
        return index % stride_ == 0 && index / stride_ < options_.everySecond;
    }
    std::uint32_t SomeEverySecond(Rng& rng) const {
        return Uniform<std::uint32_t>(rng, 0, options_.everySecond - 1) * stride_;
    }

    // The population: every-second events (one in ten in local time) and sparse ones, one in
    // twenty of them with an occurrence limit. Each carries its own start in the past, so
    // that its specification is unique.
    void BuildPopulation(Scheduler::CCrontabParser& parser) {
        Rng rng(options_.seed);
        std::map<std::string, std::shared_ptr<const Scheduler::CCrontabScheduler>> crontabs;
        std::discrete_distribution<std::size_t> drawText(kSparseWeights.begin(),
                                                         kSparseWeights.end());
        population_.resize(options_.events);
        for (std::uint32_t i = 0; i < options_.events; ++i) {
            EventSpec& spec = population_[i];
            TimeEvent& event = spec.event;
            *event.mutable_starttime() =
                ToUtcTime(time_from_string("2020-01-01 00:00:00") + seconds(i));
            if (IsEverySecond(i)) {
                event.set_timespecification("* * * * * ?");
                event.set_utclocal(i / stride_ % 10 != 0);
            } else if (i % 20 == 10) {
                event.set_timespecification(kLimitedTexts[i / 20 % kLimitedTexts.size()]);
                event.set_utclocal(true);
                spec.limit = 3 + i % 4;
                event.mutable_range()->set_rangedefinitionoccurences(spec.limit);
            } else {
                const std::size_t text = drawText(rng);
                event.set_timespecification(kSparseTexts[text]);
                event.set_utclocal(!Chance(rng, 0.1));
                if (kSparseDelays[text] > 0 && Chance(rng, 0.5)) {
                    event.set_delay(Uniform<std::int32_t>(rng, 1, kSparseDelays[text]));
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
        hostOptions.logSink = [](const Host::LogRecord&) {};  // tens of thousands of lines
        host_ = std::make_unique<Host::CSchedulerHost>(std::move(hostOptions));
        host_->GetBus().AddObserver(
            [this](const auto& message, const auto& context) { Observe(message, context); });
        host_->Load(SCHEDULER_LIBRARY);
        // The time scheduler takes its clock and periods when it is made, in Initialize; the
        // event dump runs every second.
        library_.load(SCHEDULER_LIBRARY);
        SetSeams(clock_, kCheckPeriod.count(), 1000);
        host_->Initialize();
        host_->Start();
        for (std::uint32_t i = 0; i <= kMain; ++i) {
            contexts_.push_back(std::make_shared<Common::Security::CUserContext>(
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
            auto [request, record] = Make<CRegisterTimeEvent>(kMain);
            request->SetTimeEvent(population_[i].event);
            request->SetUserData(Tag(TagKind::Event, i));
            Send(request, record, Expect::Success);
        }
        WaitForReplies(600s);
        registrationSeconds_ = std::chrono::duration<double>(SteadyClock::now() - begin).count();
        std::this_thread::sleep_for(2s);  // every every-second event ticks before the checks
    }

    // A `Request` with the next request id, and its record, to be sent from context `client`.
    // The main thread's requests wait while 1,024 replies are outstanding.
    template <typename Request>
    std::pair<std::shared_ptr<Request>, Record&> Make(std::uint32_t client) {
        while (client == kMain && expectedReplies_ - firstReplies_ >= 1024)
            std::this_thread::sleep_for(200us);
        const std::uint32_t id = nextId_.fetch_add(1);
        Record& record = records_[id];
        record.id = id;
        record.kind = KindOf<Request>();
        record.client = static_cast<std::uint8_t>(client);
        return {std::make_shared<Request>(id), record};
    }

    // Sends a request made by Make; its reply must be as `expect` says.
    void Send(std::shared_ptr<Common::Kernel::IMessage> request, Record& record,
              Expect expect = Expect::Nothing, std::uint32_t expected = 0) {
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
        if (!host_->Send(std::move(request), contexts_[record.client]))
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
            if (expectedReplies_ - firstReplies_ >= kWindow * kClients) {
                std::this_thread::sleep_for(200us);
                continue;
            }
            if (options_.rate != 0) {
                std::this_thread::sleep_until(
                    begin + std::chrono::microseconds(sent * 1'000'000 / options_.rate));
            }
            (this->*kOperations[operation(rng)].send)(rng, client);
            ++sent;
        }
    }

    // The churn slots are shared out among the clients, so that the requests about one
    // slot come from one thread, in the order the module takes them.
    std::uint32_t SomeChurnSlot(Rng& rng, std::uint32_t client) const {
        return Uniform<std::uint32_t>(rng, 0, kChurnSlots / kClients - 1) * kClients + client;
    }

    // A churn registration replaces its slot's earlier one; one in five carries a defect.
    void SendChurn(Rng& rng, std::uint32_t client) {
        TimeEvent event;
        event.set_timespecification(Pick(rng, kChurnTexts));
        event.set_utclocal(Chance(rng, 0.8));
        const bool defective = Chance(rng, 0.2);
        if (defective) Pick(rng, kDefects)(event, Now());
        auto [request, record] = Make<CRegisterTimeEvent>(client);
        record.slot = SomeChurnSlot(rng, client);
        request->SetTimeEvent(event);
        request->SetUserData(Tag(TagKind::Churn, record.slot, record.id));
        Send(request, record, defective ? Expect::Nothing : Expect::Replaces);
    }

    // Unregistration is never answered: the query for the same user data that follows shows
    // when it was done.
    void SendUnregistration(Rng& rng, std::uint32_t client) {
        const std::uint32_t slot = SomeChurnSlot(rng, client);
        auto [unregistration, record] = Make<CUnregisterTimeEvent>(client);
        unregistration->SetUserData(Tag(TagKind::Churn, slot));
        Send(unregistration, record);
        auto [probe, probeRecord] = Make<CGetRemainingTimeByUserDataRequest>(client);
        probeRecord.slot = slot;
        probe->SetUserData(Tag(TagKind::Churn, slot));
        Send(probe, probeRecord, Expect::Probe);
    }

    // A sleep; its key is its request id.
    void SendSleep(Rng& rng, std::uint32_t client) {
        auto [request, record] = Make<CRegisterSleepEvent>(client);
        record.sleepSeconds = Chance(rng, 0.7) ? Uniform<std::uint32_t>(rng, 1, 15)
                                               : Uniform<std::uint32_t>(rng, 600, 3600);
        request->SetSleepSeconds(record.sleepSeconds);
        request->SetUserData(Tag(TagKind::Sleep, record.id));
        ++sleepsSent_;
        Send(request, record);
    }

    // A text the parser refuses, one that fires in 2090 only (with and without slack), one
    // that ended long ago, or, with slack, a start at the first supported second.
    void SendValidation(Rng& rng, std::uint32_t client) {
        const int draw = Uniform(rng, 0, 4);
        const auto refused = Uniform<std::uint32_t>(rng, 0, kRefused.size() - 1);
        TimeEvent event;
        event.set_utclocal(true);
        event.set_timespecification(draw == 0  ? kRefused[refused]
                                    : draw < 3 ? "0 0 0 1 1 ? 2090"
                                               : "* * * * * ?");
        if (draw == 3) {
            *event.mutable_range()->mutable_rangedefinitionendtime() =
                ToUtcTime(time_from_string("2001-01-01 00:00:00"));
        }
        if (draw == 4) *event.mutable_starttime() = ToUtcTime(kFirstSupported);
        auto [request, record] = Make<CValidateTimeEvent>(client);
        request->SetTimeEvent(event);
        request->SetTimeZoneSlack(draw == 2 || draw == 4);
        Send(request, record, draw == 0 || draw == 3 ? Expect::Error : Expect::Success,
             draw == 0 ? refused : kNeverOccurs);
    }

    // The remaining time of an every-second event, by its specification (one in ten with a
    // start that lacks required fields) or by user data; or by the user data of a sparse
    // event without a limit (never erased, so found), or of an unknown key.
    void SendRemaining(Rng& rng, std::uint32_t client) {
        const int kind = std::discrete_distribution<int>({5, 5, 3, 1})(rng);
        std::uint32_t index = kind == 2 ? Uniform<std::uint32_t>(rng, 0, options_.events - 1) : 0;
        if (kind != 2 || population_[index].limit != 0) index = SomeEverySecond(rng);
        TimeEvent event = population_[index].event;
        const bool incomplete = kind == 0 && Chance(rng, 0.1);
        if (incomplete) {
            *event.mutable_starttime() = UTCTime();
            event.mutable_starttime()->set_year(2030);
        }
        if (kind == 0) {
            auto [request, record] = Make<CGetRemainingTimeBySpecRequest>(client);
            request->SetTimeEvent(event);
            record.nowDependent = true;
            record.localTime = !event.utclocal();
            Send(request, record, incomplete ? Expect::Error : Expect::Remaining, kCannotSerialize);
            return;
        }
        const bool everySecond = IsEverySecond(index);
        auto [request, record] = Make<CGetRemainingTimeByUserDataRequest>(client);
        request->SetUserData(Tag(TagKind::Event, kind == 3 ? kMaxU32 : index));
        record.nowDependent = everySecond;
        record.localTime = !event.utclocal();
        Send(request, record,
             kind == 3     ? Expect::Error
             : everySecond ? Expect::Remaining
                           : Expect::Success,
             kNotFound);
    }

    void SendNextOccurrences(Rng& rng, std::uint32_t client) {
        const ptime from = kFuture + seconds(Uniform(rng, 0, 86400 * 365));
        const int draw = Uniform(rng, 0, 9);
        auto [request, record] = Make<CGetNextOccurrencesByUserDataRequest>(client);
        record.count = draw < 5   ? Uniform<std::uint64_t>(rng, 0, 20)
                       : draw < 8 ? Uniform<std::uint64_t>(rng, 21, 500)
                       : draw < 9 ? 10'000
                                  : std::numeric_limits<std::uint64_t>::max();
        record.fromSecond = WholeSeconds(from);
        request->SetUserData(Tag(TagKind::Event, SomeEverySecond(rng)));
        request->SetCount(record.count);
        request->SetFromTime(ToUtcTime(from));
        Send(request, record, Expect::Occurrences);
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
        auto [request, record] = Make<CGetLastTickRequest>(client);
        request->SetTimeEvent(event);
        Send(request, record, Expect::LastTick, index);
    }

    // Next time ranges, one zone's details or every zone's: checked for their reply type only.
    void SendTypeChecked(Rng& rng, std::uint32_t client) {
        const int kind = std::discrete_distribution<int>({15, 15, 1})(rng);
        if (kind == 0) {
            std::vector<TimeRangeItem> ranges(Uniform<std::size_t>(rng, 0, 3));
            for (TimeRangeItem& item : ranges) {
                item.set_timespecification(Chance(rng, 0.9) ? Pick(rng, kSparseTexts)
                                                            : Pick(rng, kRefused));
                item.set_durationseconds(Chance(rng, 0.1) ? kMaxU32
                                                          : Uniform<std::uint32_t>(rng, 0, 86400));
                item.set_utclocal(Chance(rng, 0.7));
            }
            auto [request, record] = Make<CGetNextTimeRangeRequest>(client);
            request->SetRanges(std::move(ranges));
            request->SetFromTime(ToUtcTime(Now()));
            Send(request, record);
        } else if (kind == 1) {
            auto [request, record] = Make<CGetTimeZoneDetailsRequest>(client);
            request->SetTimeZoneId(Pick(rng, kZones));
            request->SetLocaleName(Pick(rng, kLocales));
            request->SetAtTime(ToUtcTime(Now()));
            request->SetTranslatorFlag(Chance(rng, 0.5));
            Send(request, record);
        } else {
            auto [request, record] = Make<CGetAllTimeZoneDetailsRequest>(client);
            request->SetLocaleName(Pick(rng, kLocales));
            Send(request, record);
        }
    }

    // The clients' requests, and how often each is sent relative to the others.
    struct Operation {
        double weight;
        void (CStressRun::*send)(Rng&, std::uint32_t);
    };
    static constexpr Operation kOperations[] = {
        {10, &CStressRun::SendChurn},     {6, &CStressRun::SendUnregistration},
        {3, &CStressRun::SendSleep},      {8, &CStressRun::SendValidation},
        {14, &CStressRun::SendRemaining}, {6, &CStressRun::SendNextOccurrences},
        {6, &CStressRun::SendLastTick},   {6.2, &CStressRun::SendTypeChecked}};

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
        epochs_.push_back(
            {kind, SteadyClock::now(), SteadyClock::time_point(), wall, ptime(),
             clock_->UtcOffset(wall), outOfRange, last.setBacks + (kind == ChangeKind::SetBack),
             last.zoneChanges + (kind == ChangeKind::Zone), wall + due, wall + punctual});
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
        static constexpr std::array kForward = {10, 300, 3600};
        static constexpr std::array kSetBack = {10, 300, 3600, 86400};
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
        const auto thereAndBack = [&](time_duration delta) {
            Change(delta);
            rest(hold);
            WaitForSecondEnd(rng);
            Change(-delta);
        };
        while (SteadyClock::now() + 3s < end &&
               rest(std::chrono::milliseconds(Uniform(rng, 1500, 4000)))) {
            // Pairs and excursions only while there is time to hold them.
            const double holdable = SteadyClock::now() + 3s + hold < end ? 1 : 0;
            WaitForSecondEnd(rng);
            switch (std::discrete_distribution<int>({6, 2, holdable, holdable, 2})(rng)) {
                case 0:
                    Change(inBounds(
                        seconds(Chance(rng, 0.5) ? Pick(rng, kForward) : -Pick(rng, kSetBack))));
                    break;
                case 1:  // a second jump while the first one's re-plan walks the events
                    Change(inBounds(Chance(rng, 0.5) ? hours(1) : -hours(1)));
                    std::this_thread::sleep_for(std::chrono::milliseconds(Uniform(rng, 20, 80)));
                    Change(inBounds(Chance(rng, 0.5) ? seconds(10) : -seconds(10)));
                    break;
                case 2: {  // outside the supported years, then back
                    const ptime now = Now();
                    const boost::gregorian::date day(Chance(rng, 0.5) ? 2106 : 1966, 3, 1);
                    thereAndBack(ptime(day, now.time_of_day()) - now);
                    ++excursionCount_;
                    break;
                }
                case 3:  // there and back, further apart than the observer's period
                    thereAndBack(inBounds(Chance(rng, 0.5) ? hours(1) : -hours(1)));
                    ++pairCount_;
                    break;
                default: {
                    static constexpr std::array kOffsets = {0, 3600, -18000, 19800, 50400};
                    Change(time_duration(), seconds(Pick(rng, kOffsets)));
                }
            }
        }
    }

    // One bus thread calls this and the checks below, one message at a time.
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
        for (std::size_t i = epochs_.size(); checking_ && i-- > 0;) {
            if (!(sent < epochs_[i].startSteady)) return Moment{i, WallAt(epochs_[i], sent), sent};
            if (i > 0 && !(sent < epochs_[i - 1].endSteady)) break;
        }
        return std::nullopt;
    }

    // Whether a tick names a request `id` of kind `Request`; checks the tick's context.
    template <typename Request>
    bool IsTickOf(std::uint32_t id, const UserContextPtr& context) {
        if (id == 0 || id >= EndId() || records_[id].kind != KindOf<Request>()) {
            Violation("foreign tick", Text("a tick names request ", id, ", no ",
                                           kKinds[KindOf<Request>() - 1].name));
            return false;
        }
        if (context != contexts_[records_[id].client])
            Violation("user context", Text("request ", id, " ticked in another user's context"));
        return true;
    }

    void OnTick(const CKeyTag& tag, const UserContextPtr& context) {
        const std::optional<Moment> moment =
            SentMoment(SteadyClock::time_point(SteadyClock::duration(tag.sentAt.load())));
        if (tag.kind == TagKind::Sleep) {
            if (IsTickOf<CRegisterSleepEvent>(tag.key, context)) OnSleepTick(tag.key, moment);
            return;
        }
        if (tag.kind == TagKind::Churn) {
            ++churnTicks_;
            if (!IsTickOf<CRegisterTimeEvent>(tag.id, context)) return;
            if (records_[tag.id].refused) {
                Violation("refused registration ticked",
                          Text("registration ", tag.id, " was refused, yet ticked"));
            } else if (tag.id <= retiredBelow_[tag.key]) {
                Violation("tick after removal",
                          Text("registration ", tag.id, " of churn slot ", tag.key,
                               " ticked after request ", retiredBelow_[tag.key] + 1,
                               " replaced or removed it"));
            }
            return;
        }
        const std::uint32_t index = tag.key;
        ++eventTicks_;
        if (context != contexts_.back())
            Violation("user context", Text("event ", index, " ticked in another user's context"));
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
        } else if (IsEverySecond(index)) {
            TallyEverySecond(index / stride_, moment->epoch, epoch, moment->wall);
        } else {
            CheckSparse(index, epoch, moment->wall);
        }
    }

    // The ticks of one every-second event in one second of the epoch being tallied, and how
    // late into the second the first came.
    struct SecondTally {
        std::uint8_t ticks = 0;
        std::uint16_t lateMs = 0;
    };
    void TallyEverySecond(std::uint32_t index, std::size_t epochIndex, const Epoch& epoch,
                          const ptime& wall) {
        if (epochIndex != talliedEpoch_) CloseTallies(epochIndex);
        const std::int64_t slot = WholeSeconds(wall) - WholeSeconds(epoch.startWall);
        if (slot < 0 || slot >= 4096) return;
        std::vector<SecondTally>& tally = everySecondTally_[index];
        if (tally.size() <= static_cast<std::size_t>(slot)) tally.resize(slot + 1);
        if (tally[slot].ticks++ == 0) {
            tally[slot].lateMs = static_cast<std::uint16_t>(std::min<std::int64_t>(
                (wall - AtSecond(WholeSeconds(wall))).total_milliseconds(), 65535));
        }
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
            for (std::vector<SecondTally>& tally : everySecondTally_)
                tally.clear();
        }
        talliedEpoch_ = next;
    }

    void CheckSeconds(const Epoch& epoch) {
        if (epoch.outOfRange || epoch.endWall.is_not_a_date_time()) return;
        const std::int64_t base = WholeSeconds(epoch.startWall);
        // The whole seconds that start after the epoch's and its window's start, up to the
        // last one that ends within it.
        const std::int64_t from = WholeSeconds(epoch.dueFrom) + 1;
        const std::int64_t to = WholeSeconds(epoch.endWall) - 1;
        const std::int64_t lateFrom =
            std::min(to + 1, std::max(from, WholeSeconds(epoch.punctualFrom) + 1));
        for (std::uint32_t k = 0; k < options_.everySecond; ++k) {
            const std::vector<SecondTally>& tally = everySecondTally_[k];
            const auto in = [&](std::int64_t second) {
                const auto slot = static_cast<std::size_t>(second - base);
                return slot < tally.size() ? tally[slot] : SecondTally{};
            };
            const auto what = [&](std::int64_t second) {
                return Text("every-second event ", k * stride_, k % 10 == 0 ? " (local)" : "",
                            " in second ", AtSecond(second), " of the epoch from ",
                            epoch.startWall);
            };
            // While the module re-plans, a tick may slip into the next second: those seconds
            // count together. After a forward jump, a timer that the jump left in the past
            // may fire once more, for its old occurrence.
            unsigned replanTicks = 0;
            for (std::int64_t second = from; second < lateFrom; ++second)
                replanTicks += in(second).ticks;
            const auto replanSeconds =
                static_cast<unsigned>(std::max<std::int64_t>(0, lateFrom - from));
            if (replanTicks < replanSeconds ||
                replanTicks > replanSeconds + (epoch.kind == ChangeKind::Forward ? 1 : 0)) {
                Violation(replanTicks < replanSeconds ? "lost tick" : "doubled tick",
                          Text(what(from), " and the ", replanSeconds - 1,
                               " after it: ", replanTicks, " ticks"));
            }
            for (std::int64_t second = lateFrom; second <= to; ++second) {
                const SecondTally counted = in(second);
                if (counted.ticks != 1) {
                    Violation(counted.ticks == 0 ? "lost tick" : "doubled tick",
                              Text(what(second), ": ", +counted.ticks, " ticks"));
                } else if (counted.lateMs > kMaxLateness.total_milliseconds()) {
                    Violation("late tick", Text(what(second), ": ", counted.lateMs, " ms late"));
                }
                maxLateMs_ = std::max<unsigned>(maxLateMs_, counted.lateMs);
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
                     ", delay ", spec.event.delay(), " s) ticked at ", base, " for its match at ",
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
        if (IsCheckable(record)) CheckContent(record, kind, reply, error);
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

    // One check for each kind of reply the test knows the answer to.
    void CheckContent(const Record& record, const RequestKind& kind, const CResponse& reply,
                      const CResponseException* error) {
        ++contentChecked_;
        std::string got = error != nullptr ? "error \"" + ErrorText(*error) + "\""
                                           : Text("a reply of type ", reply.GetType());
        std::string expected;  // empty while the reply is right
        switch (record.expect) {
            case Expect::Nothing:
            case Expect::Probe:
                break;
            case Expect::Success:
            case Expect::Replaces:
                if (error != nullptr) expected = "success";
                break;
            case Expect::Error:
                if (error == nullptr || ErrorText(*error) != errorTexts_[record.expected])
                    expected = "error \"" + errorTexts_[record.expected] + "\"";
                break;
            case Expect::Remaining: {
                const auto* answer = dynamic_cast<const CGetRemainingTimeResponse*>(&reply);
                const ptime low = AtSecond(record.sentSecond);
                const ptime high = AtSecond(WholeSeconds(Now()) + 1);
                if (answer != nullptr)
                    got = Text(answer->GetRemainingSeconds(), " s to ", answer->GetNextTick());
                const ptime next = answer != nullptr ? answer->GetNextTick() : ptime();
                if (next.is_not_a_date_time() || next < low || next > high ||
                    answer->GetRemainingSeconds() < 0 || answer->GetRemainingSeconds() > 1)
                    expected = Text("0..1 s to ", low, "..", high);
                break;
            }
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
                      Text("request ", record.id, ": expected ", expected, ", got ", got));
        }
    }

    // Every answered request has its one reply, every short sleep ticked and, in long runs,
    // every limit was reached.
    void CheckRecords() {
        const auto idle = SteadyClock::now();
        for (std::uint32_t id = 1; id < EndId(); ++id) {
            const Record& record = records_[id];
            if (record.kind == 0) continue;
            const RequestKind& kind = kKinds[record.kind - 1];
            const unsigned wanted = kind.reply != 0 ? 1 : 0;
            if (record.replies != wanted) {
                Violation(
                    record.replies < wanted ? "missing reply" : "extra reply",
                    Text("request ", id, " (", kind.name, ") got ", +record.replies, " replies"));
            }
            if (record.kind == KindOf<CRegisterSleepEvent>() && record.ticks == 0 &&
                idle - record.sentSteady > std::chrono::seconds(record.sleepSeconds) + 3s) {
                Violation("lost sleep",
                          Text("sleep ", id, " of ", record.sleepSeconds, " s never ticked"));
            }
        }
        // Five seconds apart, paused only by the excursions.
        for (std::uint32_t index = 0; options_.seconds >= 120 && index < options_.events; ++index) {
            const std::uint32_t limit = population_[index].limit;
            if (limit != 0 && sparseTicks_[index].ticks != limit) {
                Violation("occurrence limit",
                          Text("event ", index, " with a limit of ", limit, " ticked ",
                               sparseTicks_[index].ticks, " times"));
            }
        }
    }

    void Stop() {
        Phase("stopping");
        SetSeams(nullptr, 0, 0);
        library_.unload();
        host_->PrepareShutdown();
        host_->Stop(true);
        // Replies the module made must reach the observer before its library goes.
        if (!host_->GetBus().WaitUntilIdle(60s)) Violation("bus", "the bus never became idle");
        host_->Unload();
    }

    void PrintSummary() const {
        std::printf(
            "\nrequests: %u (%llu answered); registration of the population: %.1f s\n"
            "clock: %llu jumps forward, %llu set-backs, %llu zone changes (%u excursions, %u "
            "pairs)\nticks: %llu of the population, %llu of churn slots, %llu of %llu sleeps\n"
            "checked: %llu seconds x %u every-second events (latest tick %u ms into its second), "
            "%llu sparse ticks, %llu replies\n",
            EndId() - 1, firstReplies_.load(), registrationSeconds_, changes_[1].load(),
            changes_[2].load(), changes_[3].load(), excursionCount_, pairCount_, eventTicks_,
            churnTicks_, sleepTicks_, sleepsSent_.load(), secondsChecked_, options_.everySecond,
            maxLateMs_, sparseChecked_, contentChecked_);
        for (const auto& [kind, count] : violations_)
            std::printf("violations of kind \"%s\": %llu\n", kind.c_str(), count);
        std::printf("violations: %llu\nRESULT: %s\n", violationCount_.load(),
                    violationCount_ == 0 ? "PASS" : "FAIL");
    }

    const Options options_;
    const std::uint32_t stride_ = options_.events / options_.everySecond;
    const SteadyClock::time_point start_ = SteadyClock::now();
    const std::shared_ptr<Scheduler::CAdjustableClock> clock_ =
        std::make_shared<Scheduler::CAdjustableClock>();
    std::unique_ptr<Host::CSchedulerHost> host_;
    Poco::SharedLibrary library_;
    std::vector<std::shared_ptr<Common::Security::CUserContext>> contexts_;

    std::vector<EventSpec> population_;
    std::vector<std::string> errorTexts_;  // the parser's texts for kRefused, kOtherErrors
    // Zeroed records by request id, in memory mapped for them alone: pages are used only as
    // ids are.
    static constexpr std::size_t kRecordBytes =
        std::size_t{kMaxRequests + kRecordMargin} * sizeof(Record);
    Record* const records_ =
        static_cast<Record*>(mmap(nullptr, kRecordBytes, PROT_READ | PROT_WRITE,
                                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0));
    std::atomic<std::uint32_t> nextId_{1};
    std::atomic<bool> stopClients_{false};
    std::atomic<unsigned long long> expectedReplies_{0}, firstReplies_{0}, sleepsSent_{0};
    double registrationSeconds_ = 0;

    // The clock's history; the mover appends, everyone reads.
    mutable std::mutex epochLock_;
    std::vector<Epoch> epochs_;
    unsigned excursions_ = 0;
    bool inExcursion_ = false, checking_ = false;
    time_duration shift_;
    std::array<std::atomic<unsigned long long>, 4> changes_{};  // by ChangeKind
    unsigned excursionCount_ = 0, pairCount_ = 0;

    // The observer's, and the final checks' once it is done.
    std::mutex observerLock_;
    std::vector<std::vector<SecondTally>> everySecondTally_;  // by event, then by second
    std::size_t talliedEpoch_ = 0;
    std::vector<SparseTally> sparseTicks_;
    std::vector<std::uint32_t> retiredBelow_;  // by churn slot: its registrations up to it
    unsigned long long eventTicks_ = 0, churnTicks_ = 0, sleepTicks_ = 0;
    unsigned long long secondsChecked_ = 0, sparseChecked_ = 0, contentChecked_ = 0;
    unsigned maxLateMs_ = 0;

    std::mutex violationLock_;
    std::map<std::string, unsigned long long> violations_;
    std::atomic<unsigned long long> violationCount_{0};
};

}  // namespace
}  // namespace Zent::Stress

int main(int argc, char** argv) {
    Zent::Stress::Options options;
    options.seed = std::random_device{}();
    bool scale = false;
    CLI::App app("The scheduler module under load. Exit code 0: clean; 1: violations; 2: usage.",
                 "scheduler_stress");
    app.add_flag("--scale", scale,
                 "100,000 events, 1,000 of them every second, clients at 2,500 requests/s "
                 "(build in release); default: 4,000, 200 and 250");
    app.add_option("--seconds", options.seconds, "length of the phase with the clock moving (20)")
        ->check(CLI::Range(1, 86400));
    auto* rate = app.add_option("--rate", options.rate,
                                "requests per second of each client, 0 for as fast as replies "
                                "come (250; --scale: 2500)")
                     ->check(CLI::Range(0, 1'000'000));
    app.add_option("--seed", options.seed, "seed of the random choices (default: random, printed)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    if (scale) options.events = 100'000, options.everySecond = 1'000;
    if (scale && rate->count() == 0) options.rate = 2'500;
    try {
        Zent::Stress::CStressRun run(options);
        return run.Execute();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scheduler_stress: %s\n", e.what());
        return 1;
    }
}
