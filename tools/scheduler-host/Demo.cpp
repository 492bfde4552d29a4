#include "tools/scheduler-host/Demo.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/ResponseException.h"
#include "host/SchedulerHost.h"
#include "tools/scheduler-host/ErrorReply.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/JsonUserData.h"
#include "tools/scheduler-host/Lifecycle.h"
#include "tools/scheduler-host/TimeText.h"
#include "tools/scheduler-host/UserDirectory.h"

namespace Zent::Tools::SchedulerHost {

namespace {

namespace Messages = Common::Message::Scheduler;
using Common::DataDefinition::Common::TimeZoneDetails;
using Common::DataDefinition::Common::UTCTime;
using Common::DataDefinition::Scheduler::TimeEvent;
using Common::DataDefinition::Scheduler::TimeRangeItem;
using Common::Kernel::IMessage;
using Common::Kernel::UserContextPtr;
using MessagePtr = std::shared_ptr<IMessage>;
using Clock = std::chrono::steady_clock;

constexpr auto kAnswerPatience = std::chrono::seconds(5);
// From the start of the demo; the last expected tick comes after about eight seconds.
constexpr auto kTickDeadline = std::chrono::seconds(15);
constexpr std::size_t kWhoWidth = 7;
constexpr std::size_t kWhatWidth = 13;
constexpr std::size_t kEventWidth = 15;

std::string Padded(std::string_view text, std::size_t width) {
    std::string padded(text);
    padded.resize(std::max(width, text.size() + 1), ' ');
    return padded;
}

// Writes aligned rows from any thread: the UTC time of day, who acts, what happens, the
// event concerned and the details.
class CDemoPrinter {
public:
    explicit CDemoPrinter(std::ostream& output) : output_(output) {}

    void Row(std::string_view who, std::string_view what, std::string_view event,
             std::string_view detail) {
        const std::string time = FormatClock(std::chrono::system_clock::now()).substr(11);
        std::string line = time + "  " + Padded(who, kWhoWidth) + Padded(what, kWhatWidth) +
                           Padded(event, kEventWidth) + std::string(detail);
        line.erase(line.find_last_not_of(' ') + 1);
        Line(line);
    }

    void Line(std::string_view text) {
        std::lock_guard lock(lock_);
        output_ << text << '\n' << std::flush;
    }

private:
    std::mutex lock_;
    std::ostream& output_;
};

// Replies by request id, as they arrive on the bus.
class CReplies {
public:
    void Put(std::uint32_t id, MessagePtr reply) {
        std::lock_guard lock(lock_);
        replies_[id] = std::move(reply);
        arrived_.notify_all();
    }

    // Throws std::runtime_error when no reply came within kAnswerPatience.
    MessagePtr Take(std::uint32_t id, std::string_view question) {
        std::unique_lock lock(lock_);
        if (!arrived_.wait_for(lock, kAnswerPatience, [&] { return replies_.contains(id); }))
            throw std::runtime_error("no answer to " + std::string(question));
        MessagePtr reply = std::move(replies_.at(id));
        replies_.erase(id);
        return reply;
    }

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::map<std::uint32_t, MessagePtr> replies_;
};

// A time event of the demo and the ticks it has had.
struct DemoEvent {
    std::string name;
    std::shared_ptr<CJsonUserData> userData;
    int expectedTicks = 0;
    int ticks = 0;
};

TimeEvent Event(const std::string& crontab, bool utc, std::uint32_t occurrences) {
    TimeEvent event;
    event.set_timespecification(crontab);
    event.set_utclocal(utc);
    event.mutable_range()->set_rangedefinitionoccurences(occurrences);
    return event;
}

std::string Quote(const std::string& text) {
    return "\"" + text + "\"";
}

std::string TimeOrNone(const boost::posix_time::ptime& time) {
    return FormatTime(time).value_or("none");
}

std::string ErrorText(const Common::Module::CResponseException& reply) {
    const ErrorDescription error = DescribeError(reply);
    std::string text = error.className;
    if (error.code && error.group) {
        text += " (code " + std::to_string(*error.code) + ", group " +
                std::to_string(*error.group) + ")";
    }
    return text + ": " + error.text;
}

std::string Offset(std::int32_t seconds) {
    const std::int32_t minutes = std::abs(seconds) / 60;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "UTC%c%02d:%02d", seconds < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return buffer;
}

class CDemo {
public:
    CDemo(const HostSettings& settings, std::ostream& output)
        : settings_(settings),
          printer_(output),
          host_(HostOptions(settings, settings.verbose
                                          ? Host::CLogger::Sink()
                                          : Host::CLogger::Sink([](const Host::LogRecord&) {}))) {
        host_.GetBus().AddObserver([this](const auto& message, const auto& userContext) {
            OnBusMessage(message, userContext);
        });
    }

    int Run() {
        const Clock::time_point begin = Clock::now();
        printer_.Line("The scheduler plug-in in the substitute kernel, driven by alice and bob.");
        printer_.Line("Library: " + settings_.library);
        printer_.Line("Times are UTC.");
        printer_.Line("");
        printer_.Line(Padded("TIME", 14) + Padded("WHO", kWhoWidth) + Padded("WHAT", kWhatWidth) +
                      Padded("EVENT", kEventWidth) + "DETAILS");

        host_.Load(settings_.library);
        host_.Initialize();
        host_.Start();
        printer_.Row("host", "start", "", "SchedulerModule loaded, initialized and started");

        const UserContextPtr alice = users_.ContextOf("alice");
        const UserContextPtr bob = users_.ContextOf("bob");

        const TimeEvent everyTwo = Event("*/2 * * * * ?", true, 3);
        const TimeEvent localClock = Event("*/4 * * * * ?", false, 2);
        TimeEvent jittery = Event("*/3 * * * * ?", true, 2);
        jittery.set_delay(2);
        Register(alice, AddEvent("every-2s", 3), everyTwo, "UTC, 3 times");
        Register(alice, AddEvent("local-clock", 2), localClock, "local time, 2 times");
        Sleep(bob, AddEvent("nap", 1), 3);
        Register(bob, AddEvent("jittery", 2), jittery, "UTC, random delay up to 2 s, 2 times");

        RemainingByUserData(alice, EventNamed("every-2s"));
        RemainingBySpec(alice, "local-clock", localClock);
        NextOccurrences(bob, EventNamed("jittery"), 3);
        NextTimeRange(alice);
        LastTick(alice);
        TimeZone(alice, "Europe/Berlin", "de");
        TimeZone(alice, "Europe/Berlin", "en");

        Register(bob, DemoEvent{"broken", CJsonUserData::Parse(R"({"event":"broken"})")},
                 Event("0 0 12 * *", true, 1), "five fields");
        Validate(alice);

        printer_.Row("host", "wait", "", "for the ticks still to come");
        const bool allTicks = WaitForTicks(begin + kTickDeadline);

        host_.PrepareShutdown();
        printer_.Row("host", "prepare", "", "PrepareShutdown: the ticks stop");
        RemainingByUserData(alice, EventNamed("every-2s"));
        printer_.Row("host", "stop", "",
                     StopModule(host_) ? "graceful Stop accepted" : "stopped by force");
        host_.Unload();
        printer_.Row("host", "unload", "", "SchedulerModule destroyed, library unloaded");
        return allTicks ? 0 : 1;
    }

private:
    DemoEvent AddEvent(const std::string& name, int expectedTicks) {
        DemoEvent event{name, CJsonUserData::Parse(R"({"event":")" + name + R"("})"),
                        expectedTicks};
        std::lock_guard lock(lock_);
        events_.push_back(event);
        return event;
    }

    DemoEvent EventNamed(const std::string& name) {
        std::lock_guard lock(lock_);
        for (const DemoEvent& event : events_) {
            if (event.name == name) return event;
        }
        throw std::logic_error("no demo event " + name);
    }

    MessagePtr Ask(const std::shared_ptr<Common::Message::CRequest>& request,
                   const UserContextPtr& who) {
        const std::uint32_t id = ++lastId_;
        request->SetRequestId(id);
        if (!host_.Send(request, who))
            throw std::runtime_error("the bus did not take " + request->GetTypeName());
        return replies_.Take(id, request->GetTypeName());
    }

    // The text of an error reply, or nullopt for another message.
    static std::optional<std::string> Failure(const MessagePtr& reply) {
        if (const auto* error =
                dynamic_cast<const Common::Module::CResponseException*>(reply.get()))
            return ErrorText(*error);
        return std::nullopt;
    }

    template <class Response>
    static const Response& Expect(const MessagePtr& reply) {
        const auto* response = dynamic_cast<const Response*>(reply.get());
        if (response == nullptr)
            throw std::runtime_error("unexpected answer " + reply->GetTypeName());
        return *response;
    }

    void Register(const UserContextPtr& who, const DemoEvent& event, const TimeEvent& timeEvent,
                  const std::string& how) {
        auto request = std::make_shared<Messages::CRegisterTimeEvent>();
        request->SetTimeEvent(timeEvent);
        request->SetUserData(event.userData);
        const MessagePtr reply = Ask(request, who);
        printer_.Row(UserNameOf(who), "register", event.name,
                     Quote(timeEvent.timespecification()) + " " + how + " -> " +
                         Failure(reply).value_or("registered"));
    }

    void Sleep(const UserContextPtr& who, const DemoEvent& event, std::uint32_t seconds) {
        auto request = std::make_shared<Messages::CRegisterSleepEvent>();
        request->SetSleepSeconds(seconds);
        request->SetUserData(event.userData);
        if (!host_.Send(request, who))
            throw std::runtime_error("the bus did not take RegisterSleepEvent");
        printer_.Row(UserNameOf(who), "sleep", event.name,
                     "one tick in " + std::to_string(seconds) + " s (sleep events get no answer)");
    }

    void ShowRemaining(const UserContextPtr& who, const std::string& event, const std::string& how,
                       const MessagePtr& reply) {
        std::string answer;
        if (const auto failure = Failure(reply)) {
            answer = *failure;
        } else {
            const auto& remaining = Expect<Messages::CGetRemainingTimeResponse>(reply);
            answer = std::to_string(remaining.GetRemainingSeconds()) + " s, next tick at " +
                     TimeOrNone(remaining.GetNextTick());
        }
        printer_.Row(UserNameOf(who), "remaining", event, how + " -> " + answer);
    }

    void RemainingByUserData(const UserContextPtr& who, const DemoEvent& event) {
        auto request = std::make_shared<Messages::CGetRemainingTimeByUserDataRequest>();
        request->SetUserData(event.userData);
        ShowRemaining(who, event.name, "by user data", Ask(request, who));
    }

    void RemainingBySpec(const UserContextPtr& who, const std::string& event,
                         const TimeEvent& timeEvent) {
        auto request = std::make_shared<Messages::CGetRemainingTimeBySpecRequest>();
        request->SetTimeEvent(timeEvent);
        ShowRemaining(who, event, "by time event", Ask(request, who));
    }

    void NextOccurrences(const UserContextPtr& who, const DemoEvent& event, std::uint64_t count) {
        auto request = std::make_shared<Messages::CGetNextOccurrencesByUserDataRequest>();
        request->SetUserData(event.userData);
        request->SetCount(count);
        const MessagePtr reply = Ask(request, who);
        std::string answer;
        if (const auto failure = Failure(reply)) {
            answer = *failure;
        } else {
            for (const UTCTime& time :
                 Expect<Messages::CGetNextOccurrencesByUserDataResponse>(reply).GetOccurrences()) {
                answer += (answer.empty() ? "" : ", ") + FormatUtcTime(time).substr(11);
            }
            if (answer.empty()) answer = "none";
        }
        printer_.Row(UserNameOf(who), "occurrences", event.name,
                     "next " + std::to_string(count) + " from now -> " + answer);
    }

    void NextTimeRange(const UserContextPtr& who) {
        TimeRangeItem officeHours;
        officeHours.set_timespecification("0 0 9 ? * MON-FRI");
        officeHours.set_durationseconds(8 * 3600);
        officeHours.set_utclocal(true);
        auto request = std::make_shared<Messages::CGetNextTimeRangeRequest>();
        request->SetRanges({officeHours});
        request->SetFromTime(ToUtcTime(std::chrono::system_clock::now()));
        const MessagePtr reply = Ask(request, who);
        std::string answer;
        if (const auto failure = Failure(reply)) {
            answer = *failure;
        } else if (const auto& range = Expect<Messages::CGetNextTimeRangeResponse>(reply);
                   range.GetFound()) {
            answer =
                FormatUtcTime(range.GetRangeStart()) + " to " + FormatUtcTime(range.GetRangeEnd());
        } else {
            answer = "none";
        }
        printer_.Row(UserNameOf(who), "time range", "office-hours",
                     Quote(officeHours.timespecification()) + " for 8 h -> " + answer);
    }

    void LastTick(const UserContextPtr& who) {
        TimeEvent event;
        event.set_timespecification("0 0 12 L * ? 2030");
        event.set_utclocal(true);
        auto request = std::make_shared<Messages::CGetLastTickRequest>();
        request->SetTimeEvent(event);
        const MessagePtr reply = Ask(request, who);
        std::string answer;
        if (const auto failure = Failure(reply)) {
            answer = *failure;
        } else {
            const auto& last = Expect<Messages::CGetLastTickResponse>(reply);
            answer = last.GetNoLastTick() ? "none" : TimeOrNone(last.GetLastTick());
        }
        printer_.Row(UserNameOf(who), "last tick", "noon-2030",
                     Quote(event.timespecification()) + " -> " + answer);
    }

    void TimeZone(const UserContextPtr& who, const std::string& zone, const std::string& locale) {
        auto request = std::make_shared<Messages::CGetTimeZoneDetailsRequest>();
        request->SetTimeZoneId(zone);
        request->SetLocaleName(locale);
        request->SetAtTime(ToUtcTime(std::chrono::system_clock::now()));
        const MessagePtr reply = Ask(request, who);
        std::string answer;
        if (const auto failure = Failure(reply)) {
            answer = *failure;
        } else {
            const TimeZoneDetails& details =
                Expect<Messages::CGetTimeZoneDetailsResponse>(reply).GetDetails();
            answer = details.display_name() + " (" + details.abbreviation() + "), " +
                     Offset(details.current_offset_seconds()) +
                     (details.daylight_saving() ? ", daylight saving time" : ", standard time");
        }
        printer_.Row(UserNameOf(who), "time zone", zone, "in \"" + locale + "\" -> " + answer);
    }

    void Validate(const UserContextPtr& who) {
        TimeEvent event;
        event.set_timespecification("0 0 0 1 1 ? 2020");
        event.set_utclocal(true);
        *event.mutable_starttime() =
            ToUtcTime(std::chrono::sys_days{std::chrono::year{2019} / std::chrono::June / 1});
        auto request = std::make_shared<Messages::CValidateTimeEvent>();
        request->SetTimeEvent(event);
        const MessagePtr reply = Ask(request, who);
        printer_.Row(UserNameOf(who), "validate", "new-year-2020",
                     Quote(event.timespecification()) + " from " +
                         FormatUtcTime(event.starttime()).substr(0, 10) + " -> " +
                         Failure(reply).value_or("valid"));
    }

    void OnBusMessage(const MessagePtr& message, const UserContextPtr& userContext) {
        if (const auto userData = std::dynamic_pointer_cast<CJsonUserData>(message)) {
            OnTick(userData, userContext);
        } else if (const auto id = ReplyIdOf(*message)) {
            replies_.Put(*id, message);
        }
    }

    void OnTick(const std::shared_ptr<CJsonUserData>& userData, const UserContextPtr& userContext) {
        std::string name = userData->GetJson();
        std::string count;
        // The row is written before the main thread can learn of the tick, so that it
        // comes before whatever the main thread writes next.
        std::lock_guard lock(lock_);
        for (DemoEvent& event : events_) {
            if (event.userData->IsEqual(userData)) {
                name = event.name;
                count =
                    std::to_string(++event.ticks) + " of " + std::to_string(event.expectedTicks);
            }
        }
        printer_.Row(UserNameOf(userContext), "tick", name, count);
        ticked_.notify_all();
    }

    // True when every event had its ticks before `deadline`.
    bool WaitForTicks(Clock::time_point deadline) {
        std::unique_lock lock(lock_);
        const auto done = [this] {
            for (const DemoEvent& event : events_) {
                if (event.ticks < event.expectedTicks) return false;
            }
            return true;
        };
        const bool complete = ticked_.wait_until(lock, deadline, done);
        int ticks = 0;
        int expected = 0;
        for (const DemoEvent& event : events_) {
            ticks += std::min(event.ticks, event.expectedTicks);
            expected += event.expectedTicks;
        }
        lock.unlock();
        printer_.Row("host", "ticks", "",
                     complete ? "all " + std::to_string(expected) + " expected ticks arrived"
                              : "only " + std::to_string(ticks) + " of " +
                                    std::to_string(expected) + " expected ticks arrived");
        return complete;
    }

    const HostSettings settings_;
    CDemoPrinter printer_;
    CReplies replies_;
    CUserDirectory users_;
    std::uint32_t lastId_ = 0;
    std::mutex lock_;
    std::condition_variable ticked_;
    std::vector<DemoEvent> events_;
    // Last: destroyed first, so that no observer call outlives the members above.
    Host::CSchedulerHost host_;
};

}  // namespace

int RunDemo(const HostSettings& settings, std::ostream& output) {
    CDemo demo(settings, output);
    return demo.Run();
}

}  // namespace Zent::Tools::SchedulerHost
