#include "common/message/scheduler/GetRemainingTimeResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetRemainingTimeResponse::GetType() const {
    return kType;
}

std::string CGetRemainingTimeResponse::GetTypeName() const {
    return "GetRemainingTimeResponse";
}

bool CGetRemainingTimeResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetRemainingTimeResponse& that) {
        return remainingSeconds_ == that.remainingSeconds_ && nextTick_ == that.nextTick_;
    });
}

std::size_t CGetRemainingTimeResponse::GetHash() const {
    return HashContent(*this, remainingSeconds_, nextTick_);
}

}  // namespace Zent::Common::Message::Scheduler
