#pragma once

// Answers CGetLastTickRequest.
//
//     if (!response->GetNoLastTick()) Show(response->GetLastTick());
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

class CGetLastTickResponse : public Message::CResponse {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 557;

    using Message::CResponse::CResponse;

    std::int32_t GetType() const override;
    // "GetLastTickResponse".
    std::string GetTypeName() const override;
    // True for a CGetLastTickResponse with equal `noLastTick` and equal `lastTick`; the request id
    // and the read-only flag take no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // True when the event has no last tick (it ticks forever or never).
    bool GetNoLastTick() const { return noLastTick_; }
    void SetNoLastTick(bool noLastTick) {
        CheckWritable();
        noLastTick_ = noLastTick;
    }

    // The last tick (UTC); not-a-date-time when there is none.
    boost::posix_time::ptime GetLastTick() const { return lastTick_; }
    void SetLastTick(boost::posix_time::ptime lastTick) {
        CheckWritable();
        lastTick_ = lastTick;
    }

private:
    bool noLastTick_{false};
    boost::posix_time::ptime lastTick_{boost::posix_time::not_a_date_time};
};

}  // namespace Zent::Common::Message::Scheduler
