// The scheduler module end to end: the real plug-in, loaded by the substitute kernel,
// driven by requests on the bus, answering with responses, error replies and ticks.

#include <gtest/gtest.h>

#include <Poco/ClassLibrary.h>
#include <Poco/Manifest.h>
#include <Poco/SharedLibrary.h>

#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "Scheduler/timescheduler/Clock.h"
#include "Scheduler/timescheduler/TimeConversions.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
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
#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/InterModuleException.h"
#include "common/module/ResponseException.h"
#include "common/security/IUser.h"
#include "common/security/UserContext.h"
#include "host/Configuration.h"
#include "host/SchedulerHost.h"

namespace {

using namespace Zent::Common;
using namespace Zent::Common::Message::Scheduler;
using namespace std::chrono_literals;
using boost::posix_time::ptime;
using boost::posix_time::time_from_string;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;

class CNamedUser : public Security::IUser {
public:
    explicit CNamedUser(std::string name) : name_(std::move(name)) {}
    std::string GetName() const override { return name_; }
    std::string GetUuid() const override { return "uuid-" + name_; }
    bool IsSystemUser() const override { return false; }
    void GetAccessRights(std::vector<Security::AccessRight>& rights) const override {
        rights.clear();
    }
    void GetAccessRightsMatrix(std::vector<Security::AccessRight>& rights, bool,
                               std::vector<std::string>&, std::vector<std::string>&,
                               std::vector<Security::AccessRight>&) const override {
        rights.clear();
    }
    bool IsAnonymous() const override { return false; }
    std::string ToJson() const override { return "{}"; }

private:
    std::string name_;
};

// The user data of a registration: a text, sent back at every tick. Once `nameless` is
// raised, it cannot name itself.
class CTickMessage : public Kernel::IMessage {
public:
    explicit CTickMessage(std::string text, std::shared_ptr<std::atomic<bool>> nameless = nullptr)
        : text_(std::move(text)), nameless_(std::move(nameless)) {}
    std::int32_t GetType() const override { return 9100; }
    std::string GetTypeName() const override {
        if (nameless_ && *nameless_) throw std::runtime_error("no name");
        return "Tick:" + text_;
    }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override {
        auto tick = std::dynamic_pointer_cast<CTickMessage>(other);
        return tick && tick->text_ == text_;
    }

private:
    std::string text_;
    std::shared_ptr<std::atomic<bool>> nameless_;
};

// A bus in front of the kernel's that refuses to carry one kind of message.
class CFailingBus : public Kernel::IBusResource {
public:
    explicit CFailingBus(Kernel::IBusResource& bus) : bus_(bus) {}
    void Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t type) override {
        bus_.Subscribe(std::move(subscriber), type);
    }
    bool Send(std::shared_ptr<Kernel::IMessage> message, Kernel::UserContextPtr context) override {
        if (message->GetType() == 9100) throw std::runtime_error("the line is down");
        return bus_.Send(std::move(message), std::move(context));
    }

private:
    Kernel::IBusResource& bus_;
};

struct Sent {
    std::shared_ptr<Kernel::IMessage> message;
    Kernel::UserContextPtr context;
};

UTCTime Utc(const std::string& text) {
    return Zent::Scheduler::ToUtcTime(time_from_string(text));
}

TimeEvent Event(const std::string& text) {
    TimeEvent event;
    event.set_timespecification(text);
    event.set_utclocal(true);
    return event;
}

class SchedulerModuleTest : public ::testing::Test {
protected:
    void SetUp() override { Load({}); }
    void TearDown() override { host_.reset(); }

    void Load(Zent::Host::CSchedulerHost::Options options) {
        host_.reset();
        options.logSink = [this](const Zent::Host::LogRecord& record) {
            std::lock_guard lock(mutex_);
            logs_.push_back(record);
        };
        host_ = std::make_unique<Zent::Host::CSchedulerHost>(std::move(options));
        host_->GetBus().AddObserver([this](const std::shared_ptr<Kernel::IMessage>& message,
                                           const Kernel::UserContextPtr& context) {
            std::lock_guard lock(mutex_);
            sent_.push_back({message, context});
            changed_.notify_all();
        });
        host_->Load(SCHEDULER_LIBRARY);
    }
    void Run() {
        host_->Initialize();
        host_->Start();
    }

    template <typename Request>
    std::shared_ptr<Request> Make() {
        return std::make_shared<Request>(++lastRequestId_);
    }
    void Send(const std::shared_ptr<Kernel::IMessage>& message,
              Kernel::UserContextPtr context = nullptr) {
        host_->Send(message, context ? context : requester_);
    }

    // Every reply to `requestId` within `timeout`.
    std::vector<std::shared_ptr<Module::CResponse>> RepliesTo(
        std::uint32_t requestId, std::chrono::milliseconds timeout = 2s) {
        std::unique_lock lock(mutex_);
        auto collect = [&] {
            std::vector<std::shared_ptr<Module::CResponse>> found;
            for (const Sent& sent : sent_) {
                auto response = std::dynamic_pointer_cast<Module::CResponse>(sent.message);
                if (response && response->GetRequestId() == requestId) found.push_back(response);
            }
            return found;
        };
        changed_.wait_for(lock, timeout, [&] { return !collect().empty(); });
        return collect();
    }
    template <typename Response>
    std::shared_ptr<Response> ReplyTo(std::uint32_t requestId) {
        const auto replies = RepliesTo(requestId);
        EXPECT_EQ(replies.size(), 1u) << "request " << requestId;
        return replies.empty() ? nullptr : std::dynamic_pointer_cast<Response>(replies.front());
    }
    // The error reply to `requestId`, rethrown and caught as `Exception`.
    template <typename Exception>
    std::string ErrorTo(std::uint32_t requestId) {
        const auto reply = ReplyTo<Module::CResponseException>(requestId);
        if (!reply || !reply->GetHolder()) return "no error reply";
        try {
            reply->GetHolder()->Rethrow();
        } catch (const Exception& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("another class: ") + e.what();
        }
        return "nothing thrown";
    }
    std::vector<Sent> TicksOf(const std::string& name) {
        std::lock_guard lock(mutex_);
        std::vector<Sent> ticks;
        for (const Sent& sent : sent_) {
            if (sent.message->GetTypeName() == "Tick:" + name) ticks.push_back(sent);
        }
        return ticks;
    }
    bool WaitForTicks(const std::string& name, std::size_t count,
                      std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (TicksOf(name).size() < count) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    std::vector<Zent::Host::LogRecord> LogsWith(const std::string& part, std::int32_t level) {
        std::lock_guard lock(mutex_);
        std::vector<Zent::Host::LogRecord> found;
        for (const auto& record : logs_) {
            if (record.level == level && record.moduleName == "SchedulerModule" &&
                record.text.find(part) != std::string::npos) {
                found.push_back(record);
            }
        }
        return found;
    }
    // Lines written after the reply they belong to may still be on their way.
    std::size_t WaitForLogs(const std::string& part, std::int32_t level) {
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (LogsWith(part, level).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        return LogsWith(part, level).size();
    }
    std::size_t SentCount() {
        std::lock_guard lock(mutex_);
        return sent_.size();
    }

    std::uint32_t Register(const TimeEvent& event, const std::string& data,
                           Kernel::UserContextPtr context = nullptr) {
        auto request = Make<CRegisterTimeEvent>();
        request->SetTimeEvent(event);
        if (!data.empty()) request->SetUserData(std::make_shared<CTickMessage>(data));
        Send(request, std::move(context));
        return request->GetRequestId();
    }

    std::unique_ptr<Zent::Host::CSchedulerHost> host_;
    Kernel::UserContextPtr requester_ =
        std::make_shared<Security::CUserContext>(std::make_shared<CNamedUser>("alice"));
    std::uint32_t lastRequestId_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Sent> sent_;
    std::vector<Zent::Host::LogRecord> logs_;
};

TEST(SchedulerLibrary, OffersTheModuleOnlyForTheModuleInterface) {
    Poco::SharedLibrary library(SCHEDULER_LIBRARY);
    using BuildManifest = bool (*)(Poco::ManifestBase*);
    auto build = reinterpret_cast<BuildManifest>(library.getSymbol("pocoBuildManifest"));
    struct IOther {
        virtual ~IOther() = default;
    };
    Poco::Manifest<IOther> other;
    EXPECT_FALSE(build(&other));
    EXPECT_EQ(other.size(), 0);
    Poco::Manifest<Kernel::IModule> modules;
    EXPECT_TRUE(build(&modules));
    ASSERT_EQ(modules.size(), 1);
    EXPECT_STREQ(modules.begin()->name(), "Zent::Scheduler::CSchedulerModule");
    EXPECT_THROW(modules.begin()->instance(), Poco::InvalidAccessException);
}

TEST_F(SchedulerModuleTest, AKernelWithoutConfigurationFailsInitializeWithItsText) {
    host_->GetResources().Remove(Kernel::ResourceNumber::Configuration);
    EXPECT_EQ(host_->GetModule()->GetName(), "SchedulerModule");
    try {
        host_->Initialize();
        FAIL() << "initialised without configuration";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Bad cast to Zent::Common::Kernel::IConfigurationResource");
    }
}

TEST_F(SchedulerModuleTest, RequestsSentBeforeStartAreAnsweredInOrderAfterIt) {
    host_->Initialize();
    std::vector<std::uint32_t> ids;
    for (int i = 0; i < 3; ++i) {
        auto request = Make<CValidateTimeEvent>();
        request->SetTimeEvent(Event("0 0 12 * * ?"));
        Send(request);
        ids.push_back(request->GetRequestId());
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(RepliesTo(ids[0], 0ms).empty());
    host_->Start();
    for (std::uint32_t id : ids)
        EXPECT_NE(ReplyTo<Module::CResponse>(id), nullptr);
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> order;
    for (const Sent& sent : sent_) {
        auto response = std::dynamic_pointer_cast<Module::CResponse>(sent.message);
        if (response) order.push_back(response->GetRequestId());
    }
    EXPECT_EQ(order, ids);
}

TEST_F(SchedulerModuleTest, ARegisteredEventTicksWithTheRequestersContextAndIsFoundByItsRecord) {
    Run();
    auto bob = std::make_shared<Security::CUserContext>(std::make_shared<CNamedUser>("bob"));
    const std::uint32_t alices = Register(Event("* * * * * ?"), "alice-every-second");
    const std::uint32_t bobs = Register(Event("* * * * * ?"), "bob-every-second", bob);
    EXPECT_EQ(ReplyTo<Module::CResponse>(alices)->GetType(), 322);
    EXPECT_EQ(ReplyTo<Module::CResponse>(bobs)->GetType(), 322);
    ASSERT_TRUE(WaitForTicks("alice-every-second", 1, 3s));
    ASSERT_TRUE(WaitForTicks("bob-every-second", 1, 3s));
    EXPECT_EQ(TicksOf("alice-every-second")[0].context, requester_);
    EXPECT_EQ(TicksOf("bob-every-second")[0].context, bob);

    // A start time is kept one second early, yet the very record that was sent finds it.
    TimeEvent started = Event("0 0 * * * ?");
    *started.mutable_starttime() = Utc("2090-05-01 10:00:00");
    const std::uint32_t registration = Register(started, "started");
    ASSERT_NE(ReplyTo<Module::CResponse>(registration), nullptr);
    auto query = Make<CGetRemainingTimeBySpecRequest>();
    query->SetTimeEvent(started);
    Send(query);
    const auto remaining = ReplyTo<CGetRemainingTimeResponse>(query->GetRequestId());
    ASSERT_NE(remaining, nullptr);
    EXPECT_EQ(remaining->GetNextTick(), time_from_string("2090-05-01 10:00:00"));
    EXPECT_GT(remaining->GetRemainingSeconds(), 0);
}

TEST_F(SchedulerModuleTest, FailuresAreAnsweredWithTheirTypedErrors) {
    Run();
    TimeEvent dayZero = Event("0 0 * * * ?");
    UTCTime start = Utc("2030-01-01 00:00:00");
    start.set_day(0);
    *dayZero.mutable_starttime() = start;
    const std::uint32_t badDay = Register(dayZero, "day-zero");
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(badDay),
              "Day of month value is out of range 1..31");
    EXPECT_EQ(WaitForLogs("Day of month value is out of range 1..31", 4), 1u);

    const std::uint32_t fiveFields = Register(Event("0 0 12 * *"), "five");
    const auto reply = ReplyTo<Module::CResponseException>(fiveFields);
    ASSERT_NE(reply, nullptr);
    try {
        reply->GetHolder()->Rethrow();
    } catch (const Zent::Common::Scheduler::CFormatException& e) {
        EXPECT_STREQ(e.what(), "Invalid crontab string");
        EXPECT_EQ(e.GetCode(), 6u);
        EXPECT_EQ(e.GetGroup(), 5u);
    }

    TimeEvent incomplete = Event("0 0 * * * ?");
    incomplete.mutable_starttime()->set_year(2030);
    const std::uint32_t missing = Register(incomplete, "incomplete");
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(missing),
              "Invalid TimeEvent. Possible reason - required fields missing.");

    const std::uint32_t noData = Register(Event("0 0 * * * ?"), "");
    EXPECT_EQ(ErrorTo<Zent::Common::Scheduler::CNoEventException>(noData), "User data is NULL");

    auto unknown = Make<CGetRemainingTimeByUserDataRequest>();
    unknown->SetUserData(std::make_shared<CTickMessage>("nobody"));
    Send(unknown);
    EXPECT_EQ(ErrorTo<Zent::Common::Scheduler::CNoEventException>(unknown->GetRequestId()),
              "User data not found.");

    auto month13 = Make<CGetNextOccurrencesByUserDataRequest>();
    UTCTime from = Utc("2030-01-01 00:00:00");
    from.set_month(13);
    month13->SetFromTime(from);
    month13->SetCount(3);
    month13->SetUserData(std::make_shared<CTickMessage>("x"));
    Send(month13);
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(month13->GetRequestId()),
              "Month number is out of range 1..12");
    EXPECT_EQ(WaitForLogs("Failed GettingNextOccurrences for user data=Tick:x reason: Month number "
                          "is out of range 1..12",
                          4),
              1u);

    auto noOccurrences = Make<CGetNextOccurrencesByUserDataRequest>();
    noOccurrences->SetCount(3);
    Send(noOccurrences);
    const auto empty =
        ReplyTo<CGetNextOccurrencesByUserDataResponse>(noOccurrences->GetRequestId());
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->GetOccurrences().empty());

    auto range = Make<CGetNextTimeRangeRequest>();
    Send(range);  // an all-zero start
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(range->GetRequestId()),
              "Day of month value is out of range 1..31");
}

TEST_F(SchedulerModuleTest, RegistrationsBeyondTheConfiguredLimitAreRefusedNamingIt) {
    const auto configure = [this](const std::string& limit) {
        std::dynamic_pointer_cast<Zent::Host::CConfiguration>(
            host_->GetResources().GetResource(Kernel::ResourceNumber::Configuration))
            ->SetValue("Scheduler.MaxRegisteredEvents", limit);
    };
    configure("0");
    Run();
    EXPECT_EQ(WaitForLogs("Ignoring the invalid configuration value "
                          "Scheduler.MaxRegisteredEvents=0; the limit stays 1000000",
                          4),
              1u);

    Load({});
    configure("1");
    Run();
    ASSERT_NE(ReplyTo<CRegisterTimeEventResponse>(Register(Event("0 0 12 * * ?"), "noon")),
              nullptr);
    EXPECT_EQ(ErrorTo<Zent::Common::Scheduler::CEventLimitException>(
                  Register(Event("0 0 13 * * ?"), "one")),
              "Too many registered events: the limit is 1");
    auto sleep = Make<CRegisterSleepEvent>();
    sleep->SetSleepSeconds(1);
    sleep->SetUserData(std::make_shared<CTickMessage>("nap"));
    Send(sleep);
    EXPECT_EQ(WaitForLogs("Too many registered events: the limit is 1", 4), 1u);
    // Replacing the one registration needs no room.
    EXPECT_NE(ReplyTo<CRegisterTimeEventResponse>(Register(Event("0 0 14 * * ?"), "noon")),
              nullptr);
}

TEST_F(SchedulerModuleTest, QueriesAnswerWithTheirResponses) {
    Run();
    auto range = Make<CGetNextTimeRangeRequest>();
    Zent::Common::DataDefinition::Scheduler::TimeRangeItem item;
    item.set_timespecification("0 0 8 ? * mon-fri");
    item.set_durationseconds(7200);
    item.set_utclocal(true);
    range->SetRanges({item});
    range->SetFromTime(Utc("2030-01-07 08:30:00"));
    Send(range);
    const auto found = ReplyTo<CGetNextTimeRangeResponse>(range->GetRequestId());
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->GetFound());
    EXPECT_EQ(Zent::Scheduler::ToTimePoint(found->GetRangeStart()),
              time_from_string("2030-01-07 08:00:00"));
    EXPECT_EQ(Zent::Scheduler::ToTimePoint(found->GetRangeEnd()),
              time_from_string("2030-01-07 10:00:00"));

    auto last = Make<CGetLastTickRequest>();
    TimeEvent limited = Event("0 0 * * * ?");
    *limited.mutable_starttime() = Utc("2090-01-01 00:00:00");
    limited.mutable_range()->set_rangedefinitionoccurences(5);
    limited.set_delay(60);
    last->SetTimeEvent(limited);
    Send(last);
    const auto lastTick = ReplyTo<CGetLastTickResponse>(last->GetRequestId());
    ASSERT_NE(lastTick, nullptr);
    EXPECT_FALSE(lastTick->GetNoLastTick());
    EXPECT_EQ(lastTick->GetLastTick(), time_from_string("2090-01-01 04:01:00"));

    auto zone = Make<CGetTimeZoneDetailsRequest>();
    zone->SetTimeZoneId("Europe/Berlin");
    zone->SetLocaleName("en");
    zone->SetAtTime(Utc("2030-07-01 12:00:00"));
    Send(zone);
    const auto details = ReplyTo<CGetTimeZoneDetailsResponse>(zone->GetRequestId());
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->GetDetails().current_offset_seconds(), 7200);
    EXPECT_TRUE(details->IsReadOnly());
    EXPECT_THROW(details->SetDetails({}), std::runtime_error);
}

TEST_F(SchedulerModuleTest, WithoutATranslatorTimeZoneRequestsFailAndOthersWork) {
    Zent::Host::CSchedulerHost::Options options;
    options.withTranslator = false;
    Load(options);
    Run();
    auto zone = Make<CGetTimeZoneDetailsRequest>();
    Send(zone);
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(zone->GetRequestId()),
              "MsgGetTimeZoneDetails: Translator is not available.");
    auto zones = Make<CGetAllTimeZoneDetailsRequest>();
    Send(zones);
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(zones->GetRequestId()),
              "MsgGetAllTimeZoneDetails: Translator is not available.");
    EXPECT_EQ(LogsWith("Translator is not available.", 4).size(), 2u);
    const std::uint32_t works = Register(Event("0 0 12 * * ?"), "noon");
    EXPECT_EQ(ReplyTo<Module::CResponse>(works)->GetType(), 322);
}

TEST_F(SchedulerModuleTest, AfterPrepareShutdownRequestsThatNeedTicksAreRefused) {
    Run();
    host_->PrepareShutdown();
    const std::uint32_t registration = Register(Event("0 0 12 * * ?"), "late");
    const std::string refusal =
        "Scheduler is not ticking. Shutdown in progress. [Method=MsgRegisterTimeEvent;"
        "Message=Tick:late]";
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(registration), refusal);
    EXPECT_EQ(LogsWith(refusal, 3).size(), 1u);

    auto query = Make<CGetRemainingTimeBySpecRequest>();
    Send(query);
    EXPECT_EQ(ErrorTo<Module::CInterModuleExceptionDefault>(query->GetRequestId()),
              "Scheduler is not ticking. Shutdown in progress. [Method=MsgGetRemainingTimeBySpec;"
              "Message=]");

    auto sleep = Make<CRegisterSleepEvent>();
    sleep->SetUserData(std::make_shared<CTickMessage>("nap"));
    Send(sleep);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(LogsWith("[Method=MsgRegisterSleepEvent;Message=Tick:nap]", 2).size(), 1u);
    EXPECT_TRUE(RepliesTo(sleep->GetRequestId(), 0ms).empty());
}

TEST_F(SchedulerModuleTest, UnregisteringAndSleepingAreNeverAnswered) {
    Run();
    const std::uint32_t registration = Register(Event("0 0 12 * * ?"), "noon");
    ASSERT_NE(ReplyTo<Module::CResponse>(registration), nullptr);

    auto nobody = Make<CUnregisterTimeEvent>();
    nobody->SetUserData(std::make_shared<CTickMessage>("nobody"));
    auto noon = Make<CUnregisterTimeEvent>();
    noon->SetUserData(std::make_shared<CTickMessage>("noon"));
    auto sleep = Make<CRegisterSleepEvent>();
    sleep->SetSleepSeconds(1);
    sleep->SetUserData(std::make_shared<CTickMessage>("nap"));
    auto nullSleep = Make<CRegisterSleepEvent>();
    const std::size_t before = SentCount();
    for (const auto& request :
         std::vector<std::shared_ptr<Kernel::IMessage>>{nobody, noon, sleep, nullSleep}) {
        Send(request);
    }
    ASSERT_TRUE(WaitForTicks("nap", 1, 3s));
    EXPECT_EQ(SentCount(), before + 5);  // the four requests and one tick
    EXPECT_EQ(LogsWith("Cannot register sleep event. User data is null.", 4).size(), 1u);
    EXPECT_EQ(LogsWith("DeleteTab: Timer: Canceling id: 1", 1).size(), 1u);
    EXPECT_TRUE(LogsWith("DeleteTab", 1).size() == 2u);  // only the registered one
}

TEST_F(SchedulerModuleTest, AFailedTickIsLoggedAndLaterTicksStillGo) {
    CFailingBus* failing = nullptr;
    {
        auto bus = std::make_shared<CFailingBus>(host_->GetBus());
        failing = bus.get();
        host_->GetResources().Set(Kernel::ResourceNumber::Bus, bus);
    }
    ASSERT_NE(failing, nullptr);
    Run();
    const std::uint32_t registration = Register(Event("* * * * * ?"), "doomed");
    ASSERT_NE(ReplyTo<Module::CResponse>(registration), nullptr);
    // User data that names itself at registration, and no more when its tick fails.
    auto nameless = std::make_shared<std::atomic<bool>>(false);
    auto request = Make<CRegisterTimeEvent>();
    request->SetTimeEvent(Event("* * * * * ?"));
    request->SetUserData(std::make_shared<CTickMessage>("nameless", nameless));
    Send(request);
    ASSERT_NE(ReplyTo<Module::CResponse>(request->GetRequestId()), nullptr);
    *nameless = true;
    const std::string unnamed = "Failed while trying to tick (user data without a name)";
    const auto deadline = std::chrono::steady_clock::now() + 4s;
    while ((LogsWith("Failed while trying to tick Tick:doomed", 4).size() < 2 ||
            LogsWith(unnamed, 4).size() < 2) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    const auto failures = LogsWith("Failed while trying to tick Tick:doomed", 4);
    ASSERT_GE(failures.size(), 2u);
    EXPECT_EQ(failures[0].text,
              "Failed while trying to tick Tick:doomed  because :the line is down");
    EXPECT_GE(LogsWith(unnamed, 4).size(), 2u);
}

}  // namespace
