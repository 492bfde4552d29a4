#include "common/message/scheduler/ValidateTimeEvent.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CValidateTimeEvent::GetType() const {
    return kType;
}

std::string CValidateTimeEvent::GetTypeName() const {
    return "ValidateTimeEvent";
}

bool CValidateTimeEvent::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CValidateTimeEvent& that) {
        return EqualRecords(timeEvent_, that.timeEvent_) && timeZoneSlack_ == that.timeZoneSlack_;
    });
}

std::size_t CValidateTimeEvent::GetHash() const {
    return HashContent(*this, timeEvent_, timeZoneSlack_);
}

}  // namespace Zent::Common::Message::Scheduler
