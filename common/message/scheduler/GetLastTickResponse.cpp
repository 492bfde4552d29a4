#include "common/message/scheduler/GetLastTickResponse.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetLastTickResponse::GetType() const {
    return kType;
}

std::string CGetLastTickResponse::GetTypeName() const {
    return "GetLastTickResponse";
}

bool CGetLastTickResponse::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetLastTickResponse& that) {
        return noLastTick_ == that.noLastTick_ && lastTick_ == that.lastTick_;
    });
}

std::size_t CGetLastTickResponse::GetHash() const {
    return HashContent(*this, noLastTick_, lastTick_);
}

}  // namespace Zent::Common::Message::Scheduler
