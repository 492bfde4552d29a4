#pragma once

// Dispatches the scheduler's control messages, by type number, to their handlers.
//
//     auto processor = std::make_shared<CSchedulerModule::CControlMessageProcessor>(module);
//     module.RegisterMessageProcessor(CSchedulerModule::CControlMessageProcessor::Types(),
//                                     processor);
//
// Runs on the module's processing thread, one message at a time.

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Scheduler/SchedulerModule.h"
#include "common/module/MessageProcessor.h"

namespace Zent::Scheduler {

class CSchedulerModule::CControlMessageProcessor : public Common::Module::IMessageProcessor {
public:
    using MessagePtr = std::shared_ptr<Common::Kernel::IMessage>;

    explicit CControlMessageProcessor(CSchedulerModule& module);

    // The eleven control type numbers, in the order the module subscribes to them.
    static const std::vector<std::int32_t>& Types();

    // Logs "Received message: <type name>" (level 2) and calls the handler of the
    // message's type; a type without handler is logged (level 4) and dropped.
    void Process(MessagePtr message) override;

private:
    using Handler = void (CControlMessageProcessor::*)(const MessagePtr&);

    void MsgGetNextTimeRange(const MessagePtr& message);
    void MsgGetRemainingTimeBySpec(const MessagePtr& message);
    void MsgGetRemainingTimeByUserData(const MessagePtr& message);
    void MsgRegisterSleepEvent(const MessagePtr& message);
    void MsgRegisterTimeEvent(const MessagePtr& message);
    void MsgUnregisterTimeEvent(const MessagePtr& message);
    void MsgValidateTimeEvent(const MessagePtr& message);
    void MsgGetLastTick(const MessagePtr& message);
    void MsgGetAllTimeZoneDetails(const MessagePtr& message);
    void MsgGetTimeZoneDetails(const MessagePtr& message);
    void MsgGetNextOccurrencesByUserData(const MessagePtr& message);

    // Which failures a handler answers with a typed error reply; the rest get the default.
    enum class Typed { All, NoEventOnly, None };
    // When the failure's text is logged, beside a default error reply. A shutdown refusal
    // is always logged first.
    enum class LogOrder { BeforeReply, AfterReply };
    // Answers a failed request: a typed error reply, or the default one together with the
    // failure's text in the log (level 3 for a shutdown refusal, else 4).
    void AnswerFailure(std::uint32_t requestId, const std::exception& failure, Typed typed,
                       LogOrder order);
    template <typename Exception>
    void ReplyError(std::uint32_t requestId, const std::string& text);
    // The two remaining-time requests: `query` asks the scheduler, the rest is shared.
    template <typename Request, typename Query>
    void AnswerRemainingTime(const MessagePtr& message, const char* method, Query query);

    CSchedulerModule& module_;
    std::map<std::int32_t, Handler> handlers_;
};

}  // namespace Zent::Scheduler
