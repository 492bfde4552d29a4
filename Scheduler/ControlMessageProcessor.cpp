#include "Scheduler/ControlMessageProcessor.h"

#include <boost/date_time/posix_time/posix_time.hpp>

#include "Scheduler/SchedulerNotTicking.h"
#include "Scheduler/SchedulerTexts.h"
#include "Scheduler/crontab/CronRangeFinder.h"
#include "Scheduler/crontab/CrontabValidationException.h"
#include "Scheduler/timescheduler/EventLimits.h"
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
#include "common/message/scheduler/SchedulerRequests.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEventResponse.h"
#include "common/module/ExceptionHolder.h"
#include "common/module/InterModuleException.h"
#include "common/module/ResponseException.h"

// The log lines in this file:
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

namespace Zent::Scheduler {

namespace Messages = Common::Message::Scheduler;
using Common::DataDefinition::Common::UTCTime;
using Common::DataDefinition::Scheduler::TimeEvent;
using Common::Security::CUserContext;
using Processor = CSchedulerModule::CControlMessageProcessor;

CSchedulerModule::CControlMessageProcessor::CControlMessageProcessor(CSchedulerModule& module)
    : module_(module),
      handlers_{
          {Messages::CGetNextTimeRangeRequest::kType, &Processor::MsgGetNextTimeRange},
          {Messages::CGetRemainingTimeBySpecRequest::kType, &Processor::MsgGetRemainingTimeBySpec},
          {Messages::CGetRemainingTimeByUserDataRequest::kType,
           &Processor::MsgGetRemainingTimeByUserData},
          {Messages::CRegisterSleepEvent::kType, &Processor::MsgRegisterSleepEvent},
          {Messages::CRegisterTimeEvent::kType, &Processor::MsgRegisterTimeEvent},
          {Messages::CUnregisterTimeEvent::kType, &Processor::MsgUnregisterTimeEvent},
          {Messages::CValidateTimeEvent::kType, &Processor::MsgValidateTimeEvent},
          {Messages::CGetLastTickRequest::kType, &Processor::MsgGetLastTick},
          {Messages::CGetAllTimeZoneDetailsRequest::kType, &Processor::MsgGetAllTimeZoneDetails},
          {Messages::CGetTimeZoneDetailsRequest::kType, &Processor::MsgGetTimeZoneDetails},
          {Messages::CGetNextOccurrencesByUserDataRequest::kType,
           &Processor::MsgGetNextOccurrencesByUserData},
      } {}

const std::vector<std::int32_t>& Processor::Types() {
    static const std::vector<std::int32_t> types = [] {
        constexpr auto catalogue = Messages::SchedulerRequests::Types();
        return std::vector<std::int32_t>(catalogue.begin(), catalogue.end());
    }();
    return types;
}

void Processor::Process(MessagePtr message) {
    const auto handler = handlers_.find(message->GetType());
    if (handler == handlers_.end()) {
        module_.Log(4) << "New message received but cannot find a message handler.";
        return;
    }
    module_.Log(2) << "Received message: " << message->GetTypeName();
    (this->*handler->second)(message);
}

template <typename Exception>
void Processor::ReplyError(std::uint32_t requestId, const std::string& text) {
    auto reply = std::make_shared<Common::Module::CResponseException>(requestId);
    reply->SetHolder(
        std::make_unique<Common::Module::CExceptionHolderImpl<Exception>>(Exception(text)));
    module_.SendMessage(std::move(reply));
}

void Processor::AnswerFailure(std::uint32_t requestId, const std::exception& failure, Typed typed,
                              LogOrder order) {
    const std::string text = failure.what();
    if (typed == Typed::All) {
        if (dynamic_cast<const CCrontabValidationException*>(&failure)) {
            return ReplyError<Common::Scheduler::CFormatException>(requestId, text);
        }
        if (dynamic_cast<const CCrontabTimeInPastException*>(&failure)) {
            return ReplyError<Common::Scheduler::CTimeInPastException>(requestId, text);
        }
        if (dynamic_cast<const CCrontabEventLimitException*>(&failure)) {
            return ReplyError<Common::Scheduler::CEventLimitException>(requestId, text);
        }
    }
    if (typed != Typed::None && dynamic_cast<const CCrontabNoEventException*>(&failure)) {
        return ReplyError<Common::Scheduler::CNoEventException>(requestId, text);
    }
    const bool refusal = dynamic_cast<const SchedulerNotTicking*>(&failure) != nullptr;
    const int level = refusal ? 3 : 4;
    const bool logFirst = order == LogOrder::BeforeReply || refusal;
    if (logFirst) module_.Log(level) << text;
    ReplyError<Common::Module::CInterModuleExceptionDefault>(requestId, text);
    if (!logFirst) module_.Log(level) << text;
}

namespace {

void RequireComplete(const TimeEvent& event) {
    if (!event.IsInitialized()) {
        throw std::runtime_error(SchedulerTexts::kIncompleteTimeEvent);
    }
}

bool IsAllZero(const UTCTime& time) {
    return time.year() == 0 && time.month() == 0 && time.day() == 0 && time.hour() == 0 &&
           time.minute() == 0 && time.second() == 0;
}

}  // namespace

void Processor::MsgRegisterTimeEvent(const MessagePtr& message) {
    const auto request = std::dynamic_pointer_cast<Messages::CRegisterTimeEvent>(message);
    if (!request) return;
    try {
        const auto context = CUserContext::EnsureCurrent();
        const auto& userData = request->GetUserData();
        if (!userData) throw CCrontabNoEventException(TimeSchedulerTexts::kUserDataIsNull);
        module_.CheckTicking("MsgRegisterTimeEvent", userData->GetTypeName());
        // An incomplete record is refused before its start is rewritten into a complete one.
        RequireComplete(request->GetTimeEvent());
        const TimeEvent event = WithStoredStart(request->GetTimeEvent());
        auto crontab = std::make_shared<CCrontabScheduler>(
            module_.GetCrontabs().Get(event.timespecification()));
        module_.GetTimeScheduler()->AddTab(std::move(crontab), event, userData, context);
        module_.SendMessage(
            std::make_shared<Messages::CRegisterTimeEventResponse>(request->GetRequestId()));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::All, LogOrder::AfterReply);
    }
}

void Processor::MsgUnregisterTimeEvent(const MessagePtr& message) {
    if (module_.IsStopping()) return;
    const auto request = std::dynamic_pointer_cast<Messages::CUnregisterTimeEvent>(message);
    if (!request) return;
    try {
        module_.GetTimeScheduler()->DeleteTab(request->GetUserData());
    } catch (const std::exception& e) {
        module_.Log(4) << e.what();
    }
}

void Processor::MsgValidateTimeEvent(const MessagePtr& message) {
    const auto request = std::dynamic_pointer_cast<Messages::CValidateTimeEvent>(message);
    if (!request) return;
    try {
        const TimeEvent& event = request->GetTimeEvent();
        RequireComplete(event);
        const CCrontabScheduler crontab(module_.GetCrontabs().Get(event.timespecification()));
        module_.GetTimeScheduler()->ValidateTimeEvent(crontab, event, request->GetTimeZoneSlack());
        module_.SendMessage(
            std::make_shared<Messages::CValidateTimeEventResponse>(request->GetRequestId()));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::All, LogOrder::AfterReply);
    }
}

void Processor::MsgRegisterSleepEvent(const MessagePtr& message) {
    const auto request = std::dynamic_pointer_cast<Messages::CRegisterSleepEvent>(message);
    if (!request) return;
    try {
        const auto context = CUserContext::EnsureCurrent();
        const auto& userData = request->GetUserData();
        if (!userData) throw std::runtime_error(SchedulerTexts::kSleepWithoutUserData);
        module_.CheckTicking("MsgRegisterSleepEvent", userData->GetTypeName());
        module_.GetTimeScheduler()->RegisterSleepEvent(request->GetSleepSeconds(), userData,
                                                       context);
    } catch (const SchedulerNotTicking& e) {
        module_.Log(2) << e.what();
    } catch (const std::exception& e) {
        module_.Log(4) << e.what();
    }
}

template <typename Request, typename Query>
void Processor::AnswerRemainingTime(const MessagePtr& message, const char* method, Query query) {
    const auto request = std::dynamic_pointer_cast<Request>(message);
    if (!request) return;
    try {
        module_.CheckTicking(method, "");
        CTimeScheduler::Time nextTick;
        const std::int32_t seconds = query(*module_.GetTimeScheduler(), *request, nextTick);
        auto response =
            std::make_shared<Messages::CGetRemainingTimeResponse>(request->GetRequestId());
        response->SetRemainingSeconds(seconds);
        response->SetNextTick(nextTick);
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::NoEventOnly, LogOrder::BeforeReply);
    }
}

void Processor::MsgGetRemainingTimeBySpec(const MessagePtr& message) {
    AnswerRemainingTime<Messages::CGetRemainingTimeBySpecRequest>(
        message, "MsgGetRemainingTimeBySpec",
        [](CTimeScheduler& scheduler, const auto& request, CTimeScheduler::Time& nextTick) {
            return scheduler.GetRemainingTimeBySpec(request.GetTimeEvent(), nextTick);
        });
}

void Processor::MsgGetRemainingTimeByUserData(const MessagePtr& message) {
    AnswerRemainingTime<Messages::CGetRemainingTimeByUserDataRequest>(
        message, "MsgGetRemainingTimeByUserData",
        [](CTimeScheduler& scheduler, const auto& request, CTimeScheduler::Time& nextTick) {
            return scheduler.GetRemainingTimeByUserData(request.GetUserData(), nextTick);
        });
}

void Processor::MsgGetNextOccurrencesByUserData(const MessagePtr& message) {
    const auto request =
        std::dynamic_pointer_cast<Messages::CGetNextOccurrencesByUserDataRequest>(message);
    if (!request) return;
    const auto& userData = request->GetUserData();
    try {
        const CTimeScheduler::Time now = CurrentUtcSecond();
        const UTCTime& fromTime = request->GetFromTime();
        const CTimeScheduler::Time from = IsAllZero(fromTime) ? now : ToTimePoint(fromTime);
        std::vector<UTCTime> occurrences;
        for (const auto& occurrence : module_.GetTimeScheduler()->GetNextOccurrencesByUserData(
                 userData, from, request->GetCount())) {
            occurrences.push_back(ToUtcTime(occurrence));
        }
        auto response = std::make_shared<Messages::CGetNextOccurrencesByUserDataResponse>(
            request->GetRequestId());
        response->SetOccurrences(std::move(occurrences));
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        ReplyError<Common::Module::CInterModuleExceptionDefault>(request->GetRequestId(), e.what());
        module_.Log(4) << "Failed GettingNextOccurrences for user data="
                       << (userData ? userData->GetTypeName() : std::string("NULL"))
                       << " reason: " << e.what();
    }
}

void Processor::MsgGetNextTimeRange(const MessagePtr& message) {
    const auto request = std::dynamic_pointer_cast<Messages::CGetNextTimeRangeRequest>(message);
    if (!request) return;
    try {
        // Local definitions follow the same clock as the scheduler's local-time events.
        CCronRangeFinder finder(
            [](boost::posix_time::ptime utc) { return CurrentClock()->UtcOffset(utc); });
        for (const auto& item : request->GetRanges()) {
            finder.AddDefinition(
                {item.utclocal(), item.timespecification(),
                 boost::posix_time::seconds(static_cast<std::int64_t>(item.durationseconds()))});
        }
        const auto range = finder.FindNextRange(ToTimePoint(request->GetFromTime()));
        auto response =
            std::make_shared<Messages::CGetNextTimeRangeResponse>(request->GetRequestId());
        if (range) {
            response->SetRangeStart(ToUtcTime(range->first));
            response->SetRangeEnd(ToUtcTime(range->second));
        }
        response->SetFound(range.has_value());
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::All, LogOrder::AfterReply);
    }
}

void Processor::MsgGetLastTick(const MessagePtr& message) {
    const std::shared_ptr<CTimeScheduler> scheduler = module_.GetTimeScheduler();
    const auto request = std::dynamic_pointer_cast<Messages::CGetLastTickRequest>(message);
    if (!request) return;
    try {
        auto response = std::make_shared<Messages::CGetLastTickResponse>(request->GetRequestId());
        const auto last = scheduler->GetLastTick(request->GetTimeEvent());
        response->SetNoLastTick(!last.has_value());
        if (last) response->SetLastTick(*last);
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::None, LogOrder::BeforeReply);
    }
}

namespace {

// The kernel's translator; a resource that yields none counts as no translator.
std::shared_ptr<Common::Kernel::ITranslator> Translator(
    const std::shared_ptr<Common::Kernel::ITranslatorResource>& resource, const char* handler) {
    std::shared_ptr<Common::Kernel::ITranslator> translator =
        resource ? resource->GetTranslator() : nullptr;
    if (!translator)
        throw std::runtime_error(std::string(handler) + SchedulerTexts::kNoTranslatorSuffix);
    return translator;
}

}  // namespace

void Processor::MsgGetTimeZoneDetails(const MessagePtr& message) {
    const auto request = std::dynamic_pointer_cast<Messages::CGetTimeZoneDetailsRequest>(message);
    if (!request) return;
    try {
        const auto translator = Translator(module_.GetTranslator(), "MsgGetTimeZoneDetails");
        const boost::posix_time::ptime at = ToTimePoint(request->GetAtTime());
        auto response =
            std::make_shared<Messages::CGetTimeZoneDetailsResponse>(request->GetRequestId());
        response->SetDetails(translator->GetTimeZoneDetails(
            request->GetTimeZoneId(), request->GetLocaleName(), at, request->GetTranslatorFlag()));
        response->SetReadOnly();
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::None, LogOrder::BeforeReply);
    }
}

void Processor::MsgGetAllTimeZoneDetails(const MessagePtr& message) {
    const auto request =
        std::dynamic_pointer_cast<Messages::CGetAllTimeZoneDetailsRequest>(message);
    if (!request) return;
    try {
        const auto translator = Translator(module_.GetTranslator(), "MsgGetAllTimeZoneDetails");
        const boost::posix_time::ptime now = CurrentUtcSecond();
        auto response =
            std::make_shared<Messages::CGetAllTimeZoneDetailsResponse>(request->GetRequestId());
        response->SetDetailsList(
            translator->GetAllTimeZoneDetails(request->GetLocaleName(), now, true));
        response->SetReadOnly();
        module_.SendMessage(std::move(response));
    } catch (const std::exception& e) {
        AnswerFailure(request->GetRequestId(), e, Typed::None, LogOrder::BeforeReply);
    }
}

}  // namespace Zent::Scheduler
