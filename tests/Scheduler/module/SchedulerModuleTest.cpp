// The scheduler module as the kernel loads it: requests on the bus reach their
// handlers and are answered with their responses or typed error replies; ticks
// go out with the requester's context.

#include <gtest/gtest.h>

#include <Poco/ClassLibrary.h>
#include <Poco/Manifest.h>
#include <Poco/SharedLibrary.h>

#include <algorithm>
#include <atomic>
#include <boost/date_time/posix_time/posix_time.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

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
#include "common/message/scheduler/SchedulerExceptions.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEventResponse.h"
#include "common/module/InterModuleException.h"
#include "common/module/ResponseException.h"
#include "common/security/UserContext.h"
#include "host/Configuration.h"
#include "host/SchedulerHost.h"
#include "tests/support/NamedUser.h"
#include "tests/support/RethrowAs.h"
#include "tests/support/TextMessage.h"

namespace {

using namespace Zent::Common;
using namespace Zent::Common::Message::Scheduler;
using namespace Zent::Testing;
using namespace std::chrono_literals;
using boost::posix_time::time_from_string;
using Zent::Common::DataDefinition::Common::UTCTime;
using Zent::Common::DataDefinition::Scheduler::TimeEvent;
using Default = Module::CInterModuleExceptionDefault;

// User data that names itself until `nameless` is raised.
class CNamelessMessage : public CTextMessage {
public:
    CNamelessMessage(std::string text, std::shared_ptr<std::atomic<bool>> nameless)
        : CTextMessage(std::move(text)), nameless_(std::move(nameless)) {}
    std::string GetTypeName() const override {
        if (*nameless_) throw std::runtime_error("no name");
        return CTextMessage::GetTypeName();
    }

private:
    std::shared_ptr<std::atomic<bool>> nameless_;
};

// A bus in front of the kernel's that refuses to carry the ticks of test user
// data.
class CFailingBus : public Kernel::IBusResource {
public:
    explicit CFailingBus(Kernel::IBusResource& bus) : bus_(bus) {}
    void Subscribe(std::shared_ptr<Kernel::ISubscriber> subscriber, std::int32_t type) override {
        bus_.Subscribe(std::move(subscriber), type);
    }
    bool Send(std::shared_ptr<Kernel::IMessage> message, Kernel::UserContextPtr context) override {
        if (message->GetType() == CTextMessage::kType) throw std::runtime_error("the line is down");
        return bus_.Send(std::move(message), std::move(context));
    }

private:
    Kernel::IBusResource& bus_;
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
std::shared_ptr<CTextMessage> Data(const std::string& text) {
    return std::make_shared<CTextMessage>(text);
}
// Waits up to 3 s for `done`.
bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class SchedulerModuleTest : public ::testing::Test {
protected:
    void SetUp() override { Load({}); }
    void TearDown() override { host_.reset(); }

    void Load(Zent::Host::CSchedulerHost::Options options) {
        host_.reset();
        options.logSink = [this](const Zent::Host::LogRecord& record) {
            std::lock_guard lock(mutex_);
            if (record.moduleName == "SchedulerModule") logs_.push_back(record);
        };
        host_ = std::make_unique<Zent::Host::CSchedulerHost>(std::move(options));
        host_->GetBus().AddObserver([this](const std::shared_ptr<Kernel::IMessage>& message,
                                           const Kernel::UserContextPtr& context) {
            std::lock_guard lock(mutex_);
            sent_.emplace_back(message, context);
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
    template <typename Request>
    std::uint32_t Send(const std::shared_ptr<Request>& request,
                       Kernel::UserContextPtr context = nullptr) {
        host_->Send(request, context ? context : requester_);
        return request->GetRequestId();
    }
    std::uint32_t Register(const TimeEvent& event, const std::string& data,
                           Kernel::UserContextPtr context = nullptr) {
        auto request = Make<CRegisterTimeEvent>();
        request->SetTimeEvent(event);
        if (!data.empty()) request->SetUserData(Data(data));
        return Send(request, std::move(context));
    }
    // The reply to `requestId` as a `Response`, once it came within `timeout`;
    // null when none came. A second reply fails the test.
    template <typename Response = Module::CResponse>
    std::shared_ptr<Response> ReplyTo(std::uint32_t requestId,
                                      std::chrono::milliseconds timeout = 2s) {
        std::unique_lock lock(mutex_);
        std::vector<std::shared_ptr<Module::CResponse>> found;
        changed_.wait_for(lock, timeout, [&] {
            found.clear();
            for (const auto& sent : sent_) {
                auto response = std::dynamic_pointer_cast<Module::CResponse>(sent.first);
                if (response && response->GetRequestId() == requestId) found.push_back(response);
            }
            return !found.empty();
        });
        EXPECT_LE(found.size(), 1u) << "request " << requestId;
        return found.empty() ? nullptr : std::dynamic_pointer_cast<Response>(found.front());
    }
    // The error reply to `requestId` as a handler for `Exception` sees it.
    template <typename Exception>
    std::string ErrorTo(std::uint32_t requestId) {
        const auto reply = ReplyTo<Module::CResponseException>(requestId);
        return reply && reply->GetHolder() ? RethrowAs<Exception>(*reply->GetHolder())
                                           : "no error reply";
    }
    // The contexts of the ticks of the user data `text` so far.
    std::vector<Kernel::UserContextPtr> TicksOf(const std::string& text) {
        std::lock_guard lock(mutex_);
        std::vector<Kernel::UserContextPtr> ticks;
        for (const auto& [message, context] : sent_) {
            if (Data(text)->IsEqual(message)) ticks.push_back(context);
        }
        return ticks;
    }
    std::size_t SentCount() {
        std::lock_guard lock(mutex_);
        return sent_.size();
    }
    std::size_t LogsWith(const std::string& part, std::int32_t level) {
        std::lock_guard lock(mutex_);
        return std::count_if(logs_.begin(), logs_.end(), [&](const auto& record) {
            return record.level == level && record.text.find(part) != std::string::npos;
        });
    }

    std::unique_ptr<Zent::Host::CSchedulerHost> host_;
    Kernel::UserContextPtr requester_ =
        std::make_shared<Security::CUserContext>(std::make_shared<CNamedUser>("alice"));
    std::uint32_t lastRequestId_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::shared_ptr<Kernel::IMessage>, Kernel::UserContextPtr>> sent_;
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
    Poco::Manifest<Kernel::IModule> modules;
    EXPECT_TRUE(build(&modules));
    ASSERT_EQ(modules.size(), 1);
    EXPECT_STREQ(modules.begin()->name(), "Zent::Scheduler::CSchedulerModule");
}

TEST_F(SchedulerModuleTest, AKernelWithoutConfigurationFailsInitializeWithItsText) {
    host_->GetResources().Remove(Kernel::ResourceNumber::Configuration);
    try {
        host_->Initialize();
        FAIL() << "initialised without configuration";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Bad cast to Zent::Common::Kernel::IConfigurationResource");
    }
}

TEST_F(SchedulerModuleTest, ARegisteredEventTicksWithTheRequestersContextAndIsFoundByItsRecord) {
    Run();
    auto bob = std::make_shared<Security::CUserContext>(std::make_shared<CNamedUser>("bob"));
    EXPECT_NE(ReplyTo<CRegisterTimeEventResponse>(Register(Event("* * * * * ?"), "alice's")),
              nullptr);
    EXPECT_NE(ReplyTo<CRegisterTimeEventResponse>(Register(Event("* * * * * ?"), "bob's", bob)),
              nullptr);
    ASSERT_TRUE(
        Eventually([&] { return !TicksOf("alice's").empty() && !TicksOf("bob's").empty(); }));
    EXPECT_EQ(TicksOf("alice's")[0], requester_);
    EXPECT_EQ(TicksOf("bob's")[0], bob);

    // A start time is kept one second early, yet the very record that was sent
    // finds it.
    TimeEvent started = Event("0 0 * * * ?");
    *started.mutable_starttime() = Utc("2090-05-01 10:00:00");
    ASSERT_NE(ReplyTo<CRegisterTimeEventResponse>(Register(started, "started")), nullptr);
    auto query = Make<CGetRemainingTimeBySpecRequest>();
    query->SetTimeEvent(started);
    const auto remaining = ReplyTo<CGetRemainingTimeResponse>(Send(query));
    ASSERT_NE(remaining, nullptr);
    EXPECT_EQ(remaining->GetNextTick(), time_from_string("2090-05-01 10:00:00"));
    EXPECT_GT(remaining->GetRemainingSeconds(), 0);
    auto byUserData = Make<CGetRemainingTimeByUserDataRequest>();
    byUserData->SetUserData(Data("started"));
    const auto found = ReplyTo<CGetRemainingTimeResponse>(Send(byUserData));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->GetNextTick(), time_from_string("2090-05-01 10:00:00"));
}

TEST_F(SchedulerModuleTest, FailuresAreAnsweredWithTheirTypedErrors) {
    Run();
    TimeEvent dayZero = Event("0 0 * * * ?");
    *dayZero.mutable_starttime() = Utc("2030-01-01 00:00:00");
    dayZero.mutable_starttime()->set_day(0);
    TimeEvent past = Event("0 0 0 1 1 ? 2020");
    *past.mutable_starttime() = Utc("2019-06-01 00:00:00");
    TimeEvent incomplete = Event("0 0 * * * ?");
    incomplete.mutable_starttime()->set_year(2030);
    auto unknown = Make<CGetRemainingTimeByUserDataRequest>();
    unknown->SetUserData(Data("nobody"));
    auto month13 = Make<CGetNextOccurrencesByUserDataRequest>();
    UTCTime from = Utc("2030-01-01 00:00:00");
    from.set_month(13);
    month13->SetFromTime(from);
    month13->SetUserData(Data("x"));
    const struct {
        std::uint32_t requestId;
        std::string (*rethrow)(const Module::CExceptionHolder&);
        const char* text;
    } cases[] = {
        {Register(dayZero, "day-zero"), RethrowAs<Default>,
         "Day of month value is out of range 1..31"},
        {Register(Event("0 0 12 * *"), "five"), RethrowAs<Scheduler::CFormatException>,
         "Invalid crontab string"},
        {Register(past, "past"), RethrowAs<Scheduler::CTimeInPastException>,
         "Events are in the past"},
        {Register(incomplete, "incomplete"), RethrowAs<Default>,
         "Invalid TimeEvent. Possible reason - required fields missing."},
        {Register(Event("0 0 * * * ?"), ""), RethrowAs<Scheduler::CNoEventException>,
         "User data is NULL"},
        {Send(unknown), RethrowAs<Scheduler::CNoEventException>, "User data not found."},
        {Send(month13), RethrowAs<Default>, "Month number is out of range 1..12"},
        {Send(Make<CGetNextTimeRangeRequest>()),
         RethrowAs<Default>,  // an all-zero start
         "Day of month value is out of range 1..31"},
    };
    for (const auto& c : cases) {
        const auto reply = ReplyTo<Module::CResponseException>(c.requestId);
        ASSERT_TRUE(reply && reply->GetHolder()) << c.text;
        EXPECT_EQ(c.rethrow(*reply->GetHolder()), c.text);
    }
    EXPECT_TRUE(Eventually([&] {
        return LogsWith(
                   "Failed GettingNextOccurrences for user data=Text:x "
                   "reason: Month "
                   "number is out of range 1..12",
                   4) == 1;
    }));
    auto noUserData = Make<CGetNextOccurrencesByUserDataRequest>();
    noUserData->SetCount(3);
    const auto empty = ReplyTo<CGetNextOccurrencesByUserDataResponse>(Send(noUserData));
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(empty->GetOccurrences().empty());
}

TEST_F(SchedulerModuleTest, RegistrationsBeyondTheConfiguredLimitAreRefusedNamingIt) {
    const auto configure = [this](const std::string& limit) {
        std::dynamic_pointer_cast<Zent::Host::CConfiguration>(
            host_->GetResources().GetResource(Kernel::ResourceNumber::Configuration))
            ->SetValue("Scheduler.MaxRegisteredEvents", limit);
    };
    configure("0");
    Run();
    EXPECT_TRUE(Eventually([&] {
        return LogsWith(
                   "Ignoring the invalid configuration value "
                   "Scheduler.MaxRegisteredEvents=0; the limit stays 1000000",
                   4) == 1;
    }));
    Load({});
    configure("1");
    Run();
    ASSERT_NE(ReplyTo(Register(Event("0 0 12 * * ?"), "noon")), nullptr);
    EXPECT_EQ(ErrorTo<Scheduler::CEventLimitException>(Register(Event("0 0 13 * * ?"), "one")),
              "Too many registered events: the limit is 1");
    auto sleep = Make<CRegisterSleepEvent>();
    sleep->SetUserData(Data("nap"));
    Send(sleep);
    EXPECT_TRUE(
        Eventually([&] { return LogsWith("Too many registered events: the limit is 1", 4) == 1; }));
}

TEST_F(SchedulerModuleTest, QueriesAnswerWithTheirResponsesTimeZonesOnlyWithATranslator) {
    Run();
    auto validate = Make<CValidateTimeEvent>();
    validate->SetTimeEvent(Event("0 0 12 * * ?"));
    EXPECT_NE(ReplyTo<CValidateTimeEventResponse>(Send(validate)), nullptr);
    ASSERT_NE(ReplyTo(Register(Event("0 0 * * * ?"), "hourly")), nullptr);
    auto next = Make<CGetNextOccurrencesByUserDataRequest>();
    next->SetUserData(Data("hourly"));
    next->SetFromTime(Utc("2090-01-01 00:30:00"));
    next->SetCount(2);
    const auto occurrences = ReplyTo<CGetNextOccurrencesByUserDataResponse>(Send(next));
    ASSERT_NE(occurrences, nullptr);
    ASSERT_EQ(occurrences->GetOccurrences().size(), 2u);
    EXPECT_EQ(Zent::Scheduler::ToTimePoint(occurrences->GetOccurrences()[1]),
              time_from_string("2090-01-01 02:00:00"));

    auto range = Make<CGetNextTimeRangeRequest>();
    Zent::Common::DataDefinition::Scheduler::TimeRangeItem item;
    item.set_timespecification("0 0 8 ? * mon-fri");
    item.set_durationseconds(7200);
    item.set_utclocal(true);
    range->SetRanges({item});
    range->SetFromTime(Utc("2030-01-07 08:30:00"));
    const auto found = ReplyTo<CGetNextTimeRangeResponse>(Send(range));
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
    const auto lastTick = ReplyTo<CGetLastTickResponse>(Send(last));
    ASSERT_NE(lastTick, nullptr);
    EXPECT_FALSE(lastTick->GetNoLastTick());
    EXPECT_EQ(lastTick->GetLastTick(), time_from_string("2090-01-01 04:01:00"));

    auto zone = Make<CGetTimeZoneDetailsRequest>();
    zone->SetTimeZoneId("Europe/Berlin");
    zone->SetLocaleName("en");
    zone->SetAtTime(Utc("2030-07-01 12:00:00"));
    const auto details = ReplyTo<CGetTimeZoneDetailsResponse>(Send(zone));
    ASSERT_NE(details, nullptr);
    EXPECT_EQ(details->GetDetails().current_offset_seconds(), 7200);
    const auto zones =
        ReplyTo<CGetAllTimeZoneDetailsResponse>(Send(Make<CGetAllTimeZoneDetailsRequest>()));
    ASSERT_NE(zones, nullptr);
    EXPECT_FALSE(zones->GetDetailsList().empty());

    Zent::Host::CSchedulerHost::Options options;
    options.withTranslator = false;
    Load(options);
    Run();
    EXPECT_EQ(ErrorTo<Default>(Send(Make<CGetTimeZoneDetailsRequest>())),
              "MsgGetTimeZoneDetails: Translator is not available.");
    EXPECT_EQ(ErrorTo<Default>(Send(Make<CGetAllTimeZoneDetailsRequest>())),
              "MsgGetAllTimeZoneDetails: Translator is not available.");
    EXPECT_EQ(LogsWith("Translator is not available.", 4), 2u);
}

TEST_F(SchedulerModuleTest, UnregisteringAndSleepingAreNeverAnsweredAndShutdownRefusesTicks) {
    Run();
    ASSERT_NE(ReplyTo(Register(Event("0 0 12 * * ?"), "noon")), nullptr);
    auto nobody = Make<CUnregisterTimeEvent>();
    nobody->SetUserData(Data("nobody"));
    auto noon = Make<CUnregisterTimeEvent>();
    noon->SetUserData(Data("noon"));
    auto sleep = Make<CRegisterSleepEvent>();
    sleep->SetSleepSeconds(1);
    sleep->SetUserData(Data("nap"));
    const std::size_t before = SentCount();
    Send(nobody);
    Send(noon);
    Send(sleep);
    Send(Make<CRegisterSleepEvent>());
    ASSERT_TRUE(Eventually([&] { return !TicksOf("nap").empty(); }));
    EXPECT_EQ(SentCount(), before + 5);  // the four requests and one tick
    EXPECT_EQ(LogsWith("Cannot register sleep event. User data is null.", 4), 1u);
    EXPECT_EQ(LogsWith("DeleteTab: Timer: Canceling id: 1", 1), 1u);
    EXPECT_EQ(LogsWith("DeleteTab", 1), 2u);  // only the registered one

    host_->PrepareShutdown();
    const std::string refusal =
        "Scheduler is not ticking. Shutdown in progress. [Method=MsgRegisterTimeEvent;"
        "Message=Text:late]";
    EXPECT_EQ(ErrorTo<Default>(Register(Event("0 0 12 * * ?"), "late")), refusal);
    EXPECT_EQ(LogsWith(refusal, 3), 1u);
    EXPECT_EQ(ErrorTo<Default>(Send(Make<CGetRemainingTimeBySpecRequest>())),
              "Scheduler is not ticking. Shutdown in progress. [Method=MsgGetRemainingTimeBySpec;"
              "Message=]");
    EXPECT_EQ(ReplyTo(Send(sleep), 200ms), nullptr);
    EXPECT_EQ(LogsWith("[Method=MsgRegisterSleepEvent;Message=Text:nap]", 2), 1u);
}

TEST_F(SchedulerModuleTest, AFailedTickIsLoggedAndLaterTicksStillGo) {
    host_->GetResources().Set(Kernel::ResourceNumber::Bus,
                              std::make_shared<CFailingBus>(host_->GetBus()));
    Run();
    ASSERT_NE(ReplyTo(Register(Event("* * * * * ?"), "doomed")), nullptr);
    // User data that names itself at registration, and no more when its tick
    // fails.
    auto nameless = std::make_shared<std::atomic<bool>>(false);
    auto request = Make<CRegisterTimeEvent>();
    request->SetTimeEvent(Event("* * * * * ?"));
    request->SetUserData(std::make_shared<CNamelessMessage>("nameless", nameless));
    ASSERT_NE(ReplyTo(Send(request)), nullptr);
    *nameless = true;
    EXPECT_TRUE(Eventually([&] {
        return LogsWith(
                   "Failed while trying to tick Text:doomed  because :the "
                   "line is down",
                   4) >= 2 &&
               LogsWith("Failed while trying to tick (user data without a name)", 4) >= 2;
    }));
}

}  // namespace
