#pragma once

// Asks for the details of every known time zone at the current time. Answered by
// CGetAllTimeZoneDetailsResponse.
//
//     auto request = std::make_shared<CGetAllTimeZoneDetailsRequest>(ids->NextId());
//     request->SetLocaleName("de_DE");

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"

namespace Zent::Common::Message::Scheduler {

class CGetAllTimeZoneDetailsRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 632;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetAllTimeZoneDetailsRequest".
    std::string GetTypeName() const override;
    // True for a CGetAllTimeZoneDetailsRequest with equal `localeName`; the request id takes no
    // part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // The locale of the display names.
    const std::string& GetLocaleName() const { return localeName_; }
    void SetLocaleName(std::string localeName) { localeName_ = std::move(localeName); }

private:
    std::string localeName_;
};

}  // namespace Zent::Common::Message::Scheduler
