#pragma once

// The failures of scheduler requests that another module can tell apart: all are
// CLocalizedException of group 5, with their own codes.
//
//     reply->SetHolder(std::make_unique<CExceptionHolderImpl<CFormatException>>(
//         CFormatException("Invalid crontab string")));
//     ...
//     catch (const CLocalizedException& e) { if (e.GetCode() == CFormatException::kCode) ... }
//
// They do not override CreateHolder: to carry the exact class, build the holder as above.

#include <cstdint>
#include <string>

#include "common/module/InterModuleException.h"

namespace Zent::Common::Scheduler {

inline constexpr std::uint32_t kSchedulerExceptionGroup = 5;

// The time event never occurs, or has no next occurrence.
class CNoEventException : public Module::CLocalizedException {
public:
    static constexpr std::uint32_t kCode = 5;
    explicit CNoEventException(const std::string& text)
        : CLocalizedException(text, kCode, kSchedulerExceptionGroup) {}
};

// The crontab text of a time event is malformed or invalid.
class CFormatException : public Module::CLocalizedException {
public:
    static constexpr std::uint32_t kCode = 6;
    explicit CFormatException(const std::string& text)
        : CLocalizedException(text, kCode, kSchedulerExceptionGroup) {}
};

// The occurrences lie in the past.
class CTimeInPastException : public Module::CLocalizedException {
public:
    static constexpr std::uint32_t kCode = 7;
    explicit CTimeInPastException(const std::string& text)
        : CLocalizedException(text, kCode, kSchedulerExceptionGroup) {}
};

// The scheduler already holds as many registered events as it is configured to take.
class CEventLimitException : public Module::CLocalizedException {
public:
    static constexpr std::uint32_t kCode = 8;
    explicit CEventLimitException(const std::string& text)
        : CLocalizedException(text, kCode, kSchedulerExceptionGroup) {}
};

}  // namespace Zent::Common::Scheduler
