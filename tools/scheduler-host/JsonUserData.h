#pragma once

// The user data that scheduler-host registers with the scheduler: any JSON value, carried
// as a bus message so that the scheduler can send it back at each tick.
//
//     auto userData = CJsonUserData::Parse(R"({"job": "backup"})");
//     request->SetUserData(userData);   // CRegisterTimeEvent, CRegisterSleepEvent, ...
//     // at each tick the bus carries that very message again:
//     if (auto tick = std::dynamic_pointer_cast<CJsonUserData>(message)) Show(tick->GetJson());
//
// Two of them are equal when their canonical JSON texts are (see JsonText.h): key order
// and blanks do not matter, so {"b":1, "a":2} finds a registration made with {"a":2,"b":1}.
// Immutable; shared between threads freely.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "common/kernel/IMessage.h"

namespace Zent::Tools::SchedulerHost {

class CJsonUserData : public Common::Kernel::IMessage {
public:
    // The bus type number of every JSON user data message. The scheduler does not
    // subscribe to it, so a tick reaches only the bus's observers.
    static constexpr std::int32_t kType = 7100;

    explicit CJsonUserData(const boost::json::value& value);
    // Throws std::invalid_argument when `json` is not one JSON value.
    static std::shared_ptr<CJsonUserData> Parse(std::string_view json);

    std::int32_t GetType() const override { return kType; }
    // "JsonUserData".
    std::string GetTypeName() const override { return "JsonUserData"; }
    // True for another message of type kType that is a CJsonUserData with the same
    // canonical text.
    bool IsEqual(const std::shared_ptr<Common::Kernel::IMessage>& other) const override;
    // The canonical text's hash, so that the scheduler finds a registration without
    // comparing it to every other one.
    std::size_t GetHash() const override { return std::hash<std::string>{}(json_); }

    // The canonical JSON text of the value.
    const std::string& GetJson() const { return json_; }

private:
    const std::string json_;
};

}  // namespace Zent::Tools::SchedulerHost
