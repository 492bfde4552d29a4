// The mixed run of scheduler_stress: client threads send a random mix of all eleven
// requests, valid and broken, through the in-process bus while hundreds of events tick every
// second, registrations replace and delete each other and the module's clock jumps. Checks
// that every answered request is answered exactly once, that no registration ticks after it
// was replaced or removed, that occurrence limits hold, that short sleeps tick, that steady
// every-second events tick again once the clock rests, that memory returns to its baseline
// and that a forced stop ends every thread within a second. A watchdog turns a hang into a
// failure with the stack of every thread.

#include "tests/stress/MixedRun.h"

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/stress/Sanitized.h"
#ifdef ZENT_STRESS_SANITIZED
// The bytes the sanitizer's allocator has handed out and not yet taken back.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/TimeConversions.h"
#include "Scheduler/timescheduler/TimeScheduler.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/GetNextTimeRangeRequest.h"
#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"
#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"
#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/SchedulerRequests.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/Response.h"
#include "common/module/ResponseException.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"
#include "tests/stress/StressSupport.h"

namespace Zent::Stress {

namespace {

using namespace std::chrono_literals;
namespace Kernel = Zent::Common::Kernel;
namespace Messages = Zent::Common::Message::Scheduler;
using boost::posix_time::hours;
using boost::posix_time::ptime;
using boost::posix_time::seconds;
using boost::posix_time::time_duration;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using Zent::Common::DataDefinition::Scheduler::TimeRangeItem;
using Zent::Common::Module::CResponse;
using Zent::Common::Module::CResponseException;
using Zent::Common::Security::CUserContext;
using Count = std::atomic<unsigned long long>;

constexpr std::int32_t kSlotTickType = 9200;
constexpr std::int32_t kNapTickType = 9201;
constexpr std::uint32_t kMaxU32 = std::numeric_limits<std::uint32_t>::max();
// A slot no registration ever uses.
constexpr std::uint32_t kUnknownSlot = kMaxU32;
// Replies a client may wait for at once.
constexpr int kWindow = 16;
// The shortest long sleep: far beyond any clock jump of the run.
constexpr std::uint32_t kLongSleepSeconds = 10'000'000;
const time_duration kMaxClockShift = hours(48);
// The module compares its clocks every 10 s: a clock set back stalls the events until the
// next comparison re-plans them, and a chain of such jumps may stall them for longer. Once
// the clock rests, each every-second event must tick again within a comparison and a bit.
constexpr std::uint32_t kClockSettlesMs = 12'000;
// How recent the last tick of an every-second event must be once the clock has settled.
constexpr std::uint32_t kMaxTickAgeMs = 3'000;

// The requests, their responses (0: never answered) and their names.
struct RequestKind {
    std::int32_t type;
    std::int32_t responseType;
    const char* name;
};
constexpr std::array<RequestKind, 11> kKinds = {{
    {Messages::CGetNextTimeRangeRequest::kType, Messages::CGetNextTimeRangeResponse::kType,
     "GetNextTimeRange"},
    {Messages::CGetRemainingTimeBySpecRequest::kType, Messages::CGetRemainingTimeResponse::kType,
     "GetRemainingTimeBySpec"},
    {Messages::CGetRemainingTimeByUserDataRequest::kType,
     Messages::CGetRemainingTimeResponse::kType, "GetRemainingTimeByUserData"},
    {Messages::CRegisterSleepEvent::kType, 0, "RegisterSleepEvent"},
    {Messages::CRegisterTimeEvent::kType, Messages::CRegisterTimeEventResponse::kType,
     "RegisterTimeEvent"},
    {Messages::CUnregisterTimeEvent::kType, 0, "UnregisterTimeEvent"},
    {Messages::CValidateTimeEvent::kType, Messages::CValidateTimeEventResponse::kType,
     "ValidateTimeEvent"},
    {Messages::CGetLastTickRequest::kType, Messages::CGetLastTickResponse::kType, "GetLastTick"},
    {Messages::CGetAllTimeZoneDetailsRequest::kType,
     Messages::CGetAllTimeZoneDetailsResponse::kType, "GetAllTimeZoneDetails"},
    {Messages::CGetTimeZoneDetailsRequest::kType, Messages::CGetTimeZoneDetailsResponse::kType,
     "GetTimeZoneDetails"},
    {Messages::CGetNextOccurrencesByUserDataRequest::kType,
     Messages::CGetNextOccurrencesByUserDataResponse::kType, "GetNextOccurrencesByUserData"},
}};

std::size_t KindIndex(std::int32_t type) {
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        if (kKinds[i].type == type) return i;
    }
    throw std::logic_error("not a scheduler request type: " + std::to_string(type));
}

// The user data of a registration. The scheduler tells registrations apart by the key: the
// slot of a time event (kSlotTickType), the request id of a sleep (kNapTickType). The id of
// the request that registered it tells a slot's ticks apart from those of the registration
// it replaced.
class CTag : public Kernel::IMessage {
public:
    CTag(std::int32_t type, std::uint32_t key, std::uint32_t id)
        : type_(type), key_(key), id_(id) {}
    std::int32_t GetType() const override { return type_; }
    std::string GetTypeName() const override {
        return type_ == kSlotTickType ? Text("StressTick:", key_, "#", id_)
                                      : Text("StressNap:", key_);
    }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        const auto* tag = dynamic_cast<const CTag*>(other.get());
        return tag != nullptr && tag->type_ == type_ && tag->key_ == key_;
    }
    std::size_t GetHash() const override { return std::hash<std::uint32_t>{}(key_); }
    std::uint32_t Key() const { return key_; }
    std::uint32_t Id() const { return id_; }

private:
    std::int32_t type_;
    std::uint32_t key_;
    std::uint32_t id_;
};

std::shared_ptr<CTag> SlotTag(std::uint32_t slot, std::uint32_t id) {
    return std::make_shared<CTag>(kSlotTickType, slot, id);
}

std::shared_ptr<CTag> NapTag(std::uint32_t request) {
    return std::make_shared<CTag>(kNapTickType, request, request);
}

// What a request is for, beyond its type.
enum class Role : std::uint8_t {
    Plain,
    Registration,  // a registration of a slot: replaces the slot's earlier ones when accepted
    Limited,       // a registration with an occurrence limit, never touched again
    Probe,         // sent right after an unregistration: its answer shows that one processed
    ShortNap,      // a sleep that ticks within seconds
    LongNap,       // a sleep that never ticks within the run
};

// One sent request. Its sender fills it in before sending; afterwards only the observer
// changes it, through Load and Store (replies, refused, ticks).
struct RequestRecord {
    std::int32_t type;  // 0: never sent
    std::uint32_t slot;
    std::uint32_t sentMs;
    std::uint16_t ticks;
    std::uint8_t client;
    std::uint8_t limit;  // Limited: the occurrence limit; ShortNap: the seconds
    Role role;
    std::uint8_t replies;
    bool refused;  // answered with an error
};

template <typename Field>
Field Load(Field& field) {
    return std::atomic_ref<Field>(field).load(std::memory_order_relaxed);
}

template <typename Field>
void Store(Field& field, Field value) {
    std::atomic_ref<Field>(field).store(value, std::memory_order_relaxed);
}

// Crontab texts that match every second.
constexpr std::array kEverySecond = {"* * * * * ?", "*/1 * * * * ?", "0-59 * * * * ?",
                                     "* * * ? * *", "* * * * * ? *"};
// Valid texts that tick less often, some rarely.
constexpr std::array kOtherValid = {"*/2 * * * * ?",        "0 * * * * ?",       "0 0 12 * * ?",
                                    "0 15 10 ? * MON-FRI",  "0 0/5 14,18 * * ?", "0 0 0 L * ?",
                                    "0 0 12 ? * 6#3",       "0 0 0 LW * ?",      "0 0 0 ? * 5L",
                                    "0 0 0 1 1 ? 2030-2031"};
// Texts the parser refuses, or whose events never occur or lie in the past.
constexpr std::array kBroken = {"",
                                "* * * * *",
                                "61 * * * * ?",
                                "*/0 * * * * ?",
                                "a b c d e f",
                                "* * * * * * * *",
                                "0 0 0 30 2 ?",
                                "0 0 0 1 1 ? 1999",
                                "0 0 12 ? * 6#6",
                                "5-2 * * * * ?",
                                "1,,2 * * * * ?",
                                "0 0 25 * * ?",
                                "0 0 0 ? * MON-XYZ",
                                "0 0 0 32 * ?",
                                "99999999999 * * * * ?",
                                "L W # ? - ,",
                                "\t\n",
                                "* * * * * ? 2100",
                                "0 0 0 ? * 8#1",
                                "-1 * * * * ?"};
constexpr std::array kBadFields = {"60",  "-1",          "*/0", "L", "W",  "#",  "5-2", "1,,2",
                                   "abc", "99999999999", "?",   "",  "**", "1-", "/5",  "0x10"};
constexpr std::array kZones = {"Europe/Berlin", "America/New_York",    "UTC",
                               "Asia/Kolkata",  "Australia/Lord_Howe", "Pacific/Chatham",
                               "Etc/GMT+14",    "Mars/Olympus",        "",
                               "europe/berlin", "Europe/Berlin/Mitte"};
constexpr std::array kLocales = {"en", "de_DE", "fr", "ja_JP", "", "xx_INVALID@@", "zh_Hant_TW"};

UTCTime Utc(const ptime& t) {
    return Zent::Scheduler::ToUtcTime(t);
}

// A record with one field out of range.
UTCTime BrokenUtc(Rng& rng, const ptime& now) {
    using Spoil = void (*)(UTCTime&);
    static constexpr Spoil kSpoils[] = {
        [](UTCTime& t) { t.set_month(0); },
        [](UTCTime& t) { t.set_month(13); },
        [](UTCTime& t) { t.set_month(-1); },
        [](UTCTime& t) { t.set_day(0); },
        [](UTCTime& t) { t.set_day(32); },
        [](UTCTime& t) { t.set_day(std::numeric_limits<std::int32_t>::min()); },
        [](UTCTime& t) { t.set_year(0); },
        [](UTCTime& t) { t.set_year(1399); },
        [](UTCTime& t) { t.set_year(10000); },
        [](UTCTime& t) { t.set_year(std::numeric_limits<std::int32_t>::max()); },
        [](UTCTime& t) { t.set_month(2), t.set_day(30); },
        [](UTCTime& t) { t.set_month(4), t.set_day(31); },
    };
    UTCTime t = Utc(now);
    Pick(rng, kSpoils)(t);
    return t;
}

// A record with only its year: required fields are missing.
UTCTime IncompleteUtc(const ptime& now) {
    UTCTime t;
    t.set_year(now.date().year());
    return t;
}

// A time within a year of `now`, either way.
ptime Around(Rng& rng, const ptime& now) {
    return now + seconds(Uniform<std::int64_t>(rng, -31'536'000, 31'536'000));
}

// A time to start from, drawn with `weights` for: all fields zero (meaning now), within a
// year of now, one field out of range, and `late`.
UTCTime SomeTime(Rng& rng, const ptime& now, std::initializer_list<double> weights,
                 const char* late = "2098-12-31 23:59:59") {
    switch (Weighted(rng, weights)) {
        case 0:
            return UTCTime();
        case 1:
            return Utc(Around(rng, now));
        case 2:
            return BrokenUtc(rng, now);
        default:
            return Utc(boost::posix_time::time_from_string(late));
    }
}

// A very long list: the longest text the run sends, valid in the end.
std::string LongList() {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += std::to_string(i % 60) + ",";
    return text + "0 * * * * ?";
}

std::string GarbageText(Rng& rng) {
    switch (Uniform(rng, 0, 3)) {
        case 0: {  // arbitrary bytes
            std::string text(Uniform<std::size_t>(rng, 0, 64), '\0');
            for (char& c : text)
                c = static_cast<char>(Uniform(rng, 0, 255));
            return text;
        }
        case 1:
            return LongList();
        case 2: {  // a valid text with one field spoiled
            std::array<std::string, 6> fields = {"0", "*", "*", "*", "*", "?"};
            fields[Uniform(rng, 0, 5)] = Pick(rng, kBadFields);
            std::string text = fields[0];
            for (int i = 1; i < 6; ++i)
                text += " " + fields[i];
            return text;
        }
        default:
            return Pick(rng, kBroken);
    }
}

// The registration every slot starts with.
TimeEvent EverySecondEvent() {
    TimeEvent event;
    event.set_timespecification(kEverySecond[0]);
    event.set_utclocal(true);
    return event;
}

TimeEvent ValidEvent(Rng& rng, const ptime& now, bool everySecond) {
    TimeEvent event;
    event.set_timespecification(everySecond ? Pick(rng, kEverySecond) : Pick(rng, kOtherValid));
    event.set_utclocal(Chance(rng, 0.85));
    const int variant = Uniform(rng, 0, 99);
    if (variant < 12) {
        *event.mutable_starttime() = Utc(now + seconds(Uniform(rng, 0, 5)));
    } else if (variant < 17) {
        *event.mutable_starttime() = Utc(now - hours(24));
    } else if (variant < 25) {
        *event.mutable_range()->mutable_rangedefinitionendtime() =
            Utc(now + seconds(Uniform(rng, 3600, 30 * 86400)));
    } else if (variant < 28) {
        event.set_delay(0);
    } else if (variant < 32 && !everySecond) {
        event.set_delay(1);
    }
    return event;
}

// A valid-looking event with one defect.
TimeEvent BrokenEvent(Rng& rng, const ptime& now) {
    TimeEvent event = ValidEvent(rng, now, Chance(rng, 0.5));
    const auto start = [&] { return event.mutable_starttime(); };
    const auto end = [&] { return event.mutable_range()->mutable_rangedefinitionendtime(); };
    constexpr std::int32_t kMaxDelay = std::numeric_limits<std::int32_t>::max();
    const int defect = Uniform(rng, 0, 10);
    if (defect == 0) event.set_timespecification(GarbageText(rng));
    if (defect == 1) event.set_timespecification(Pick(rng, kBroken));
    if (defect == 2) event.clear_timespecification();
    if (defect == 3) *start() = BrokenUtc(rng, now);
    if (defect == 4) *start() = IncompleteUtc(now);
    if (defect == 5) *end() = BrokenUtc(rng, now);
    if (defect == 6) *end() = IncompleteUtc(now);
    if (defect == 7) *end() = Utc(now - hours(1));
    if (defect == 8) *start() = Utc(now + hours(48)), *end() = Utc(now + hours(24));
    if (defect == 9) event.mutable_range()->set_rangedefinitionoccurences(0);
    if (defect == 10) event.set_delay(Chance(rng, 0.5) ? kMaxDelay : -5);
    return event;
}

// A valid event (every second with chance `everySecond`) with chance `valid`, else a broken one.
TimeEvent SomeEvent(Rng& rng, const ptime& now, double valid, double everySecond) {
    return Chance(rng, valid) ? ValidEvent(rng, now, Chance(rng, everySecond))
                              : BrokenEvent(rng, now);
}

std::size_t CountThreads() {
    using std::filesystem::directory_iterator;
    return static_cast<std::size_t>(
        std::distance(directory_iterator("/proc/self/task"), directory_iterator()));
}

// Heap bytes in use: the sanitizer's allocator when there is one, malloc's arenas otherwise.
std::size_t HeapInUse() {
#ifdef ZENT_STRESS_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// One run: a warm-up that takes the heap baseline, the main phase with the clock changing,
// then a forced stop in the middle of a final burst of requests.
class CStressRun {
public:
    explicit CStressRun(MixedOptions options) : options_(options), records_(options.maxRequests) {
        slotCount_ = options_.events + std::max(4u, options_.events / 10);
        retiredBelow_.assign(slotCount_, 0);
        retiredBy_.assign(slotCount_, 0);
        steadyTicks_.resize(options_.events);
        std::vector<double> weights;
        for (const Operation& operation : kOperations)
            weights.push_back(operation.weight);
        for (std::uint32_t i = 0; i <= options_.clients; ++i) {
            auto client = std::make_unique<Client>();
            client->index = static_cast<std::uint8_t>(i);
            client->context =
                std::make_shared<CUserContext>(std::make_shared<CStressUser>(Text("client-", i)));
            client->rng.seed(options_.seed * 1000003 + i);
            client->operations = std::discrete_distribution<int>(weights.begin(), weights.end());
            clients_.push_back(std::move(client));
        }
        // Every-second slots and limited slots, dealt round the clients; limited ones fall due
        // within the first 60% of the main phase.
        for (std::uint32_t slot = 0; slot < slotCount_; ++slot) {
            Client& client = *clients_[slot % options_.clients];
            if (slot < options_.events) {
                (IsSteady(slot) ? client.steadySlots : client.slots).push_back(slot);
            } else {
                const std::int64_t dueMs =
                    Uniform<std::int64_t>(client.rng, 0, options_.seconds * 600);
                client.limited.emplace_back(std::chrono::milliseconds(dueMs), slot);
            }
        }
        for (auto& client : clients_)
            std::sort(client->limited.begin(), client->limited.end());
        // The main thread's own requests, once the clients are done, may name any slot.
        for (std::uint32_t slot = 0; slot < options_.events; ++slot)
            clients_.back()->slots.push_back(slot);
        watchdog_ = std::thread([this, done = stopWatchdog_.get_future()] { Watchdog(done); });
    }

    ~CStressRun() {
        stopWatchdog_.set_value();
        watchdog_.join();
    }

    CStressRun(const CStressRun&) = delete;
    CStressRun& operator=(const CStressRun&) = delete;

    // The whole run; the process's exit code.
    int Execute() {
        std::printf(
            "scheduler_stress: seed %llu, %u clients, %u every-second events, %d s, "
            "watchdog %d s\n",
            static_cast<unsigned long long>(options_.seed), options_.clients, options_.events,
            options_.seconds, options_.watchdogSeconds);
        Phase("loading the module");
        StartModule();

        Phase("warm-up");
        FillCaches();
        RunClients(std::chrono::seconds(std::clamp(options_.seconds / 5, 2, 10)), Stage::WarmUp);
        Settle("warm-up: unregistering everything", 1);
        heapBaseline_ = HeapInUse();

        const std::uint32_t mainFirst = nextId_;
        Phase("main phase");
        RunClients(std::chrono::seconds(options_.seconds), Stage::Main);
        Settle("unregistering everything", mainFirst);
        heapAfter_ = HeapInUse();
        accountedEnd_ = EndId();
        shortNapsAccounted_ = shortNapsSent_;
        if (static_cast<double>(heapAfter_) > 1.05 * static_cast<double>(heapBaseline_)) {
            Violation("heap", Text("heap in use grew from ", heapBaseline_, " to ", heapAfter_,
                                   " bytes after unregistering everything"));
        }
        CheckRecords(1, accountedEnd_, true);

        Phase("final burst");
        ForcedStop();
        host_.reset();
        return violations_.Count() == 0 ? 0 : 1;
    }

private:
    struct Client {
        std::uint8_t index = 0;
        std::shared_ptr<CUserContext> context;
        Rng rng;
        std::vector<std::uint32_t> slots;        // registered, replaced and removed at will
        std::vector<std::uint32_t> steadySlots;  // registered once a phase
        // Occurrence-limited slots, by when they fall due from the start of the main phase.
        std::vector<std::pair<SteadyClock::duration, std::uint32_t>> limited;
        std::size_t limitedSent = 0;
        std::discrete_distribution<int> operations;  // indexes kOperations
        std::atomic<int> outstanding{0};
        // The long sleeps still registered; the oldest is unregistered to make room.
        std::array<std::uint32_t, 16> longNaps{};
        std::size_t longNapsSent = 0;
    };

    void Phase(const char* name) {
        phase_ = name;
        ++progress_;
        std::printf("[%7.1f s] %s\n",
                    std::chrono::duration<double>(SteadyClock::now() - start_).count(), name);
        std::fflush(stdout);
    }

    void StartModule() {
        Zent::Host::CSchedulerHost::Options hostOptions;
        hostOptions.logSink = [this](const Zent::Host::LogRecord& record) {
            const auto level = static_cast<std::size_t>(record.level);
            ++logLines_[level >= 1 && level <= 4 ? level : 0];
        };
        host_ = std::make_unique<Zent::Host::CSchedulerHost>(std::move(hostOptions));
        host_->GetBus().AddObserver(
            [this](const auto& message, const auto& context) { Observe(message, context); });
        threadsBeforeLoad_ = CountThreads();
        host_->Load(SCHEDULER_LIBRARY);
        // The time scheduler takes its clock when it is made, in Initialize.
        seams_ = std::make_unique<CModuleSeams>(SCHEDULER_LIBRARY);
        seams_->SetClock(clock_);
        host_->Initialize();
        host_->Start();
    }

    // The translator builds what it knows of a zone and a locale when first asked, and each
    // crontab parser of the module keeps the room its longest text needed. Asked for every
    // zone and locale, and given the longest text the run sends, before the heap baseline is
    // taken, they hold no more afterwards.
    void FillCaches() {
        Client& main = *clients_.back();
        for (const char* locale : kLocales) {
            for (const char* zone : kZones) {
                for (const bool flag : {false, true}) {
                    Send<Messages::CGetTimeZoneDetailsRequest>(main, [&](auto& request, auto) {
                        request.SetTimeZoneId(zone);
                        request.SetLocaleName(locale);
                        request.SetAtTime(Utc(Now()));
                        request.SetTranslatorFlag(flag);
                    });
                }
            }
            Send<Messages::CGetAllTimeZoneDetailsRequest>(
                main, [&](auto& request, auto) { request.SetLocaleName(locale); });
        }
        // Registrations and validations share one parser; last-tick queries have their own.
        TimeEvent longest = EverySecondEvent();
        longest.set_timespecification(LongList());
        const auto withLongest = [&](auto& request, auto) { request.SetTimeEvent(longest); };
        Send<Messages::CValidateTimeEvent>(main, withLongest);
        Send<Messages::CGetLastTickRequest>(main, withLongest);
    }

    // The main phase adds the occurrence-limited registrations and the clock changes.
    enum class Stage { WarmUp, Main };
    void RunClients(std::chrono::seconds length, Stage stage) {
        const bool withLimited = stage == Stage::Main;
        stopClients_ = false;
        const SteadyClock::time_point end = SteadyClock::now() + length;
        std::vector<std::thread> threads;
        for (std::uint32_t i = 0; i < options_.clients; ++i) {
            threads.emplace_back(
                [this, i, end, withLimited] { ClientMain(*clients_[i], end, withLimited); });
        }
        std::thread clock;
        if (stage == Stage::Main) clock = std::thread([this, end] { ClockMain(end); });
        for (std::thread& thread : threads)
            thread.join();
        stopClients_ = true;
        if (clock.joinable()) clock.join();
        if (nextId_ > options_.maxRequests) {
            std::printf(
                "note: the request budget (--max-requests %u) ran out before the time did\n",
                options_.maxRequests);
        }
    }

    void ClientMain(Client& client, SteadyClock::time_point end, bool withLimited) {
        const SteadyClock::time_point begin = SteadyClock::now();
        for (const auto* slots : {&client.steadySlots, &client.slots}) {
            for (const std::uint32_t slot : *slots) {
                if (!Register(client, slot, EverySecondEvent(), Role::Registration)) return;
            }
        }
        while (!stopClients_ && SteadyClock::now() < end) {
            if (client.outstanding >= kWindow) {
                std::this_thread::sleep_for(200us);
                continue;
            }
            if (withLimited && client.limitedSent < client.limited.size() &&
                SteadyClock::now() - begin >= client.limited[client.limitedSent].first) {
                TimeEvent event = EverySecondEvent();
                if (Chance(client.rng, 0.3)) event.set_timespecification("*/2 * * * * ?");
                const auto limit = static_cast<std::uint8_t>(Uniform(client.rng, 2, 3));
                event.mutable_range()->set_rangedefinitionoccurences(limit);
                const std::uint32_t slot = client.limited[client.limitedSent++].second;
                if (!Register(client, slot, event, Role::Limited, limit)) return;
                ++limitedSent_;
            } else if (!RandomRequest(client)) {
                return;
            }
        }
    }

    void ClockMain(SteadyClock::time_point end) {
        Rng& rng = clients_.back()->rng;
        const time_duration initialOffset = clock_->UtcOffset(Now());
        constexpr std::array kJumps = {2, 10, 300, 3600, 86400};  // seconds
        constexpr std::array kOffsets = {0, 3600, -18000, 19800, 50400, -43200};
        const bool spaced = options_.jumpGapSeconds > 0;
        const auto noteChange = [this](long long changeSeconds, bool zone) {
            clockChanges_[clockChangeCount_++ % clockChanges_.size()] = {MillisecondsSinceStart(),
                                                                         changeSeconds, zone};
        };
        time_duration shift;
        for (;;) {
            const std::chrono::milliseconds pause =
                spaced ? std::chrono::seconds(options_.jumpGapSeconds)
                       : std::chrono::milliseconds(Uniform(rng, 700, 2500));
            // Spaced changes leave a whole gap before the clock is put back.
            if (SteadyClock::now() + (spaced ? 2 * pause : pause) > end) break;
            if (WaitUntil([this] { return stopClients_.load(); }, SteadyClock::now() + pause, 50ms))
                break;
            if (Chance(rng, 0.75)) {
                time_duration delta = seconds(Pick(rng, kJumps));
                if (Chance(rng, 0.5)) delta = -delta;
                if ((shift + delta) > kMaxClockShift || (shift + delta) < -kMaxClockShift) {
                    delta = -delta;
                }
                clock_->Jump(delta);
                shift += delta;
                noteChange(delta.total_seconds(), false);
                ++clockJumps_;
            } else {
                const int offset = Pick(rng, kOffsets);
                clock_->SetUtcOffset(seconds(offset));
                noteChange(offset, true);
                ++zoneChanges_;
            }
        }
        if (spaced) std::this_thread::sleep_for(std::chrono::seconds(options_.jumpGapSeconds));
        clock_->Jump(-shift);
        clock_->SetUtcOffset(initialOffset);
        if (clockChangeCount_ > 0) noteChange(-shift.total_seconds(), false);
    }

    // Ends a phase: waits for its replies, limited events and short sleeps (what is missing
    // is reported per request by CheckRecords), checks the steady slots, unregisters
    // everything registered from request `firstId` on and lets the bus drain.
    void Settle(const char* unregistering, std::uint32_t firstId) {
        Phase("waiting for replies");
        WaitForReplies();
        Phase("waiting for limited events and sleeps");
        WaitUntil(
            [this] { return limitedDone_ >= limitedSent_ && shortNapsDone_ >= shortNapsSent_; },
            SteadyClock::now() + 60s, 50ms);
        CheckSteadySlots();
        Phase(unregistering);
        UnregisterEverything(firstId);
        WaitForReplies();
        const auto idle = [this] {
            if (!host_->GetBus().WaitUntilIdle(30s))
                Violation("bus", "the bus did not become idle within 30 s");
        };
        idle();
        // Ticks of anything still registered would arrive in this second and a half.
        std::this_thread::sleep_for(1500ms);
        idle();
    }

    void WaitForReplies() {
        if (!WaitUntil([this] { return firstReplies_ >= expectedReplies_; },
                       SteadyClock::now() + 60s)) {
            Violation("missing reply",
                      Text(expectedReplies_ - firstReplies_,
                           " requests were still unanswered 60 s after the clients stopped"));
        }
    }

    // Every steady slot ticks again once the clock has rested for kClockSettlesMs.
    void CheckSteadySlots() {
        if (clockChangeCount_ > 0) {
            const ClockChange& last = clockChanges_[(clockChangeCount_ - 1) % clockChanges_.size()];
            const std::uint32_t settled = last.atMs + kClockSettlesMs;
            const std::uint32_t now = MillisecondsSinceStart();
            if (now < settled)
                std::this_thread::sleep_for(std::chrono::milliseconds(settled - now));
        }
        const std::uint32_t now = MillisecondsSinceStart();
        for (std::uint32_t slot = 0; slot < options_.events; ++slot) {
            const std::uint32_t at = Load(steadyTicks_[slot].atMs);
            if (IsSteady(slot) && (at == 0 || now - at > kMaxTickAgeMs)) {
                Violation("steady event stalled",
                          Text("the every-second registration of slot ", slot,
                               " has not ticked for ", now - at, " ms"));
            }
        }
    }

    void UnregisterEverything(std::uint32_t firstId) {
        Client& main = *clients_.back();
        bool sent = true;
        for (std::uint32_t slot = 0; slot < slotCount_ && sent; ++slot)
            sent = Unregister(main, kSlotTickType, slot, true);
        // Short sleeps that never ticked are reported by CheckRecords; here they only go.
        for (std::uint32_t id = firstId, end = EndId(); id < end && sent; ++id) {
            if (records_[id].role == Role::ShortNap && Load(records_[id].ticks) == 0)
                sent = Unregister(main, kNapTickType, id);
        }
        for (const auto& client : clients_) {
            for (std::uint32_t& nap : client->longNaps) {
                if (nap != 0 && sent) sent = Unregister(main, kNapTickType, nap);
                nap = 0;
            }
        }
        if (!sent) {
            Violation("request budget",
                      "the request budget ran out while unregistering everything; raise "
                      "--max-requests");
        }
    }

    void CheckRecords(std::uint32_t firstId, std::uint32_t endId, bool complete) {
        for (std::uint32_t id = firstId; id < endId; ++id) {
            const RequestRecord& record = records_[id];
            if (record.type == 0) continue;
            const RequestKind& kind = kKinds[KindIndex(record.type)];
            const unsigned replies = Load(record.replies);
            const unsigned ticks = Load(record.ticks);
            const std::string request = Text("request ", id, " (", kind.name);
            if (kind.responseType == 0 && replies > 0) {
                Violation("reply to an unanswered request",
                          Text(request, ", never answered) got ", replies, " replies"));
            } else if (kind.responseType != 0 && replies > 1) {
                Violation("duplicate reply", Text(request, ") got ", replies, " replies"));
            } else if (kind.responseType != 0 && replies == 0 && complete) {
                Violation("missing reply", Text(request, ") got no reply"));
            }
            if (record.role == Role::Registration && Load(record.refused) && ticks > 0) {
                Violation("refused registration ticked",
                          Text("registration ", id, " of slot ", record.slot,
                               " was refused, yet ticked ", ticks, " times"));
            } else if (record.role == Role::Limited && complete && ticks != record.limit) {
                Violation("occurrence limit",
                          Text("registration ", id, " with an occurrence limit of ",
                               unsigned{record.limit}, " ticked ", ticks, " times"));
            } else if (record.role == Role::ShortNap && complete && ticks != 1) {
                Violation("short sleep", Text("short sleep ", id, " ticked ", ticks, " times"));
            }
        }
    }

    void ForcedStop() {
        Client& main = *clients_.back();
        for (std::uint32_t slot = 0; slot < options_.events; ++slot) {
            if (!Register(main, slot, EverySecondEvent(), Role::Registration)) break;
        }
        for (int burst = 0; burst < 200 && RandomRequest(main); ++burst) {
        }
        std::this_thread::sleep_for(1500ms);  // ticking, with requests still queued
        // The module's clock goes back to the system's.
        seams_.reset();

        Phase("forced stop");
        threadsRunning_ = CountThreads();
        const auto begin = SteadyClock::now();
        host_->Stop(true);
        host_->Unload();
        WaitUntil([this] { return (threadsAfterUnload_ = CountThreads()) == threadsBeforeLoad_; },
                  begin + 1s, 5ms);
        const auto stopTime =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - begin);
        if (stopTime > 1s) {
            Violation("stop time", Text("Stop(true) and Unload took ", stopTime.count(), " ms"));
        }
        if (threadsAfterUnload_ != threadsBeforeLoad_) {
            Violation("threads", Text(threadsAfterUnload_, " threads run after Unload, ",
                                      threadsBeforeLoad_, " ran before Load"));
        }
        const std::uint64_t sentAtUnload = host_->GetBus().GetSentCount();
        std::this_thread::sleep_for(1200ms);
        if (!host_->GetBus().WaitUntilIdle(10s))
            Violation("bus", "the bus did not become idle after Unload");
        if (const std::uint64_t sentLater = host_->GetBus().GetSentCount();
            sentLater != sentAtUnload) {
            Violation("sent after unload",
                      Text(sentLater - sentAtUnload, " messages were sent after Unload"));
        }
        CheckRecords(accountedEnd_, EndId(), false);
        PrintSummary(stopTime);
    }

    void PrintSummary(std::chrono::milliseconds stopTime) const {
        std::printf("\n%-30s %10s %10s %10s %12s\n", "request", "sent", "responses", "errors",
                    "max latency");
        unsigned long long totalSent = 0;
        for (std::size_t i = 0; i < kKinds.size(); ++i) {
            totalSent += sent_[i];
            std::printf("%3d %-26s %10llu", kKinds[i].type, kKinds[i].name, sent_[i].load());
            if (kKinds[i].responseType == 0) {
                std::printf(" %10s %10s %12s\n", "-", "-", "-");
            } else {
                std::printf(" %10llu %10llu %9u ms\n", responses_[i].load(), errors_[i].load(),
                            maxLatencyMs_[i]);
            }
        }
        std::printf("%-30s %10llu %10llu\n", "total (replies)", totalSent, firstReplies_.load());
        std::printf(
            "bus: %llu messages observed; log lines: %llu detail, %llu info, %llu warning, "
            "%llu error\n",
            observed_.load(), logLines_[1].load(), logLines_[2].load(), logLines_[3].load(),
            logLines_[4].load());
        std::printf(
            "ticks: %llu of slot registrations; %llu of %llu occurrence-limited registrations; "
            "%llu of sleeps (%llu short sleeps sent before the final burst)\n",
            slotTicks_.load(), limitedTicks_.load(), limitedSent_.load(), napTicks_.load(),
            shortNapsAccounted_);
        std::printf(
            "short sleeps ticked at most %u ms late; steady every-second events went at most %u ms "
            "without a tick\n",
            maxNapLatenessMs_, maxSteadyGapMs_);
        std::printf("clock: %llu jumps, %llu zone changes", clockJumps_.load(),
                    zoneChanges_.load());
        if (clockChangeCount_ > 0) std::printf("; at s since start, jump or zone offset in s:");
        for (std::size_t i = clockChangeCount_ - std::min(clockChangeCount_, clockChanges_.size());
             i < clockChangeCount_; ++i) {
            const ClockChange& change = clockChanges_[i % clockChanges_.size()];
            std::printf(" %.1f:%s%+lld", change.atMs / 1000.0, change.zone ? "zone" : "",
                        change.seconds);
        }
        std::printf("\n");
        const double baseline = static_cast<double>(heapBaseline_);
        std::printf(
            "heap in use: baseline %zu bytes, after unregistering everything %zu bytes "
            "(%+.2f%%, at most +5%%)\n",
            heapBaseline_, heapAfter_,
            heapBaseline_ == 0 ? 0.0
                               : 100.0 * (static_cast<double>(heapAfter_) - baseline) / baseline);
        std::printf(
            "forced stop: Stop(true) + Unload until the threads were gone: %lld ms; threads: %zu "
            "before Load, %zu running, %zu after Unload\n",
            static_cast<long long>(stopTime.count()), threadsBeforeLoad_, threadsRunning_,
            threadsAfterUnload_);
        violations_.PrintSummary();
    }

    // Sending. Each sender returns false once the request budget is spent.

    // Sends a `Request` made for the next request id and filled in by `fill(request, id)`.
    template <typename Request, typename Fill>
    bool Send(Client& client, Fill&& fill, Role role = Role::Plain, std::uint32_t slot = 0,
              std::uint8_t limit = 0) {
        const std::uint32_t id = nextId_.fetch_add(1);
        if (id > options_.maxRequests) return false;
        records_[id] = {
            Request::kType, slot, MillisecondsSinceStart(), 0, client.index, limit, role, 0, false};
        auto request = std::make_shared<Request>(id);
        fill(*request, id);
        const std::size_t kind = KindIndex(Request::kType);
        ++sent_[kind];
        if (kKinds[kind].responseType != 0) {
            ++client.outstanding;
            ++expectedReplies_;
        }
        if (!host_->Send(std::move(request), client.context)) {
            Violation("bus", Text("the bus refused a ", kKinds[kind].name, " request"));
        }
        return true;
    }

    bool Register(Client& client, std::uint32_t slot, const TimeEvent& event, Role role,
                  std::uint8_t limit = 0) {
        const auto fill = [&](Messages::CRegisterTimeEvent& request, std::uint32_t id) {
            request.SetTimeEvent(event);
            request.SetUserData(SlotTag(slot, id));
        };
        return Send<Messages::CRegisterTimeEvent>(client, fill, role, slot, limit);
    }

    // Unregistration is never answered: with `probe`, a query for the same user data follows,
    // whose answer shows that the unregistration was processed.
    bool Unregister(Client& client, std::int32_t tagType, std::uint32_t key, bool probe = false) {
        const auto tagged = [&](auto& request, std::uint32_t id) {
            request.SetUserData(std::make_shared<CTag>(tagType, key, id));
        };
        return Send<Messages::CUnregisterTimeEvent>(client, tagged, Role::Plain, key) &&
               (!probe || Send<Messages::CGetRemainingTimeByUserDataRequest>(client, tagged,
                                                                             Role::Probe, key));
    }

    // User data to ask about: mostly one of the client's slots, else any slot, no slot, some
    // sleep, or none at all.
    std::shared_ptr<Kernel::IMessage> SomeUserData(Client& client, std::uint32_t id) {
        switch (Weighted(client.rng, {5, 2, 1, 1, 1})) {
            case 0:
                return SlotTag(Pick(client.rng, client.slots), id);
            case 1:
                return SlotTag(Uniform<std::uint32_t>(client.rng, 0, slotCount_ - 1), id);
            case 2:
                return SlotTag(kUnknownSlot, id);
            case 3:
                return NapTag(Uniform<std::uint32_t>(client.rng, 1, id));
            default:
                return nullptr;
        }
    }

    bool RegisterValid(Client& client) {
        Rng& rng = client.rng;
        return Register(client, Pick(rng, client.slots), ValidEvent(rng, Now(), Chance(rng, 0.85)),
                        Role::Registration);
    }

    bool RegisterBroken(Client& client) {
        Rng& rng = client.rng;
        if (Chance(rng, 0.1)) {  // a valid event without user data
            return Send<Messages::CRegisterTimeEvent>(client, [&](auto& request, auto) {
                request.SetTimeEvent(ValidEvent(rng, Now(), true));
            });
        }
        // Refused or not, it names one of the client's slots: a refusal must leave the slot's
        // registration as it was, and must never tick.
        return Register(client, Pick(rng, client.slots), BrokenEvent(rng, Now()),
                        Role::Registration);
    }

    bool UnregisterSome(Client& client) {
        return Chance(client.rng, 0.8)
                   ? Unregister(client, kSlotTickType, Pick(client.rng, client.slots), true)
                   : Unregister(client, kSlotTickType, kUnknownSlot);
    }

    bool RemainingByUserData(Client& client) {
        return Send<Messages::CGetRemainingTimeByUserDataRequest>(
            client, [&](auto& request, std::uint32_t id) {
                request.SetUserData(SomeUserData(client, id));
            });
    }

    bool RemainingBySpec(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CGetRemainingTimeBySpecRequest>(client, [&](auto& request, auto) {
            request.SetTimeEvent(Chance(rng, 0.4) ? EverySecondEvent()
                                                  : SomeEvent(rng, Now(), 0.5, 0.5));
        });
    }

    bool NextOccurrences(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CGetNextOccurrencesByUserDataRequest>(
            client, [&](auto& request, std::uint32_t id) {
                request.SetUserData(SomeUserData(client, id));
                const int count = Uniform(rng, 0, 19);
                request.SetCount(count < 6    ? Uniform<std::uint64_t>(rng, 1, 20)
                                 : count < 9  ? 0
                                 : count < 12 ? 10000
                                 : count < 15 ? std::numeric_limits<std::uint64_t>::max()
                                              : Uniform<std::uint64_t>(rng, 21, 500));
                request.SetFromTime(SomeTime(rng, Now(), {8, 6, 3, 3}, "2098-12-31 23:59:00"));
            });
    }

    bool NextRange(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CGetNextTimeRangeRequest>(client, [&](auto& request, auto) {
            std::vector<TimeRangeItem> ranges(Uniform<std::size_t>(rng, 0, 4));
            for (TimeRangeItem& item : ranges) {
                item.set_timespecification(Chance(rng, 0.8) ? Pick(rng, kOtherValid)
                                                            : GarbageText(rng));
                item.set_durationseconds(Chance(rng, 0.1) ? kMaxU32
                                                          : Uniform<std::uint32_t>(rng, 0, 86400));
                item.set_utclocal(Chance(rng, 0.7));
            }
            request.SetRanges(std::move(ranges));
            request.SetFromTime(SomeTime(rng, Now(), {1, 6, 2, 1}));
        });
    }

    bool Validate(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CValidateTimeEvent>(client, [&](auto& request, auto) {
            request.SetTimeEvent(SomeEvent(rng, Now(), 0.6, 0.3));
            request.SetTimeZoneSlack(Chance(rng, 0.5));
        });
    }

    bool LastTick(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CGetLastTickRequest>(client, [&](auto& request, auto) {
            TimeEvent event = SomeEvent(rng, Now(), 0.75, 0.5);
            // Now and then a huge limit, counted without stepping. Without a limit about
            // half of the time.
            const int limit = Uniform(rng, 0, 99);
            if (limit < 54) {
                event.mutable_range()->set_rangedefinitionoccurences(
                    limit < 40           ? Uniform<std::uint32_t>(rng, 1, 1000)
                    : limit < 46         ? 0u
                    : limit < 52         ? kMaxU32
                    : Chance(rng, 0.005) ? 20'000'000u
                                         : Uniform<std::uint32_t>(rng, 10'000, 100'000));
            }
            request.SetTimeEvent(std::move(event));
        });
    }

    bool ZoneDetails(Client& client) {
        Rng& rng = client.rng;
        return Send<Messages::CGetTimeZoneDetailsRequest>(client, [&](auto& request, auto) {
            request.SetTimeZoneId(Pick(rng, kZones));
            request.SetLocaleName(Pick(rng, kLocales));
            request.SetAtTime(SomeTime(rng, Now(), {3, 14, 3, 0}));
            request.SetTranslatorFlag(Chance(rng, 0.5));
        });
    }

    bool AllZoneDetails(Client& client) {
        return Send<Messages::CGetAllTimeZoneDetailsRequest>(client, [&](auto& request, auto) {
            request.SetLocaleName(Pick(client.rng, kLocales));
        });
    }

    bool Sleep(Client& client) {
        Rng& rng = client.rng;
        const int kind = Weighted(rng, {11, 6, 3});
        const Role role = kind == 0 ? Role::ShortNap : kind == 1 ? Role::LongNap : Role::Plain;
        const std::uint32_t sleepSeconds =
            role == Role::LongNap ? Uniform<std::uint32_t>(rng, kLongSleepSeconds, kMaxU32)
                                  : Uniform<std::uint32_t>(rng, 0, 3);
        std::uint32_t* longNap = nullptr;
        if (role == Role::LongNap) {
            longNap = &client.longNaps[client.longNapsSent++ % client.longNaps.size()];
            if (*longNap != 0 && !Unregister(client, kNapTickType, *longNap)) return false;
        }
        const auto fill = [&](Messages::CRegisterSleepEvent& request, std::uint32_t id) {
            request.SetSleepSeconds(sleepSeconds);
            if (role == Role::Plain) return;  // without user data
            request.SetUserData(NapTag(id));
            if (longNap != nullptr) *longNap = id;
            if (role == Role::ShortNap) ++shortNapsSent_;
        };
        const auto limit = static_cast<std::uint8_t>(role == Role::ShortNap ? sleepSeconds : 0);
        return Send<Messages::CRegisterSleepEvent>(client, fill, role, 0, limit);
    }

    // The random requests, and how often each is sent relative to the others.
    struct Operation {
        double weight;
        bool (CStressRun::*send)(Client&);
    };
    static constexpr std::array<Operation, 12> kOperations = {{
        {18, &CStressRun::RegisterValid},
        {8, &CStressRun::RegisterBroken},
        {9, &CStressRun::UnregisterSome},
        {8, &CStressRun::RemainingByUserData},
        {6, &CStressRun::RemainingBySpec},
        {8, &CStressRun::NextOccurrences},
        {6, &CStressRun::NextRange},
        {8, &CStressRun::Validate},
        {6, &CStressRun::LastTick},
        {5, &CStressRun::ZoneDetails},
        {0.2, &CStressRun::AllZoneDetails},
        {5, &CStressRun::Sleep},
    }};

    bool RandomRequest(Client& client) {
        return (this->*kOperations[client.operations(client.rng)].send)(client);
    }

    // Observing.

    void Observe(const std::shared_ptr<Kernel::IMessage>& message,
                 const Kernel::UserContextPtr& context) {
        ++observed_;
        ++progress_;
        // Anything that is neither a reply nor a tag is one of the requests.
        if (const auto* reply = dynamic_cast<const CResponse*>(message.get())) {
            OnReply(*reply);
        } else if (const auto* tag = dynamic_cast<const CTag*>(message.get())) {
            if (tag->GetType() == kSlotTickType) OnSlotTick(*tag, context);
            if (tag->GetType() == kNapTickType) OnNapTick(*tag);
        }
    }

    void OnReply(const CResponse& reply) {
        const std::uint32_t id = reply.GetRequestId();
        if (id == 0 || id >= EndId() || records_[id].type == 0) {
            Violation("reply to an unknown request",
                      Text("a reply of type ", reply.GetType(), " names request ", id,
                           ", which was never sent"));
            return;
        }
        RequestRecord& record = records_[id];
        const std::size_t index = KindIndex(record.type);
        const RequestKind& kind = kKinds[index];
        const std::uint8_t replies = Load(record.replies);
        if (replies < std::numeric_limits<std::uint8_t>::max()) {
            Store(record.replies, static_cast<std::uint8_t>(replies + 1));
        }
        if (replies > 0 || kind.responseType == 0) return;  // reported by CheckRecords

        ++firstReplies_;
        --clients_[record.client]->outstanding;
        maxLatencyMs_[index] =
            std::max(maxLatencyMs_[index], MillisecondsSinceStart() - record.sentMs);
        const auto* error = dynamic_cast<const CResponseException*>(&reply);
        if (error != nullptr) {
            Store(record.refused, true);
            ++errors_[index];
        } else if (reply.GetType() == kind.responseType) {
            ++responses_[index];
        } else {
            Violation("wrong reply type",
                      Text("request ", id, " (", kind.name, ") was answered with type ",
                           reply.GetType(), " instead of ", kind.responseType));
            return;
        }
        // An accepted registration retires the slot's earlier ones. A probe's answer shows
        // that the unregistration before it was processed; its client sent nothing else of
        // the slot between the two.
        const bool retires =
            (record.role == Role::Registration && error == nullptr) || record.role == Role::Probe;
        if (retires && id - 1 > retiredBelow_[record.slot]) {
            retiredBelow_[record.slot] = id - 1;
            retiredBy_[record.slot] = record.role == Role::Probe ? id - 1 : id;
        }
        if (record.role == Role::Limited && error != nullptr) {
            Violation("occurrence limit", Text("the occurrence-limited registration ", id,
                                               " was refused: ", ErrorText(*error)));
        }
    }

    void OnSlotTick(const CTag& tick, const Kernel::UserContextPtr& context) {
        const std::uint32_t slot = tick.Key();
        const std::uint32_t id = tick.Id();
        if (slot >= slotCount_ || records_[id].type != Messages::CRegisterTimeEvent::kType) {
            Violation("foreign tick", Text("a tick carries the user data of request ", id,
                                           " (slot ", slot, "), which registered nothing"));
            return;
        }
        RequestRecord& record = records_[id];
        const auto ticks = static_cast<std::uint16_t>(Load(record.ticks) + 1);
        Store(record.ticks, ticks);
        if (record.role == Role::Limited) {
            ++limitedTicks_;
            if (ticks == record.limit) ++limitedDone_;
        } else {
            ++slotTicks_;
        }
        if (IsSteady(slot)) {
            SteadyTicks& last = steadyTicks_[slot];
            const std::uint32_t now = MillisecondsSinceStart();
            if (Load(last.registration) == id) {
                maxSteadyGapMs_ = std::max(maxSteadyGapMs_, now - Load(last.atMs));
            }
            Store(last.registration, id);
            Store(last.atMs, now);
        }
        if (context != clients_[record.client]->context) {
            Violation("user context",
                      Text("registration ", id, " ticked with another user context than its own"));
        }
        if (id <= retiredBelow_[slot]) {
            Violation("tick after removal",
                      Text("registration ", id, " of slot ", slot, " ticked after request ",
                           retiredBy_[slot], " replaced or removed it"));
        }
    }

    void OnNapTick(const CTag& nap) {
        const std::uint32_t id = nap.Key();
        RequestRecord& record = records_[id];
        ++napTicks_;
        const auto ticks = static_cast<std::uint16_t>(Load(record.ticks) + 1);
        Store(record.ticks, ticks);
        if (record.role == Role::LongNap) {
            Violation("long sleep ticked", Text("sleep ", id, " of at least ", kLongSleepSeconds,
                                                " seconds ticked within the run"));
        } else if (record.role != Role::ShortNap) {
            Violation("foreign tick", Text("a tick carries the user data of request ", id,
                                           ", which registered no sleep"));
        } else if (ticks == 1) {
            ++shortNapsDone_;
            // Due a whole second after the second it was registered in, at most.
            const std::uint32_t due = record.sentMs + 1000u * (record.limit + 1u);
            const std::uint32_t now = MillisecondsSinceStart();
            if (now > due) maxNapLatenessMs_ = std::max(maxNapLatenessMs_, now - due);
        }
    }

    void Violation(const char* kind, const std::string& text) { violations_.Report(kind, text); }

    void Watchdog(const std::future<void>& done) {
        unsigned long long seen = progress_;
        auto lastProgress = SteadyClock::now();
        while (done.wait_for(500ms) == std::future_status::timeout) {
            if (progress_ != seen) {
                seen = progress_;
                lastProgress = SteadyClock::now();
            }
            if (SteadyClock::now() - lastProgress < std::chrono::seconds(options_.watchdogSeconds))
                continue;
            std::fprintf(stderr,
                         "WATCHDOG: no progress for %d s in phase \"%s\": the module or the bus "
                         "hangs. Stacks of every thread follow.\n",
                         options_.watchdogSeconds, phase_.load());
            std::fflush(stdout);
            std::fflush(stderr);
            const std::string gdb =
                Text("gdb -p ", getpid(), " -batch -ex \"thread apply all bt\" 1>&2");
            if (std::system(gdb.c_str()) != 0)
                std::fprintf(stderr, "WATCHDOG: gdb could not show the stacks\n");
            std::fprintf(stderr, "WATCHDOG: aborting\n");
            std::abort();
        }
    }

    ptime Now() const { return clock_->UniversalTime(); }
    std::uint32_t MillisecondsSinceStart() const {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_)
                .count());
    }
    // Every other round of every-second slots dealt to the clients keeps its registration
    // for a whole phase.
    bool IsSteady(std::uint32_t slot) const {
        return slot < options_.events && slot / options_.clients % 2 == 0;
    }
    // One past the last request id handed out.
    std::uint32_t EndId() const { return std::min(nextId_.load(), options_.maxRequests + 1); }

    const MixedOptions options_;
    const SteadyClock::time_point start_ = SteadyClock::now();
    const std::shared_ptr<Zent::Scheduler::CAdjustableClock> clock_ =
        std::make_shared<Zent::Scheduler::CAdjustableClock>();
    std::unique_ptr<Zent::Host::CSchedulerHost> host_;
    std::unique_ptr<CModuleSeams> seams_;

    CRecordBook<RequestRecord> records_;
    std::atomic<std::uint32_t> nextId_{1};
    std::vector<std::unique_ptr<Client>> clients_;  // the last one is the main thread's
    std::uint32_t slotCount_ = 0;                   // every-second slots, then limited ones
    std::vector<std::uint32_t> retiredBelow_;       // per slot; observer only
    std::vector<std::uint32_t> retiredBy_;          // per slot: the request that retired them
    std::atomic<bool> stopClients_{false};

    // Counters; the plain ones are the observer's alone.
    std::array<Count, kKinds.size()> sent_{}, responses_{}, errors_{};
    std::array<std::uint32_t, kKinds.size()> maxLatencyMs_{};
    std::uint32_t maxNapLatenessMs_ = 0;
    // The last tick of each every-second slot, kept for the steady ones.
    struct SteadyTicks {
        std::uint32_t registration = 0;
        std::uint32_t atMs = 0;
    };
    std::vector<SteadyTicks> steadyTicks_;
    std::uint32_t maxSteadyGapMs_ = 0;
    Count expectedReplies_{}, firstReplies_{}, observed_{};
    Count slotTicks_{}, limitedTicks_{}, napTicks_{};
    Count limitedSent_{}, limitedDone_{}, shortNapsSent_{}, shortNapsDone_{};
    unsigned long long shortNapsAccounted_ = 0;  // sent before the final burst
    std::array<Count, 5> logLines_{};            // by level 1..4; 0: others
    Count clockJumps_{}, zoneChanges_{};
    // The clock's changes in the main phase, the last ones when there were more.
    struct ClockChange {
        std::uint32_t atMs = 0;
        long long seconds = 0;  // the jump, or the zone's new offset
        bool zone = false;
    };
    std::array<ClockChange, 64> clockChanges_{};
    std::size_t clockChangeCount_ = 0;

    std::size_t threadsBeforeLoad_ = 0, threadsRunning_ = 0, threadsAfterUnload_ = 0;
    std::size_t heapBaseline_ = 0, heapAfter_ = 0;
    std::uint32_t accountedEnd_ = 0;

    Count progress_{};  // for the watchdog
    std::atomic<const char*> phase_{"start"};
    std::promise<void> stopWatchdog_;
    std::thread watchdog_;

    CViolations violations_;
};

}  // namespace

int RunMixed(const MixedOptions& options) {
    CStressRun run(options);
    return run.Execute();
}

}  // namespace Zent::Stress
