#include "common/message/scheduler/UnregisterTimeEvent.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CUnregisterTimeEvent::GetType() const {
    return kType;
}

std::string CUnregisterTimeEvent::GetTypeName() const {
    return "UnregisterTimeEvent";
}

bool CUnregisterTimeEvent::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CUnregisterTimeEvent& that) {
        return EqualUserData(userData_, that.userData_);
    });
}

std::size_t CUnregisterTimeEvent::GetHash() const {
    return HashContent(*this, userData_);
}

}  // namespace Zent::Common::Message::Scheduler
