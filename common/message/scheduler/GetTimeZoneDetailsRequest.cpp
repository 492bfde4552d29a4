#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"

#include "common/message/MessageEquality.h"

namespace Zent::Common::Message::Scheduler {

std::int32_t CGetTimeZoneDetailsRequest::GetType() const {
    return kType;
}

std::string CGetTimeZoneDetailsRequest::GetTypeName() const {
    return "GetTimeZoneDetailsRequest";
}

bool CGetTimeZoneDetailsRequest::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
    return IsSameClassAnd(*this, other, [this](const CGetTimeZoneDetailsRequest& that) {
        return localeName_ == that.localeName_ && timeZoneId_ == that.timeZoneId_ &&
               EqualRecords(atTime_, that.atTime_) && translatorFlag_ == that.translatorFlag_;
    });
}

std::size_t CGetTimeZoneDetailsRequest::GetHash() const {
    return HashContent(*this, localeName_, timeZoneId_, atTime_, translatorFlag_);
}

}  // namespace Zent::Common::Message::Scheduler
