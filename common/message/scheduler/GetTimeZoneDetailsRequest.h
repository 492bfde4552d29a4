#pragma once

// Asks for the details of one time zone at a given time. Answered by
// CGetTimeZoneDetailsResponse.
//
//     auto request = std::make_shared<CGetTimeZoneDetailsRequest>(ids->NextId());
//     request->SetTimeZoneId("Europe/Berlin");
//     request->SetAtTime(now);

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/kernel/IMessage.h"
#include "common/message/Request.h"
#include "datadefinition/Common.pb.h"

namespace Zent::Common::Message::Scheduler {

class CGetTimeZoneDetailsRequest : public CRequest {
public:
    // The bus type number; other modules send and match it, so it never changes.
    static constexpr std::int32_t kType = 634;

    using CRequest::CRequest;

    std::int32_t GetType() const override;
    // "GetTimeZoneDetailsRequest".
    std::string GetTypeName() const override;
    // True for a CGetTimeZoneDetailsRequest with equal `localeName`, equal `timeZoneId`, equal
    // `atTime` and equal `translatorFlag`; the request id takes no part.
    bool IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const override;
    // Mixes in the same content as IsEqual.
    std::size_t GetHash() const override;

    // The locale of the display name.
    const std::string& GetLocaleName() const { return localeName_; }
    void SetLocaleName(std::string localeName) { localeName_ = std::move(localeName); }

    // The zone asked about, for example "Europe/Berlin".
    const std::string& GetTimeZoneId() const { return timeZoneId_; }
    void SetTimeZoneId(std::string timeZoneId) { timeZoneId_ = std::move(timeZoneId); }

    // The instant for which the zone is described.
    const DataDefinition::Common::UTCTime& GetAtTime() const { return atTime_; }
    void SetAtTime(DataDefinition::Common::UTCTime atTime) { atTime_ = std::move(atTime); }

    // Passed on to the translator unchanged.
    bool GetTranslatorFlag() const { return translatorFlag_; }
    void SetTranslatorFlag(bool translatorFlag) { translatorFlag_ = translatorFlag; }

private:
    std::string localeName_;
    std::string timeZoneId_;
    DataDefinition::Common::UTCTime atTime_;
    bool translatorFlag_{false};
};

}  // namespace Zent::Common::Message::Scheduler
