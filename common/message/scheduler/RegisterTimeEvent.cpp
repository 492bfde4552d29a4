#include "common/message/scheduler/RegisterTimeEvent.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CRegisterTimeEvent::GetType() const {
    return kType;
}

std::string CRegisterTimeEvent::GetTypeName() const {
    return "RegisterTimeEvent";
}

bool CRegisterTimeEvent::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CRegisterTimeEvent& that) {
        return EqualRecords(timeEvent_, that.timeEvent_) &&
               EqualUserData(userData_, that.userData_);
    });
}

std::size_t CRegisterTimeEvent::GetHash() const {
    return HashContent(*this, timeEvent_, userData_);
}

}  // namespace Zent::Common::Message::Scheduler
