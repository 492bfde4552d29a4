// scheduler_stress: the scheduler module under load. Client threads send a random mix of all
// eleven requests, valid and broken, through the in-process bus while hundreds of events tick
// every second, registrations replace and delete each other and the module's clock jumps.
// Checks that every answered request is answered exactly once, that no registration ticks
// after it was replaced or removed, that occurrence limits hold, that memory returns to its
// baseline and that a forced stop ends every thread within a second. A watchdog turns a hang
// into a failure with the stack of every thread. Exit code 0: clean; 1: violations; 2: usage.
//
//     scheduler_stress --seconds 60 --clients 4 --events 300 --seed 1

#include <malloc.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <Poco/SharedLibrary.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZENT_STRESS_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZENT_STRESS_SANITIZED 1
#endif
#endif
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
#include "common/message/scheduler/MessageTypes.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/Response.h"
#include "common/module/ResponseException.h"
#include "common/security/IUser.h"
#include "common/security/UserContext.h"
#include "host/SchedulerHost.h"

namespace {

using namespace std::chrono_literals;
namespace Kernel = Zent::Common::Kernel;
namespace Messages = Zent::Common::Message::Scheduler;
namespace MessageType = Zent::Common::Message::Scheduler::MessageType;
using boost::posix_time::ptime;
using boost::posix_time::time_duration;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using Zent::Common::DataDefinition::Scheduler::TimeRangeItem;
using Zent::Common::Security::CUserContext;
using SteadyClock = std::chrono::steady_clock;
using Rng = std::mt19937_64;

// The module's copy of the clock seam, looked up by its mangled name:
// Zent::Scheduler::SetCurrentClock(std::shared_ptr<Zent::Scheduler::IClock>).
constexpr const char* kSetClockSymbol =
    "_ZN4Zent9Scheduler15SetCurrentClockESt10shared_ptrINS0_6IClockEE";
using SetClockFunction = void (*)(std::shared_ptr<Zent::Scheduler::IClock>);

constexpr std::int32_t kSlotTickType = 9200;
constexpr std::int32_t kNapTickType = 9201;
// A slot no registration ever uses.
constexpr std::uint32_t kUnknownSlot = std::numeric_limits<std::uint32_t>::max();
// Replies a client may wait for at once.
constexpr int kWindow = 16;
// The shortest long sleep: far beyond any clock jump of the run.
constexpr std::uint32_t kLongSleepSeconds = 10'000'000;
const time_duration kMaxClockShift = boost::posix_time::hours(48);
// The module compares its clocks every 10 s: a clock set back stalls the events until the
// next comparison re-plans them, and a chain of such jumps may stall them for longer. Once
// the clock rests, each every-second event must tick again within a comparison and a bit.
constexpr std::uint32_t kClockSettlesMs = 12'000;
// How recent the last tick of an every-second event must be once the clock has settled.
constexpr std::uint32_t kMaxTickAgeMs = 3'000;
constexpr std::size_t kShownViolations = 5;  // of each kind

struct Options {
    int seconds = 20;
    int clients = 4;
    int events = 300;
    std::uint64_t seed = std::random_device{}();
    int watchdogSeconds = 30;
    std::uint32_t maxRequests = 50'000'000;
    int jumpGapSeconds = 0;  // 0: random pauses of 0.7 to 2.5 s
};

constexpr const char* kUsage =
    "usage: scheduler_stress [--seconds N] [--clients N] [--events N] [--seed N]\n"
    "                        [--jump-gap N] [--watchdog N] [--max-requests N]\n"
    "  --seconds N       length of the main phase (default 20)\n"
    "  --clients N       client threads sending requests, 1..64 (default 4)\n"
    "  --events N        every-second registrations, half of them never touched in a phase\n"
    "                    (default 300; at least twice --clients)\n"
    "  --seed N          seed of the random mix (default: random, printed)\n"
    "  --jump-gap N      seconds between changes of the module's clock (default: random\n"
    "                    0.7..2.5 s; from 12 on, the scheduler sees each jump on its own)\n"
    "  --watchdog N      seconds without progress that count as a hang (default 30)\n"
    "  --max-requests N  requests sent at most over the whole run (default 50000000)\n";

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n%s", name.c_str(), kUsage);
            return std::nullopt;
        }
        std::uint64_t value = 0;
        try {
            std::size_t used = 0;
            value = std::stoull(argv[++i], &used);
            if (argv[i][used] != '\0') throw std::invalid_argument("trailing text");
        } catch (const std::exception&) {
            std::fprintf(stderr, "%s: not a number: %s\n%s", name.c_str(), argv[i], kUsage);
            return std::nullopt;
        }
        const auto bounded = [&](std::uint64_t low, std::uint64_t high) {
            if (value < low || value > high) {
                std::fprintf(stderr, "%s must lie in %llu..%llu\n", name.c_str(),
                             static_cast<unsigned long long>(low),
                             static_cast<unsigned long long>(high));
                return false;
            }
            return true;
        };
        if (name == "--seconds") {
            if (!bounded(1, 86400)) return std::nullopt;
            options.seconds = static_cast<int>(value);
        } else if (name == "--clients") {
            if (!bounded(1, 64)) return std::nullopt;
            options.clients = static_cast<int>(value);
        } else if (name == "--events") {
            if (!bounded(1, 100000)) return std::nullopt;
            options.events = static_cast<int>(value);
        } else if (name == "--seed") {
            options.seed = value;
        } else if (name == "--watchdog") {
            if (!bounded(1, 3600)) return std::nullopt;
            options.watchdogSeconds = static_cast<int>(value);
        } else if (name == "--jump-gap") {
            if (!bounded(0, 3600)) return std::nullopt;
            options.jumpGapSeconds = static_cast<int>(value);
        } else if (name == "--max-requests") {
            if (!bounded(1000, 100'000'000)) return std::nullopt;
            options.maxRequests = static_cast<std::uint32_t>(value);
        } else {
            std::fprintf(stderr, "unknown option %s\n%s", name.c_str(), kUsage);
            return std::nullopt;
        }
    }
    if (options.events < 2 * options.clients) {
        std::fprintf(stderr, "--events must be at least twice --clients\n%s", kUsage);
        return std::nullopt;
    }
    return options;
}

template <typename... Parts>
std::string Text(const Parts&... parts) {
    std::ostringstream out;
    (out << ... << parts);
    return out.str();
}

// The requests, their responses (0: never answered) and their names.
struct RequestKind {
    std::int32_t type;
    std::int32_t responseType;
    const char* name;
};
constexpr std::array<RequestKind, 11> kKinds = {{
    {MessageType::GetNextTimeRangeRequest, MessageType::GetNextTimeRangeResponse,
     "GetNextTimeRange"},
    {MessageType::GetRemainingTimeBySpecRequest, MessageType::GetRemainingTimeResponse,
     "GetRemainingTimeBySpec"},
    {MessageType::GetRemainingTimeByUserDataRequest, MessageType::GetRemainingTimeResponse,
     "GetRemainingTimeByUserData"},
    {MessageType::RegisterSleepEvent, 0, "RegisterSleepEvent"},
    {MessageType::RegisterTimeEvent, MessageType::RegisterTimeEventResponse, "RegisterTimeEvent"},
    {MessageType::UnregisterTimeEvent, 0, "UnregisterTimeEvent"},
    {MessageType::ValidateTimeEvent, MessageType::ValidateTimeEventResponse, "ValidateTimeEvent"},
    {MessageType::GetLastTickRequest, MessageType::GetLastTickResponse, "GetLastTick"},
    {MessageType::GetAllTimeZoneDetailsRequest, MessageType::GetAllTimeZoneDetailsResponse,
     "GetAllTimeZoneDetails"},
    {MessageType::GetTimeZoneDetailsRequest, MessageType::GetTimeZoneDetailsResponse,
     "GetTimeZoneDetails"},
    {MessageType::GetNextOccurrencesByUserDataRequest,
     MessageType::GetNextOccurrencesByUserDataResponse, "GetNextOccurrencesByUserData"},
}};

std::size_t KindIndex(std::int32_t type) {
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        if (kKinds[i].type == type) return i;
    }
    throw std::logic_error("not a scheduler request type: " + std::to_string(type));
}

// The user data of a registration. The scheduler tells registrations apart by the slot;
// the id of the request that registered it tells its ticks apart from those of the
// registration it replaced.
class CSlotTick : public Kernel::IMessage {
public:
    CSlotTick(std::uint32_t slot, std::uint32_t registration)
        : slot_(slot), registration_(registration) {}
    std::int32_t GetType() const override { return kSlotTickType; }
    std::string GetTypeName() const override {
        return Text("StressTick:", slot_, "#", registration_);
    }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        const auto* tick = dynamic_cast<const CSlotTick*>(other.get());
        return tick != nullptr && tick->slot_ == slot_;
    }
    std::size_t GetHash() const override { return std::hash<std::uint32_t>{}(slot_); }
    std::uint32_t Slot() const { return slot_; }
    std::uint32_t Registration() const { return registration_; }

private:
    std::uint32_t slot_;
    std::uint32_t registration_;
};

// The user data of one sleep registration.
class CNapTick : public Kernel::IMessage {
public:
    explicit CNapTick(std::uint32_t request) : request_(request) {}
    std::int32_t GetType() const override { return kNapTickType; }
    std::string GetTypeName() const override { return Text("StressNap:", request_); }
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override {
        const auto* nap = dynamic_cast<const CNapTick*>(other.get());
        return nap != nullptr && nap->request_ == request_;
    }
    std::size_t GetHash() const override { return std::hash<std::uint32_t>{}(request_); }
    std::uint32_t Request() const { return request_; }

private:
    std::uint32_t request_;
};

class CStressUser : public Zent::Common::Security::IUser {
public:
    explicit CStressUser(std::string name) : name_(std::move(name)) {}
    std::string GetName() const override { return name_; }
    std::string GetUuid() const override { return "uuid-" + name_; }
    bool IsSystemUser() const override { return false; }
    void GetAccessRights(std::vector<Zent::Common::Security::AccessRight>& rights) const override {
        rights.clear();
    }
    void GetAccessRightsMatrix(std::vector<Zent::Common::Security::AccessRight>& rights, bool,
                               std::vector<std::string>&, std::vector<std::string>&,
                               std::vector<Zent::Common::Security::AccessRight>&) const override {
        rights.clear();
    }
    bool IsAnonymous() const override { return false; }
    std::string ToJson() const override { return "{\"name\":\"" + name_ + "\"}"; }

private:
    std::string name_;
};

// What a request is for, beyond its type.
enum class Role : std::uint8_t {
    Plain,
    Registration,  // a registration of a slot: replaces the slot's earlier ones when accepted
    Limited,       // a registration with an occurrence limit, never touched again
    Probe,         // sent right after an unregistration: its answer shows that one processed
    ShortNap,      // a sleep that ticks within seconds
    LongNap,       // a sleep that never ticks within the run
};

enum class Outcome : std::uint8_t { None, Response, Error };

// One sent request. Its sender fills it in before sending; afterwards only the observer
// changes it, through Load and Store (replies, outcome, ticks).
struct RequestRecord {
    std::int32_t type;  // 0: never sent
    std::uint32_t slot;
    std::uint32_t sentMs;
    std::uint16_t ticks;
    std::uint8_t client;
    std::uint8_t limit;  // Limited: the occurrence limit; ShortNap: the seconds
    Role role;
    std::uint8_t replies;
    Outcome outcome;
};

template <typename Field>
Field Load(Field& field) {
    return std::atomic_ref<Field>(field).load(std::memory_order_relaxed);
}

template <typename Field>
void Store(Field& field, Field value) {
    std::atomic_ref<Field>(field).store(value, std::memory_order_relaxed);
}

// The records of all requests, indexed by request id, in memory mapped for them alone: the
// heap figures stay those of the module and the bus, and pages are used only as ids are.
class CRequestBook {
public:
    explicit CRequestBook(std::uint32_t capacity)
        : size_((std::size_t{capacity} + 1) * sizeof(RequestRecord)),
          records_(static_cast<RequestRecord*>(mmap(nullptr, size_, PROT_READ | PROT_WRITE,
                                                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1,
                                                    0))),
          capacity_(capacity) {
        if (records_ == MAP_FAILED) throw std::runtime_error("cannot map the request records");
    }
    ~CRequestBook() { munmap(records_, size_); }
    CRequestBook(const CRequestBook&) = delete;
    CRequestBook& operator=(const CRequestBook&) = delete;

    // Ids run from 1 to Capacity().
    std::uint32_t Capacity() const { return capacity_; }
    RequestRecord& operator[](std::uint32_t id) { return records_[id]; }

private:
    std::size_t size_;
    RequestRecord* records_;
    std::uint32_t capacity_;
};

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

bool Chance(Rng& rng, double probability) {
    return std::bernoulli_distribution(probability)(rng);
}

template <typename Integer>
Integer Uniform(Rng& rng, Integer low, Integer high) {
    return std::uniform_int_distribution<Integer>(low, high)(rng);
}

template <typename Array>
auto Pick(Rng& rng, const Array& values) {
    return values[Uniform<std::size_t>(rng, 0, values.size() - 1)];
}

UTCTime Utc(const ptime& t) {
    return Zent::Scheduler::ToUtcTime(t);
}

// A record with one field out of range.
UTCTime BrokenUtc(Rng& rng, const ptime& now) {
    UTCTime t = Utc(now);
    switch (Uniform(rng, 0, 11)) {
        case 0:
            t.set_month(0);
            break;
        case 1:
            t.set_month(13);
            break;
        case 2:
            t.set_day(0);
            break;
        case 3:
            t.set_day(32);
            break;
        case 4:
            t.set_year(0);
            break;
        case 5:
            t.set_year(10000);
            break;
        case 6:
            t.set_year(std::numeric_limits<std::int32_t>::max());
            break;
        case 7:
            t.set_month(2), t.set_day(30);
            break;
        case 8:
            t.set_month(-1);
            break;
        case 9:
            t.set_day(std::numeric_limits<std::int32_t>::min());
            break;
        case 10:
            t.set_year(1399);
            break;
        default:
            t.set_month(4), t.set_day(31);
            break;
    }
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
    return now + boost::posix_time::seconds(Uniform<std::int64_t>(rng, -31'536'000, 31'536'000));
}

std::string GarbageText(Rng& rng) {
    switch (Uniform(rng, 0, 3)) {
        case 0: {  // arbitrary bytes
            std::string text(Uniform<std::size_t>(rng, 0, 64), '\0');
            for (char& c : text)
                c = static_cast<char>(Uniform(rng, 0, 255));
            return text;
        }
        case 1: {  // a very long list
            std::string text;
            for (int i = 0; i < 2000; ++i)
                text += std::to_string(i % 60) + ",";
            return text + "0 * * * * ?";
        }
        case 2: {  // a valid text with one field spoiled
            std::string fields[6] = {"0", "*", "*", "*", "*", "?"};
            fields[Uniform(rng, 0, 5)] = Pick(rng, kBadFields);
            return fields[0] + " " + fields[1] + " " + fields[2] + " " + fields[3] + " " +
                   fields[4] + " " + fields[5];
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
        *event.mutable_starttime() = Utc(now + boost::posix_time::seconds(Uniform(rng, 0, 5)));
    } else if (variant < 17) {
        *event.mutable_starttime() = Utc(now - boost::posix_time::hours(24));
    } else if (variant < 25) {
        *event.mutable_range()->mutable_rangedefinitionendtime() =
            Utc(now + boost::posix_time::seconds(Uniform(rng, 3600, 30 * 86400)));
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
    switch (Uniform(rng, 0, 10)) {
        case 0:
            event.set_timespecification(GarbageText(rng));
            break;
        case 1:
            *event.mutable_starttime() = BrokenUtc(rng, now);
            break;
        case 2:
            *event.mutable_starttime() = IncompleteUtc(now);
            break;
        case 3:
            *event.mutable_range()->mutable_rangedefinitionendtime() = BrokenUtc(rng, now);
            break;
        case 4:
            *event.mutable_range()->mutable_rangedefinitionendtime() =
                Utc(now - boost::posix_time::hours(1));
            break;
        case 5:
            event.mutable_range()->set_rangedefinitionoccurences(0);
            break;
        case 6:
            event.set_delay(Chance(rng, 0.5) ? std::numeric_limits<std::int32_t>::max() : -5);
            break;
        case 7:
            event.clear_timespecification();
            break;
        case 8:
            *event.mutable_range()->mutable_rangedefinitionendtime() = IncompleteUtc(now);
            break;
        case 9:
            *event.mutable_starttime() = Utc(now + boost::posix_time::hours(48));
            *event.mutable_range()->mutable_rangedefinitionendtime() =
                Utc(now + boost::posix_time::hours(24));
            break;
        default:
            event.set_timespecification(Pick(rng, kBroken));
            break;
    }
    return event;
}

std::size_t CountThreads() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Heap bytes in use: the sanitizer's allocator when there is one, malloc's arenas otherwise.
std::size_t HeapInUse() {
#ifdef ZENT_STRESS_SANITIZED
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

std::string ErrorText(const Zent::Common::Module::CResponseException& reply) {
    if (!reply.GetHolder()) return "an error reply without an exception";
    std::string text;
    try {
        reply.GetHolder()->Rethrow();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "an exception that is no std::exception";
    }
    return text;
}

class CStressRun {
public:
    explicit CStressRun(Options options);
    ~CStressRun();
    CStressRun(const CStressRun&) = delete;
    CStressRun& operator=(const CStressRun&) = delete;

    // The whole run; the process's exit code.
    int Execute();

private:
    enum Operation {
        kRegister,
        kRegisterBroken,
        kUnregister,
        kRemainingByUserData,
        kRemainingBySpec,
        kNextOccurrences,
        kNextRange,
        kValidate,
        kLastTick,
        kZoneDetails,
        kAllZoneDetails,
        kSleep,
    };

    struct Client {
        std::uint8_t index = 0;
        std::shared_ptr<CUserContext> context;
        Rng rng;
        std::vector<std::uint32_t> slots;        // registered, replaced and removed at will
        std::vector<std::uint32_t> steadySlots;  // registered once a phase
        std::vector<std::uint32_t> limitedSlots;
        std::vector<SteadyClock::duration> limitedDue;  // from the start of the main phase
        std::size_t limitedSent = 0;
        std::discrete_distribution<int> operations;
        std::atomic<int> outstanding{0};
        // The long sleeps still registered; the oldest is unregistered to make room.
        std::array<std::uint32_t, 16> longNaps{};
        std::size_t longNapsSent = 0;
    };

    // Setting up and tearing down.
    void StartModule();
    void ReachModuleClock();
    void ForcedStop();

    // Phases.
    void Phase(const char* name);
    // The translator builds what it knows of a zone and a locale when first asked: asked
    // for all of them before the heap baseline is taken, it holds no more afterwards.
    void TouchEveryZone();
    void RunClients(std::chrono::seconds length, bool withLimited, bool withClock);
    void ClientMain(Client& client, SteadyClock::time_point end, bool withLimited);
    void ClockMain(SteadyClock::time_point end);
    void WaitForReplies();
    void WaitForTicks();
    // Every steady slot ticks again once the clock has rested for kClockSettlesMs.
    void CheckSteadySlots();
    void UnregisterEverything(std::uint32_t firstId);
    void BudgetSpent();
    void Drain();
    void CheckRecords(std::uint32_t firstId, std::uint32_t endId, bool complete);
    void Watchdog();

    // Sending.
    std::uint32_t Reserve(Client& client, std::int32_t type, Role role, std::uint32_t slot = 0);
    void Dispatch(Client& client, const std::shared_ptr<Kernel::IMessage>& request);
    bool RandomRequest(Client& client);
    bool Register(Client& client, std::uint32_t slot, const TimeEvent& event, Role role,
                  std::uint8_t limit = 0);
    bool RegisterBroken(Client& client);
    bool Unregister(Client& client, std::uint32_t slot, bool probe);
    bool UnregisterNap(Client& client, std::uint32_t nap);
    bool RemainingByUserData(Client& client);
    bool RemainingBySpec(Client& client);
    bool NextOccurrences(Client& client);
    bool NextRange(Client& client);
    bool Validate(Client& client);
    bool LastTick(Client& client);
    bool ZoneDetails(Client& client);
    bool AllZoneDetails(Client& client);
    bool Sleep(Client& client);
    std::shared_ptr<Kernel::IMessage> SomeUserData(Client& client, std::uint32_t id);
    ptime Now() const { return clock_->UniversalTime(); }
    std::uint32_t MillisecondsSinceStart() const {
        return static_cast<std::uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start_)
                .count());
    }
    // Every other round of every-second slots dealt to the clients keeps its registration
    // for a whole phase.
    bool IsSteady(std::uint32_t slot) const {
        return slot < static_cast<std::uint32_t>(options_.events) &&
               slot / static_cast<std::uint32_t>(options_.clients) % 2 == 0;
    }
    // One past the last request id handed out.
    std::uint32_t EndId() const { return std::min(nextId_.load(), records_.Capacity() + 1); }

    // Observing.
    void Observe(const std::shared_ptr<Kernel::IMessage>& message,
                 const Kernel::UserContextPtr& context);
    void OnReply(const Zent::Common::Module::CResponse& reply);
    void OnSlotTick(const CSlotTick& tick, const Kernel::UserContextPtr& context);
    void OnNapTick(const CNapTick& nap);
    // Reports a failed check of kind `kind` (a literal).
    void Violation(const char* kind, const std::string& text);

    void PrintSummary(std::chrono::milliseconds stopTime) const;

    const Options options_;
    const SteadyClock::time_point start_ = SteadyClock::now();
    const std::shared_ptr<Zent::Scheduler::CAdjustableClock> clock_ =
        std::make_shared<Zent::Scheduler::CAdjustableClock>();
    std::unique_ptr<Zent::Host::CSchedulerHost> host_;
    std::unique_ptr<Poco::SharedLibrary> moduleLibrary_;
    SetClockFunction setModuleClock_ = nullptr;
    bool clockReachable_ = false;

    CRequestBook records_;
    std::atomic<std::uint32_t> nextId_{1};
    std::vector<std::unique_ptr<Client>> clients_;  // the last one is the main thread's
    std::uint32_t slotCount_ = 0;                   // every-second slots, then limited ones
    std::vector<std::uint32_t> retiredBelow_;       // per slot; observer only
    std::vector<std::uint32_t> retiredBy_;          // per slot: the request that retired them
    std::atomic<bool> stopClients_{false};

    // Counters.
    std::array<std::atomic<std::uint64_t>, kKinds.size()> sent_{};
    std::array<std::atomic<std::uint64_t>, kKinds.size()> responses_{};
    std::array<std::atomic<std::uint64_t>, kKinds.size()> errors_{};
    std::array<std::uint32_t, kKinds.size()> maxLatencyMs_{};  // observer only
    std::uint32_t maxNapLatenessMs_ = 0;                       // observer only
    // The last tick of each every-second slot, kept for the steady ones by the observer.
    struct SteadyTicks {
        std::uint32_t registration = 0;
        std::uint32_t atMs = 0;
    };
    std::vector<SteadyTicks> steadyTicks_;
    std::uint32_t maxSteadyGapMs_ = 0;  // observer only
    std::atomic<std::uint64_t> expectedReplies_{0};
    std::atomic<std::uint64_t> firstReplies_{0};
    std::atomic<std::uint64_t> slotTicks_{0};
    std::atomic<std::uint64_t> limitedTicks_{0};
    std::atomic<std::uint64_t> napTicks_{0};
    std::atomic<std::uint64_t> limitedSent_{0};
    std::atomic<std::uint64_t> limitedDone_{0};
    std::atomic<std::uint64_t> shortNapsSent_{0};
    std::atomic<std::uint64_t> shortNapsDone_{0};
    std::uint64_t shortNapsAccounted_ = 0;  // sent before the final burst
    std::atomic<std::uint64_t> observed_{0};
    std::array<std::atomic<std::uint64_t>, 5> logLines_{};  // by level 1..4; 0: others
    std::atomic<std::uint64_t> clockJumps_{0};
    std::atomic<std::uint64_t> zoneChanges_{0};
    // The clock's changes in the main phase, the last ones when there were more.
    struct ClockChange {
        std::uint32_t atMs = 0;
        std::int64_t jumpSeconds = 0;  // the zone's new offset for a zone change
        bool zone = false;
    };
    std::array<ClockChange, 64> clockChanges_{};
    std::size_t clockChangeCount_ = 0;

    std::size_t threadsBeforeLoad_ = 0;
    std::size_t threadsRunning_ = 0;
    std::size_t threadsAfterUnload_ = 0;
    std::size_t heapBaseline_ = 0;
    std::size_t heapAfter_ = 0;
    std::uint32_t accountedEnd_ = 0;

    // Watchdog.
    std::atomic<std::uint64_t> progress_{0};
    std::atomic<const char*> phase_{"start"};
    std::mutex watchdogLock_;
    std::condition_variable watchdogWake_;
    bool watchdogDone_ = false;
    std::thread watchdog_;

    mutable std::mutex violationLock_;
    std::uint64_t violationCount_ = 0;
    struct ViolationKind {
        const char* name;
        std::uint64_t count;
    };
    std::vector<ViolationKind> violationKinds_;  // room for all kinds is kept from the start
};

CStressRun::CStressRun(Options options) : options_(options), records_(options_.maxRequests) {
    const auto limitedCount = static_cast<std::uint32_t>(std::max(4, options_.events / 10));
    slotCount_ = static_cast<std::uint32_t>(options_.events) + limitedCount;
    retiredBelow_.assign(slotCount_, 0);
    retiredBy_.assign(slotCount_, 0);
    steadyTicks_.resize(static_cast<std::size_t>(options_.events));
    // Weights of the operations, in the order of Operation.
    const std::vector<double> weights = {18, 8, 9, 8, 6, 8, 6, 8, 6, 5, 0.2, 5};
    for (int i = 0; i <= options_.clients; ++i) {
        auto client = std::make_unique<Client>();
        client->index = static_cast<std::uint8_t>(i);
        client->context =
            std::make_shared<CUserContext>(std::make_shared<CStressUser>(Text("client-", i)));
        client->rng.seed(options_.seed * 1000003 + static_cast<std::uint64_t>(i));
        client->operations = std::discrete_distribution<int>(weights.begin(), weights.end());
        clients_.push_back(std::move(client));
    }
    // Every-second slots and limited slots, dealt round the clients; limited ones fall due
    // within the first 60% of the main phase.
    for (std::uint32_t slot = 0; slot < slotCount_; ++slot) {
        Client& client = *clients_[slot % static_cast<std::uint32_t>(options_.clients)];
        if (slot < static_cast<std::uint32_t>(options_.events)) {
            (IsSteady(slot) ? client.steadySlots : client.slots).push_back(slot);
        } else {
            client.limitedSlots.push_back(slot);
            client.limitedDue.push_back(std::chrono::milliseconds(
                Uniform<std::int64_t>(client.rng, 0, options_.seconds * 600)));
        }
    }
    for (auto& client : clients_)
        std::sort(client->limitedDue.begin(), client->limitedDue.end());
    // The main thread's own requests, once the clients are done, may name any slot.
    for (std::uint32_t slot = 0; slot < static_cast<std::uint32_t>(options_.events); ++slot) {
        clients_.back()->slots.push_back(slot);
    }
    violationKinds_.reserve(32);
    watchdog_ = std::thread([this] { Watchdog(); });
}

CStressRun::~CStressRun() {
    {
        std::lock_guard lock(watchdogLock_);
        watchdogDone_ = true;
    }
    watchdogWake_.notify_all();
    watchdog_.join();
}

void CStressRun::Phase(const char* name) {
    phase_ = name;
    ++progress_;
    std::printf("[%7.1f s] %s\n",
                std::chrono::duration<double>(SteadyClock::now() - start_).count(), name);
    std::fflush(stdout);
}

void CStressRun::Violation(const char* kind, const std::string& text) {
    std::lock_guard lock(violationLock_);
    ++violationCount_;
    auto found = std::find_if(
        violationKinds_.begin(), violationKinds_.end(),
        [kind](const ViolationKind& known) { return std::strcmp(known.name, kind) == 0; });
    if (found == violationKinds_.end()) found = violationKinds_.insert(found, {kind, 0});
    // The first few of each kind are shown; all are counted.
    if (++found->count <= kShownViolations) {
        std::fprintf(stderr, "VIOLATION (%s): %s\n", kind, text.c_str());
    } else if (found->count == kShownViolations + 1) {
        std::fprintf(stderr, "VIOLATION (%s): ... more of this kind are counted only\n", kind);
    }
}

void CStressRun::Watchdog() {
    std::unique_lock lock(watchdogLock_);
    std::uint64_t seen = progress_;
    auto lastProgress = SteadyClock::now();
    while (!watchdogWake_.wait_for(lock, 500ms, [this] { return watchdogDone_; })) {
        const std::uint64_t now = progress_;
        if (now != seen) {
            seen = now;
            lastProgress = SteadyClock::now();
            continue;
        }
        if (SteadyClock::now() - lastProgress < std::chrono::seconds(options_.watchdogSeconds)) {
            continue;
        }
        std::fprintf(stderr,
                     "WATCHDOG: no progress for %d s in phase \"%s\": the module or the bus "
                     "hangs. Stacks of every thread follow.\n",
                     options_.watchdogSeconds, phase_.load());
        std::fflush(stdout);
        std::fflush(stderr);
        const std::string command =
            "gdb -p " + std::to_string(getpid()) + " -batch -ex \"thread apply all bt\" 1>&2";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "WATCHDOG: gdb could not show the stacks\n");
        }
        std::fprintf(stderr, "WATCHDOG: aborting\n");
        std::abort();
    }
}

void CStressRun::StartModule() {
    Zent::Host::CSchedulerHost::Options hostOptions;
    hostOptions.logSink = [this](const Zent::Host::LogRecord& record) {
        const auto level = static_cast<std::size_t>(record.level);
        ++logLines_[level >= 1 && level <= 4 ? level : 0];
    };
    host_ = std::make_unique<Zent::Host::CSchedulerHost>(std::move(hostOptions));
    host_->GetBus().AddObserver(
        [this](const std::shared_ptr<Kernel::IMessage>& message,
               const Kernel::UserContextPtr& context) { Observe(message, context); });
    threadsBeforeLoad_ = CountThreads();
    host_->Load(SCHEDULER_LIBRARY);
    // The time scheduler takes its clock when it is made, in Initialize.
    ReachModuleClock();
    host_->Initialize();
    host_->Start();
}

void CStressRun::ReachModuleClock() {
    moduleLibrary_ = std::make_unique<Poco::SharedLibrary>(SCHEDULER_LIBRARY);
    if (!moduleLibrary_->hasSymbol(kSetClockSymbol)) {
        std::printf("note: %s offers no Zent::Scheduler::SetCurrentClock; the clock stays put\n",
                    SCHEDULER_LIBRARY);
        moduleLibrary_.reset();
        return;
    }
    setModuleClock_ =
        reinterpret_cast<SetClockFunction>(moduleLibrary_->getSymbol(kSetClockSymbol));
    setModuleClock_(clock_);
    clockReachable_ = true;
}

std::uint32_t CStressRun::Reserve(Client& client, std::int32_t type, Role role,
                                  std::uint32_t slot) {
    const std::uint32_t id = nextId_.fetch_add(1);
    if (id > records_.Capacity()) return 0;
    RequestRecord& record = records_[id];
    record.type = type;
    record.slot = slot;
    record.client = client.index;
    record.role = role;
    record.sentMs = MillisecondsSinceStart();
    return id;
}

void CStressRun::Dispatch(Client& client, const std::shared_ptr<Kernel::IMessage>& request) {
    const std::size_t kind = KindIndex(request->GetType());
    ++sent_[kind];
    if (kKinds[kind].responseType != 0) {
        ++client.outstanding;
        ++expectedReplies_;
    }
    if (!host_->Send(request, client.context)) {
        Violation("bus", Text("the bus refused a ", kKinds[kind].name, " request"));
    }
}

std::shared_ptr<Kernel::IMessage> CStressRun::SomeUserData(Client& client, std::uint32_t id) {
    const int choice = Uniform(client.rng, 0, 9);
    if (choice < 5) return std::make_shared<CSlotTick>(Pick(client.rng, client.slots), id);
    if (choice < 7) {
        return std::make_shared<CSlotTick>(Uniform<std::uint32_t>(client.rng, 0, slotCount_ - 1),
                                           id);
    }
    if (choice < 8) return std::make_shared<CSlotTick>(kUnknownSlot, id);
    if (choice < 9) return std::make_shared<CNapTick>(Uniform<std::uint32_t>(client.rng, 1, id));
    return nullptr;
}

bool CStressRun::Register(Client& client, std::uint32_t slot, const TimeEvent& event, Role role,
                          std::uint8_t limit) {
    const std::uint32_t id = Reserve(client, MessageType::RegisterTimeEvent, role, slot);
    if (id == 0) return false;
    records_[id].limit = limit;
    auto request = std::make_shared<Messages::CRegisterTimeEvent>(id);
    request->SetTimeEvent(event);
    request->SetUserData(std::make_shared<CSlotTick>(slot, id));
    Dispatch(client, request);
    return true;
}

bool CStressRun::RegisterBroken(Client& client) {
    const ptime now = Now();
    if (Chance(client.rng, 0.1)) {  // a valid event without user data
        const std::uint32_t id = Reserve(client, MessageType::RegisterTimeEvent, Role::Plain);
        if (id == 0) return false;
        auto request = std::make_shared<Messages::CRegisterTimeEvent>(id);
        request->SetTimeEvent(ValidEvent(client.rng, now, true));
        Dispatch(client, request);
        return true;
    }
    // Refused or not, it names one of the client's slots: a refusal must leave the slot's
    // registration as it was, and must never tick.
    return Register(client, Pick(client.rng, client.slots), BrokenEvent(client.rng, now),
                    Role::Registration);
}

bool CStressRun::Unregister(Client& client, std::uint32_t slot, bool probe) {
    const std::uint32_t id = Reserve(client, MessageType::UnregisterTimeEvent, Role::Plain, slot);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CUnregisterTimeEvent>(id);
    request->SetUserData(std::make_shared<CSlotTick>(slot, id));
    Dispatch(client, request);
    if (!probe) return true;
    // The unregistration is never answered: the answer to the query after it shows that it
    // was processed.
    const std::uint32_t probeId =
        Reserve(client, MessageType::GetRemainingTimeByUserDataRequest, Role::Probe, slot);
    if (probeId == 0) return false;
    auto query = std::make_shared<Messages::CGetRemainingTimeByUserDataRequest>(probeId);
    query->SetUserData(std::make_shared<CSlotTick>(slot, probeId));
    Dispatch(client, query);
    return true;
}

bool CStressRun::UnregisterNap(Client& client, std::uint32_t nap) {
    const std::uint32_t id = Reserve(client, MessageType::UnregisterTimeEvent, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CUnregisterTimeEvent>(id);
    request->SetUserData(std::make_shared<CNapTick>(nap));
    Dispatch(client, request);
    return true;
}

bool CStressRun::RemainingByUserData(Client& client) {
    const std::uint32_t id =
        Reserve(client, MessageType::GetRemainingTimeByUserDataRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetRemainingTimeByUserDataRequest>(id);
    request->SetUserData(SomeUserData(client, id));
    Dispatch(client, request);
    return true;
}

bool CStressRun::RemainingBySpec(Client& client) {
    const std::uint32_t id =
        Reserve(client, MessageType::GetRemainingTimeBySpecRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetRemainingTimeBySpecRequest>(id);
    const int choice = Uniform(client.rng, 0, 9);
    request->SetTimeEvent(choice < 4   ? EverySecondEvent()
                          : choice < 7 ? ValidEvent(client.rng, Now(), Chance(client.rng, 0.5))
                                       : BrokenEvent(client.rng, Now()));
    Dispatch(client, request);
    return true;
}

bool CStressRun::NextOccurrences(Client& client) {
    const std::uint32_t id =
        Reserve(client, MessageType::GetNextOccurrencesByUserDataRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetNextOccurrencesByUserDataRequest>(id);
    request->SetUserData(SomeUserData(client, id));
    const int count = Uniform(client.rng, 0, 19);
    request->SetCount(count < 6    ? Uniform<std::uint64_t>(client.rng, 1, 20)
                      : count < 9  ? 0
                      : count < 12 ? 10000
                      : count < 15 ? std::numeric_limits<std::uint64_t>::max()
                                   : Uniform<std::uint64_t>(client.rng, 21, 500));
    const ptime now = Now();
    const int from = Uniform(client.rng, 0, 19);
    if (from < 8) {
        // all fields zero: from now
    } else if (from < 14) {
        request->SetFromTime(Utc(Around(client.rng, now)));
    } else if (from < 17) {
        request->SetFromTime(BrokenUtc(client.rng, now));
    } else {
        request->SetFromTime(Utc(boost::posix_time::time_from_string("2098-12-31 23:59:00")));
    }
    Dispatch(client, request);
    return true;
}

bool CStressRun::NextRange(Client& client) {
    const std::uint32_t id = Reserve(client, MessageType::GetNextTimeRangeRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetNextTimeRangeRequest>(id);
    std::vector<TimeRangeItem> ranges(Uniform<std::size_t>(client.rng, 0, 4));
    for (TimeRangeItem& item : ranges) {
        item.set_timespecification(Chance(client.rng, 0.8) ? Pick(client.rng, kOtherValid)
                                                           : GarbageText(client.rng));
        item.set_durationseconds(Chance(client.rng, 0.1)
                                     ? std::numeric_limits<std::uint32_t>::max()
                                     : Uniform<std::uint32_t>(client.rng, 0, 86400));
        item.set_utclocal(Chance(client.rng, 0.7));
    }
    request->SetRanges(std::move(ranges));
    const ptime now = Now();
    const int from = Uniform(client.rng, 0, 9);
    if (from < 6) {
        request->SetFromTime(Utc(Around(client.rng, now)));
    } else if (from < 8) {
        request->SetFromTime(BrokenUtc(client.rng, now));
    } else if (from < 9) {
        request->SetFromTime(Utc(boost::posix_time::time_from_string("2098-12-31 23:59:59")));
    }  // else all fields zero
    Dispatch(client, request);
    return true;
}

bool CStressRun::Validate(Client& client) {
    const std::uint32_t id = Reserve(client, MessageType::ValidateTimeEvent, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CValidateTimeEvent>(id);
    request->SetTimeEvent(Chance(client.rng, 0.6)
                              ? ValidEvent(client.rng, Now(), Chance(client.rng, 0.3))
                              : BrokenEvent(client.rng, Now()));
    request->SetTimeZoneSlack(Chance(client.rng, 0.5));
    Dispatch(client, request);
    return true;
}

bool CStressRun::LastTick(Client& client) {
    const std::uint32_t id = Reserve(client, MessageType::GetLastTickRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetLastTickRequest>(id);
    TimeEvent event = Chance(client.rng, 0.75)
                          ? ValidEvent(client.rng, Now(), Chance(client.rng, 0.5))
                          : BrokenEvent(client.rng, Now());
    const int limit = Uniform(client.rng, 0, 99);
    if (limit < 40) {
        event.mutable_range()->set_rangedefinitionoccurences(
            Uniform<std::uint32_t>(client.rng, 1, 1000));
    } else if (limit < 46) {
        event.mutable_range()->set_rangedefinitionoccurences(0);
    } else if (limit < 52) {
        event.mutable_range()->set_rangedefinitionoccurences(
            std::numeric_limits<std::uint32_t>::max());
    } else if (limit < 54) {
        // Now and then as many as the scheduler counts at most: most of a second of work.
        event.mutable_range()->set_rangedefinitionoccurences(
            Chance(client.rng, 0.005) ? Zent::Scheduler::CTimeScheduler::kMaxCountedOccurrences
                                      : Uniform<std::uint32_t>(client.rng, 10'000, 100'000));
    }  // else no limit
    request->SetTimeEvent(std::move(event));
    Dispatch(client, request);
    return true;
}

bool CStressRun::ZoneDetails(Client& client) {
    const std::uint32_t id = Reserve(client, MessageType::GetTimeZoneDetailsRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetTimeZoneDetailsRequest>(id);
    request->SetTimeZoneId(Pick(client.rng, kZones));
    request->SetLocaleName(Pick(client.rng, kLocales));
    const int at = Uniform(client.rng, 0, 19);
    if (at < 14) {
        request->SetAtTime(Utc(Around(client.rng, Now())));
    } else if (at < 17) {
        request->SetAtTime(BrokenUtc(client.rng, Now()));
    }  // else all fields zero
    request->SetTranslatorFlag(Chance(client.rng, 0.5));
    Dispatch(client, request);
    return true;
}

void CStressRun::TouchEveryZone() {
    Client& main = *clients_.back();
    for (const char* locale : kLocales) {
        for (const char* zone : kZones) {
            for (const bool flag : {false, true}) {
                const std::uint32_t id =
                    Reserve(main, MessageType::GetTimeZoneDetailsRequest, Role::Plain);
                auto request = std::make_shared<Messages::CGetTimeZoneDetailsRequest>(id);
                request->SetTimeZoneId(zone);
                request->SetLocaleName(locale);
                request->SetAtTime(Utc(Now()));
                request->SetTranslatorFlag(flag);
                Dispatch(main, request);
            }
        }
        const std::uint32_t id =
            Reserve(main, MessageType::GetAllTimeZoneDetailsRequest, Role::Plain);
        auto request = std::make_shared<Messages::CGetAllTimeZoneDetailsRequest>(id);
        request->SetLocaleName(locale);
        Dispatch(main, request);
    }
}

bool CStressRun::AllZoneDetails(Client& client) {
    const std::uint32_t id =
        Reserve(client, MessageType::GetAllTimeZoneDetailsRequest, Role::Plain);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CGetAllTimeZoneDetailsRequest>(id);
    request->SetLocaleName(Pick(client.rng, kLocales));
    Dispatch(client, request);
    return true;
}

bool CStressRun::Sleep(Client& client) {
    const int kind = Uniform(client.rng, 0, 19);
    const Role role = kind < 11 ? Role::ShortNap : kind < 17 ? Role::LongNap : Role::Plain;
    const std::uint32_t id = Reserve(client, MessageType::RegisterSleepEvent, role);
    if (id == 0) return false;
    auto request = std::make_shared<Messages::CRegisterSleepEvent>(id);
    switch (role) {
        case Role::ShortNap:
            records_[id].limit = static_cast<std::uint8_t>(Uniform(client.rng, 0, 3));
            request->SetSleepSeconds(records_[id].limit);
            request->SetUserData(std::make_shared<CNapTick>(id));
            ++shortNapsSent_;
            break;
        case Role::LongNap: {
            request->SetSleepSeconds(Uniform<std::uint32_t>(
                client.rng, kLongSleepSeconds, std::numeric_limits<std::uint32_t>::max()));
            request->SetUserData(std::make_shared<CNapTick>(id));
            std::uint32_t& place = client.longNaps[client.longNapsSent++ % client.longNaps.size()];
            if (place != 0 && !UnregisterNap(client, place)) return false;
            place = id;
            break;
        }
        default:  // without user data
            request->SetSleepSeconds(Uniform<std::uint32_t>(client.rng, 0, 3));
            break;
    }
    Dispatch(client, request);
    return true;
}

bool CStressRun::RandomRequest(Client& client) {
    switch (client.operations(client.rng)) {
        case kRegister:
            return Register(client, Pick(client.rng, client.slots),
                            ValidEvent(client.rng, Now(), Chance(client.rng, 0.85)),
                            Role::Registration);
        case kRegisterBroken:
            return RegisterBroken(client);
        case kUnregister:
            return Chance(client.rng, 0.8)
                       ? Unregister(client, Pick(client.rng, client.slots), true)
                       : Unregister(client, kUnknownSlot, false);
        case kRemainingByUserData:
            return RemainingByUserData(client);
        case kRemainingBySpec:
            return RemainingBySpec(client);
        case kNextOccurrences:
            return NextOccurrences(client);
        case kNextRange:
            return NextRange(client);
        case kValidate:
            return Validate(client);
        case kLastTick:
            return LastTick(client);
        case kZoneDetails:
            return ZoneDetails(client);
        case kAllZoneDetails:
            return AllZoneDetails(client);
        default:
            return Sleep(client);
    }
}

void CStressRun::ClientMain(Client& client, SteadyClock::time_point end, bool withLimited) {
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
        if (withLimited && client.limitedSent < client.limitedSlots.size() &&
            SteadyClock::now() - begin >= client.limitedDue[client.limitedSent]) {
            TimeEvent event;
            event.set_timespecification(Chance(client.rng, 0.7) ? "* * * * * ?" : "*/2 * * * * ?");
            event.set_utclocal(true);
            const auto limit = static_cast<std::uint8_t>(Uniform(client.rng, 2, 3));
            event.mutable_range()->set_rangedefinitionoccurences(limit);
            if (!Register(client, client.limitedSlots[client.limitedSent], event, Role::Limited,
                          limit)) {
                return;
            }
            ++client.limitedSent;
            ++limitedSent_;
            continue;
        }
        if (!RandomRequest(client)) return;
    }
}

void CStressRun::ClockMain(SteadyClock::time_point end) {
    Rng& rng = clients_.back()->rng;
    const time_duration initialOffset = clock_->UtcOffset(Now());
    constexpr std::array kJumps = {2, 10, 300, 3600, 86400};  // seconds
    constexpr std::array kOffsets = {0, 3600, -18000, 19800, 50400, -43200};
    const bool spaced = options_.jumpGapSeconds > 0;
    const auto sleepUntil = [this](SteadyClock::time_point wake) {
        while (!stopClients_ && SteadyClock::now() < wake)
            std::this_thread::sleep_for(50ms);
    };
    time_duration shift;
    for (;;) {
        const std::chrono::milliseconds pause =
            spaced ? std::chrono::seconds(options_.jumpGapSeconds)
                   : std::chrono::milliseconds(Uniform(rng, 700, 2500));
        // Spaced changes leave a whole gap before the clock is put back.
        if (SteadyClock::now() + (spaced ? 2 * pause : pause) > end) break;
        sleepUntil(SteadyClock::now() + pause);
        if (stopClients_) break;
        ClockChange& change = clockChanges_[clockChangeCount_ % clockChanges_.size()];
        change.atMs = MillisecondsSinceStart();
        if (Chance(rng, 0.75)) {
            time_duration delta = boost::posix_time::seconds(Pick(rng, kJumps));
            if (Chance(rng, 0.5)) delta = -delta;
            if ((shift + delta) > kMaxClockShift || (shift + delta) < -kMaxClockShift) {
                delta = -delta;
            }
            clock_->Jump(delta);
            shift += delta;
            change.jumpSeconds = delta.total_seconds();
            change.zone = false;
            ++clockJumps_;
        } else {
            const int offset = Pick(rng, kOffsets);
            clock_->SetUtcOffset(boost::posix_time::seconds(offset));
            change.jumpSeconds = offset;
            change.zone = true;
            ++zoneChanges_;
        }
        ++clockChangeCount_;
    }
    if (spaced) std::this_thread::sleep_for(std::chrono::seconds(options_.jumpGapSeconds));
    clock_->Jump(-shift);
    clock_->SetUtcOffset(initialOffset);
    if (clockChangeCount_ > 0) {
        clockChanges_[clockChangeCount_++ % clockChanges_.size()] = {MillisecondsSinceStart(),
                                                                     -shift.total_seconds(), false};
    }
}

void CStressRun::RunClients(std::chrono::seconds length, bool withLimited, bool withClock) {
    stopClients_ = false;
    const SteadyClock::time_point end = SteadyClock::now() + length;
    std::vector<std::thread> threads;
    for (int i = 0; i < options_.clients; ++i) {
        threads.emplace_back(
            [this, i, end, withLimited] { ClientMain(*clients_[i], end, withLimited); });
    }
    std::thread clock;
    if (withClock) clock = std::thread([this, end] { ClockMain(end); });
    for (std::thread& thread : threads)
        thread.join();
    stopClients_ = true;
    if (clock.joinable()) clock.join();
    if (nextId_ > records_.Capacity()) {
        std::printf("note: the request budget (--max-requests %u) ran out before the time did\n",
                    options_.maxRequests);
    }
}

void CStressRun::WaitForReplies() {
    const auto deadline = SteadyClock::now() + 60s;
    while (firstReplies_ < expectedReplies_ && SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    if (firstReplies_ < expectedReplies_) {
        Violation("missing reply",
                  Text(expectedReplies_ - firstReplies_,
                       " requests were still unanswered 60 s after the clients stopped"));
    }
}

void CStressRun::WaitForTicks() {
    const auto deadline = SteadyClock::now() + 60s;
    while ((limitedDone_ < limitedSent_ || shortNapsDone_ < shortNapsSent_) &&
           SteadyClock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    // What is missing is reported per request by CheckRecords.
}

void CStressRun::CheckSteadySlots() {
    if (clockChangeCount_ > 0) {
        const ClockChange& last = clockChanges_[(clockChangeCount_ - 1) % clockChanges_.size()];
        while (MillisecondsSinceStart() < last.atMs + kClockSettlesMs)
            std::this_thread::sleep_for(50ms);
    }
    const std::uint32_t now = MillisecondsSinceStart();
    for (std::uint32_t slot = 0; slot < slotCount_; ++slot) {
        if (!IsSteady(slot)) continue;
        SteadyTicks& last = steadyTicks_[slot];
        const std::uint32_t at = Load(last.atMs);
        if (at == 0 || now - at > kMaxTickAgeMs) {
            Violation("steady event stalled", Text("the every-second registration of slot ", slot,
                                                   " has not ticked for ", now - at, " ms"));
        }
    }
}

void CStressRun::UnregisterEverything(std::uint32_t firstId) {
    Client& main = *clients_.back();
    for (std::uint32_t slot = 0; slot < slotCount_; ++slot) {
        if (!Unregister(main, slot, true)) return BudgetSpent();
    }
    // Short sleeps that never ticked are reported by CheckRecords; here they only go.
    const std::uint32_t endId = EndId();
    for (std::uint32_t id = firstId; id < endId; ++id) {
        RequestRecord& record = records_[id];
        if (record.role == Role::ShortNap && Load(record.ticks) == 0 && !UnregisterNap(main, id)) {
            return BudgetSpent();
        }
    }
    for (const auto& client : clients_) {
        for (std::uint32_t& nap : client->longNaps) {
            if (nap != 0 && !UnregisterNap(main, nap)) return BudgetSpent();
            nap = 0;
        }
    }
}

void CStressRun::BudgetSpent() {
    Violation("request budget",
              "the request budget ran out while unregistering everything; raise --max-requests");
}

void CStressRun::Drain() {
    WaitForReplies();
    if (!host_->GetBus().WaitUntilIdle(30s))
        Violation("bus", "the bus did not become idle within 30 s");
    // Ticks of anything still registered would arrive in this second and a half.
    std::this_thread::sleep_for(1500ms);
    if (!host_->GetBus().WaitUntilIdle(30s))
        Violation("bus", "the bus did not become idle within 30 s");
}

void CStressRun::CheckRecords(std::uint32_t firstId, std::uint32_t endId, bool complete) {
    for (std::uint32_t id = firstId; id < endId; ++id) {
        const RequestRecord& record = records_[id];
        if (record.type == 0) continue;
        const RequestKind& kind = kKinds[KindIndex(record.type)];
        const unsigned replies = Load(record.replies);
        const unsigned ticks = Load(record.ticks);
        if (kind.responseType == 0 && replies > 0) {
            Violation("reply to an unanswered request",
                      Text("request ", id, " (", kind.name, ", never answered) got ", replies,
                           " replies"));
        } else if (kind.responseType != 0 && replies > 1) {
            Violation("duplicate reply",
                      Text("request ", id, " (", kind.name, ") got ", replies, " replies"));
        } else if (kind.responseType != 0 && replies == 0 && complete) {
            Violation("missing reply", Text("request ", id, " (", kind.name, ") got no reply"));
        }
        switch (record.role) {
            case Role::Registration:
                if (Load(record.outcome) == Outcome::Error && ticks > 0) {
                    Violation("refused registration ticked",
                              Text("registration ", id, " of slot ", record.slot,
                                   " was refused, yet ticked ", ticks, " times"));
                }
                break;
            case Role::Limited:
                if (complete && ticks != record.limit) {
                    Violation("occurrence limit",
                              Text("registration ", id, " with an occurrence limit of ",
                                   unsigned{record.limit}, " ticked ", ticks, " times"));
                }
                break;
            case Role::ShortNap:
                if (complete && ticks != 1) {
                    Violation("short sleep", Text("short sleep ", id, " ticked ", ticks, " times"));
                }
                break;
            default:
                break;
        }
    }
}

void CStressRun::Observe(const std::shared_ptr<Kernel::IMessage>& message,
                         const Kernel::UserContextPtr& context) {
    ++observed_;
    ++progress_;
    const Kernel::IMessage* raw = message.get();
    if (const auto* reply = dynamic_cast<const Zent::Common::Module::CResponse*>(raw)) {
        OnReply(*reply);
    } else if (const auto* tick = dynamic_cast<const CSlotTick*>(raw)) {
        OnSlotTick(*tick, context);
    } else if (const auto* nap = dynamic_cast<const CNapTick*>(raw)) {
        OnNapTick(*nap);
    }
    // Anything else is one of the requests.
}

void CStressRun::OnReply(const Zent::Common::Module::CResponse& reply) {
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
    const std::uint32_t now = MillisecondsSinceStart();
    maxLatencyMs_[index] = std::max(maxLatencyMs_[index], now - record.sentMs);
    const auto* error = dynamic_cast<const Zent::Common::Module::CResponseException*>(&reply);
    if (error != nullptr) {
        Store(record.outcome, Outcome::Error);
        ++errors_[index];
    } else if (reply.GetType() == kind.responseType) {
        Store(record.outcome, Outcome::Response);
        ++responses_[index];
    } else {
        Violation("wrong reply type",
                  Text("request ", id, " (", kind.name, ") was answered with type ",
                       reply.GetType(), " instead of ", kind.responseType));
        return;
    }
    switch (record.role) {
        case Role::Registration:
            if (error == nullptr && id - 1 > retiredBelow_[record.slot]) {
                retiredBelow_[record.slot] = id - 1;
                retiredBy_[record.slot] = id;
            }
            break;
        case Role::Limited:
            if (error != nullptr) {
                Violation("occurrence limit", Text("the occurrence-limited registration ", id,
                                                   " was refused: ", ErrorText(*error)));
            }
            break;
        case Role::Probe:
            // Nothing of this slot was sent between the unregistration and this query.
            if (id - 1 > retiredBelow_[record.slot]) {
                retiredBelow_[record.slot] = id - 1;
                retiredBy_[record.slot] = id - 1;
            }
            break;
        default:
            break;
    }
}

void CStressRun::OnSlotTick(const CSlotTick& tick, const Kernel::UserContextPtr& context) {
    const std::uint32_t slot = tick.Slot();
    const std::uint32_t id = tick.Registration();
    if (slot >= slotCount_ || records_[id].type != MessageType::RegisterTimeEvent) {
        Violation("foreign tick", Text("a tick carries the user data of request ", id, " (slot ",
                                       slot, "), which registered nothing"));
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
            const std::uint32_t gap = now - Load(last.atMs);
            maxSteadyGapMs_ = std::max(maxSteadyGapMs_, gap);
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

void CStressRun::OnNapTick(const CNapTick& nap) {
    const std::uint32_t id = nap.Request();
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

void CStressRun::ForcedStop() {
    Client& main = *clients_.back();
    for (int i = 0; i < options_.events; ++i) {
        if (!Register(main, static_cast<std::uint32_t>(i), EverySecondEvent(),
                      Role::Registration)) {
            break;
        }
    }
    int burst = 0;
    while (burst < 200 && RandomRequest(main))
        ++burst;
    std::this_thread::sleep_for(1500ms);  // ticking, with requests still queued
    // The module's clock goes back to the system's, while its time scheduler keeps ours.
    if (setModuleClock_ != nullptr) setModuleClock_(nullptr);
    setModuleClock_ = nullptr;
    moduleLibrary_.reset();

    Phase("forced stop");
    threadsRunning_ = CountThreads();
    const auto begin = SteadyClock::now();
    host_->Stop(true);
    host_->Unload();
    while ((threadsAfterUnload_ = CountThreads()) != threadsBeforeLoad_ &&
           SteadyClock::now() - begin < 1s) {
        std::this_thread::sleep_for(5ms);
    }
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
    const std::uint64_t sentLater = host_->GetBus().GetSentCount();
    if (sentLater != sentAtUnload) {
        Violation("sent after unload",
                  Text(sentLater - sentAtUnload, " messages were sent after Unload"));
    }
    CheckRecords(accountedEnd_, EndId(), false);
    PrintSummary(stopTime);
}

void CStressRun::PrintSummary(std::chrono::milliseconds stopTime) const {
    std::printf("\n%-30s %10s %10s %10s %12s\n", "request", "sent", "responses", "errors",
                "max latency");
    std::uint64_t totalSent = 0;
    for (std::size_t i = 0; i < kKinds.size(); ++i) {
        totalSent += sent_[i];
        if (kKinds[i].responseType == 0) {
            std::printf("%3d %-26s %10llu %10s %10s %12s\n", kKinds[i].type, kKinds[i].name,
                        static_cast<unsigned long long>(sent_[i].load()), "-", "-", "-");
        } else {
            std::printf("%3d %-26s %10llu %10llu %10llu %9u ms\n", kKinds[i].type, kKinds[i].name,
                        static_cast<unsigned long long>(sent_[i].load()),
                        static_cast<unsigned long long>(responses_[i].load()),
                        static_cast<unsigned long long>(errors_[i].load()), maxLatencyMs_[i]);
        }
    }
    std::printf("%-30s %10llu %10llu\n", "total (replies)",
                static_cast<unsigned long long>(totalSent),
                static_cast<unsigned long long>(firstReplies_.load()));
    std::printf("messages observed on the bus: %llu\n",
                static_cast<unsigned long long>(observed_.load()));
    std::printf(
        "ticks: %llu of slot registrations; %llu of %llu occurrence-limited "
        "registrations; %llu of sleeps (%llu short sleeps sent before the final burst)\n",
        static_cast<unsigned long long>(slotTicks_.load()),
        static_cast<unsigned long long>(limitedTicks_.load()),
        static_cast<unsigned long long>(limitedSent_.load()),
        static_cast<unsigned long long>(napTicks_.load()),
        static_cast<unsigned long long>(shortNapsAccounted_));
    std::printf(
        "short sleeps ticked at most %u ms late; steady every-second events went at "
        "most %u ms without a tick\n",
        maxNapLatenessMs_, maxSteadyGapMs_);
    std::printf("clock: %llu jumps, %llu zone changes%s\n",
                static_cast<unsigned long long>(clockJumps_.load()),
                static_cast<unsigned long long>(zoneChanges_.load()),
                clockReachable_ ? "" : " (the module's clock was out of reach)");
    if (clockChangeCount_ > 0) {
        std::printf("clock changes (s since start: jump in s, or zone offset in s):");
        const std::size_t shown = std::min(clockChangeCount_, clockChanges_.size());
        for (std::size_t i = clockChangeCount_ - shown; i < clockChangeCount_; ++i) {
            const ClockChange& change = clockChanges_[i % clockChanges_.size()];
            std::printf(" %.1f:%s%+lld", change.atMs / 1000.0, change.zone ? "zone" : "",
                        static_cast<long long>(change.jumpSeconds));
        }
        std::printf("\n");
    }
    std::printf("log lines: %llu detail, %llu info, %llu warning, %llu error\n",
                static_cast<unsigned long long>(logLines_[1].load()),
                static_cast<unsigned long long>(logLines_[2].load()),
                static_cast<unsigned long long>(logLines_[3].load()),
                static_cast<unsigned long long>(logLines_[4].load()));
    const double growth =
        heapBaseline_ == 0
            ? 0.0
            : 100.0 * (static_cast<double>(heapAfter_) - static_cast<double>(heapBaseline_)) /
                  static_cast<double>(heapBaseline_);
    std::printf(
        "heap in use: baseline %zu bytes, after unregistering everything %zu bytes "
        "(%+.2f%%, at most +5%%)\n",
        heapBaseline_, heapAfter_, growth);
    std::printf(
        "forced stop: Stop(true) + Unload until the threads were gone: %lld ms; "
        "threads: %zu before Load, %zu running, %zu after Unload\n",
        static_cast<long long>(stopTime.count()), threadsBeforeLoad_, threadsRunning_,
        threadsAfterUnload_);
    std::lock_guard lock(violationLock_);
    for (const ViolationKind& kind : violationKinds_) {
        std::printf("violations of kind \"%s\": %llu\n", kind.name,
                    static_cast<unsigned long long>(kind.count));
    }
    std::printf("violations: %llu\nRESULT: %s\n", static_cast<unsigned long long>(violationCount_),
                violationCount_ == 0 ? "PASS" : "FAIL");
    std::fflush(stdout);
}

int CStressRun::Execute() {
    std::printf(
        "scheduler_stress: seed %llu, %d clients, %d every-second events, %d s, "
        "watchdog %d s\n",
        static_cast<unsigned long long>(options_.seed), options_.clients, options_.events,
        options_.seconds, options_.watchdogSeconds);
    Phase("loading the module");
    StartModule();

    Phase("warm-up");
    TouchEveryZone();
    RunClients(std::chrono::seconds(std::clamp(options_.seconds / 5, 2, 10)), false, false);
    WaitForReplies();
    WaitForTicks();
    CheckSteadySlots();
    Phase("warm-up: unregistering everything");
    UnregisterEverything(1);
    Drain();
    heapBaseline_ = HeapInUse();

    const std::uint32_t mainFirst = nextId_;
    Phase("main phase");
    RunClients(std::chrono::seconds(options_.seconds), true, clockReachable_);
    Phase("waiting for replies");
    WaitForReplies();
    Phase("waiting for limited events and sleeps");
    WaitForTicks();
    CheckSteadySlots();
    Phase("unregistering everything");
    UnregisterEverything(mainFirst);
    Drain();
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
    std::lock_guard lock(violationLock_);
    return violationCount_ == 0 ? 0 : 1;
}

}  // namespace

// malloc's per-thread caches keep freed blocks that mallinfo2 counts as in use: tens of
// kilobytes per thread, different every time. The heap comparison runs without them.
void RestartWithoutMallocThreadCaches(char** argv) {
#ifndef ZENT_STRESS_SANITIZED
    constexpr const char* kTunable = "glibc.malloc.tcache_count=0";
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, kTunable) != nullptr) return;
    const std::string value = tunables == nullptr || *tunables == '\0'
                                  ? std::string(kTunable)
                                  : std::string(tunables) + ":" + kTunable;
    setenv("GLIBC_TUNABLES", value.c_str(), 1);
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) execv(self.c_str(), argv);
    const std::string reason = error ? error.message() : std::strerror(errno);
    std::fprintf(stderr,
                 "note: cannot restart without malloc's thread caches (%s); the heap "
                 "figures will be rough\n",
                 reason.c_str());
#else
    static_cast<void>(argv);
#endif
}

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) return 2;
    RestartWithoutMallocThreadCaches(argv);
    // Where Yama restricts ptrace to ancestors, this lets the watchdog's gdb attach.
    prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
    try {
        CStressRun run(*options);
        return run.Execute();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "scheduler_stress: %s\n", e.what());
        return 1;
    }
}
