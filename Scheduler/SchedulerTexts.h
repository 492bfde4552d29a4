#pragma once

// The texts of the module's refusals and error replies.
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

namespace Zent::Scheduler::SchedulerTexts {

inline constexpr char kIncompleteTimeEvent[] =
    "Invalid TimeEvent. Possible reason - required fields missing.";
inline constexpr char kSleepWithoutUserData[] = "Cannot register sleep event. User data is null.";
// Follows the handler's name.
inline constexpr char kNoTranslatorSuffix[] = ": Translator is not available.";
// kNotTickingPrefix, the method, kNotTickingMessage, the message, kNotTickingEnd.
inline constexpr char kNotTickingPrefix[] =
    "Scheduler is not ticking. Shutdown in progress. [Method=";
inline constexpr char kNotTickingMessage[] = ";Message=";
inline constexpr char kNotTickingEnd[] = "]";

}  // namespace Zent::Scheduler::SchedulerTexts
