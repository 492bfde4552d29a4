#pragma once

// What an error reply (CResponseException) carries, as the requester sees it after
// throwing the held exception again.
//
//     if (auto reply = std::dynamic_pointer_cast<CResponseException>(message)) {
//         const ErrorDescription error = DescribeError(*reply);
//         // error.className "CFormatException", error.code 6, error.group 5,
//         // error.text "Invalid crontab string"
//     }

#include <cstdint>
#include <optional>
#include <string>

#include "common/module/ResponseException.h"

namespace Zent::Tools::SchedulerHost {

struct ErrorDescription {
    // The most derived class the exception is caught as: "CNoEventException",
    // "CFormatException", "CTimeInPastException", "CLocalizedException",
    // "CInterModuleExceptionDefault", "CInterModuleException" or "std::exception";
    // "unknown" for anything else, and "none" for a reply without a holder.
    std::string className;
    // Set for the localized exceptions only.
    std::optional<std::uint32_t> code;
    std::optional<std::uint32_t> group;
    std::string text;
};

ErrorDescription DescribeError(const Common::Module::CResponseException& reply);

}  // namespace Zent::Tools::SchedulerHost
