#pragma once

// The texts of the time scheduler's refusals.
// Fixed text (matched by other modules and operators): keep verbatim, typos too.

namespace Zent::Scheduler::TimeSchedulerTexts {

inline constexpr char kUserDataIsNull[] = "User data is NULL";
inline constexpr char kUserDataNotFound[] = "User data not found.";
inline constexpr char kNeverOccurs[] = "The event never occurs";
inline constexpr char kNoNextOccurrence[] = "No next occurrence event.";
inline constexpr char kEventsInThePast[] = "Events are in the past";
inline constexpr char kDelayBeyondInterval[] = "Delay greater than time inverval between ticks.";
// Followed by the limit.
inline constexpr char kEventLimitPrefix[] = "Too many registered events: the limit is ";
inline constexpr char kCannotSerializeRequest[] = "Cannot serialize timeEvent to string";
inline constexpr char kCannotSerializeRegistered[] = "Cannot serialize desc->timeEvent to string";
inline constexpr char kTimeEventNotUnique[] = "The time event is not unique!";
// Followed by the event's DebugString.
inline constexpr char kNeverStartsPrefix[] =
    "The timeEvent never starts, due to numOfOccurences is 0: ";
// kNeverTicksPrefix, the event's DebugString, kNeverTicksSuffix.
inline constexpr char kNeverTicksPrefix[] = "The timeEvent ";
inline constexpr char kNeverTicksSuffix[] = " never ticks";

}  // namespace Zent::Scheduler::TimeSchedulerTexts
