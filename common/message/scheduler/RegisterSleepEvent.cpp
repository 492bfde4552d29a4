#include "common/message/scheduler/RegisterSleepEvent.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CRegisterSleepEvent::GetType() const {
    return kType;
}

std::string CRegisterSleepEvent::GetTypeName() const {
    return "RegisterSleepEvent";
}

bool CRegisterSleepEvent::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CRegisterSleepEvent& that) {
        return sleepSeconds_ == that.sleepSeconds_ && EqualUserData(userData_, that.userData_);
    });
}

std::size_t CRegisterSleepEvent::GetHash() const {
    return HashContent(*this, sleepSeconds_, userData_);
}

}  // namespace Zent::Common::Message::Scheduler
