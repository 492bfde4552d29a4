#pragma once

// Asks for the next occurrences of the event registered with equal user data. Answered by
// CGetNextOccurrencesByUserDataResponse.
//
//     auto request = std::make_shared<CGetNextOccurrencesByUserDataRequest>(ids->NextId());
//     request->SetUserData(myTickMessage);
//     request->SetCount(5);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Common.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetNextOccurrencesByUserDataRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 754;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetNextOccurrencesByUserDataRequest".
    std::string GetTypeName() const override;
    // True for a CGetNextOccurrencesByUserDataRequest with equal `fromTime`, equal `count` and
    // user data that this one's user data calls equal; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // The instant after which to count; all six fields zero: now.
    const DataDefinition::Common::UTCTime& GetFromTime() const { return fromTime_; }
    void SetFromTime(DataDefinition::Common::UTCTime fromTime) { fromTime_ = std::move(fromTime); }

    // How many occurrences are wanted at most.
    std::uint64_t GetCount() const { return count_; }
    void SetCount(std::uint64_t count) { count_ = count; }

    // The user data of the registration asked about.
    const std::shared_ptr<Kernel::IMessage>& GetUserData() const { return userData_; }
    void SetUserData(std::shared_ptr<Kernel::IMessage> userData) {
        userData_ = std::move(userData);
    }

private:
    DataDefinition::Common::UTCTime fromTime_;
    std::uint64_t count_{0};
    std::shared_ptr<Kernel::IMessage> userData_;
};

}  // namespace Zent::Common::Message::Scheduler
