#pragma once

// Answers CGetRemainingTimeBySpecRequest and CGetRemainingTimeByUserDataRequest.
//
//     Wait(std::chrono::seconds(response->GetRemainingSeconds()));
//
// Every setter throws std::runtime_error "Message is read only" once SetReadOnly was called,
// and then changes nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/ptime.hpp>

#include "common/kernel/IMessage.h"
#include "common/message/Response.h"

namespace Zent::Common::Message::Scheduler {

class CGetRemainingTimeResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 319;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetRemainingTimeResponse".
    std::string GetTypeName() const override;
    // True for a CGetRemainingTimeResponse with equal `remainingSeconds` and equal `nextTick`; the
    // request id and the read-only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // Whole seconds until the next tick; 0 when no event matched.
    std::int32_t GetRemainingSeconds() const { return remainingSeconds_; }
    void SetRemainingSeconds(std::int32_t remainingSeconds) {
        CheckWritable();
        remainingSeconds_ = remainingSeconds;
    }

    // The time of the next tick (UTC); not-a-date-time when no event matched.
    boost::posix_time::ptime GetNextTick() const { return nextTick_; }
    void SetNextTick(boost::posix_time::ptime nextTick) {
        CheckWritable();
        nextTick_ = nextTick;
    }

private:
    std::int32_t remainingSeconds_{0};
    boost::posix_time::ptime nextTick_{boost::posix_time::not_a_date_time};
};

}  // namespace Zent::Common::Message::Scheduler
