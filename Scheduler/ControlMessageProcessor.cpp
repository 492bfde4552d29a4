#include "Scheduler/ControlMessageProcessor.h"

namespace Zent::Scheduler {

using Processor = CSchedulerModule::CControlMessageProcessor;

CSchedulerModule::CControlMessageProcessor::CControlMessageProcessor(CSchedulerModule& module)
    : module_(module),
      handlers_{
          {315, &Processor::MsgGetNextTimeRange},
          {317, &Processor::MsgGetRemainingTimeBySpec},
          {318, &Processor::MsgGetRemainingTimeByUserData},
          {320, &Processor::MsgRegisterSleepEvent},
          {321, &Processor::MsgRegisterTimeEvent},
          {323, &Processor::MsgUnregisterTimeEvent},
          {324, &Processor::MsgValidateTimeEvent},
          {556, &Processor::MsgGetLastTick},
          {632, &Processor::MsgGetAllTimeZoneDetails},
          {634, &Processor::MsgGetTimeZoneDetails},
          {754, &Processor::MsgGetNextOccurrencesByUserData},
      } {}

const std::vector<std::int32_t>& Processor::Types() {
    static const std::vector<std::int32_t> types = {317, 318, 321, 320, 323, 324,
                                                    315, 556, 632, 634, 754};
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

void Processor::NotYetImplemented(const char* handler, const MessagePtr& message) {
    module_.Log(3) << handler << " is not implemented yet; dropped " << message->GetTypeName();
}

void Processor::MsgGetNextTimeRange(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetRemainingTimeBySpec(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetRemainingTimeByUserData(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgRegisterSleepEvent(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgRegisterTimeEvent(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgUnregisterTimeEvent(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgValidateTimeEvent(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetLastTick(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetAllTimeZoneDetails(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetTimeZoneDetails(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}
void Processor::MsgGetNextOccurrencesByUserData(const MessagePtr& m) {
    NotYetImplemented(__func__, m);
}

}  // namespace Zent::Scheduler
