#pragma once

// The bus type numbers of the scheduler's requests and responses.
//
//     module.RegisterMessageProcessor({MessageType::RegisterTimeEvent, ...}, processor);
//
// Each request's response is listed after it; 320 and 323 are never answered. A failed
// request is answered with the error reply, type 1 (Module::CResponseException).

#include <cstdint>

namespace Zent::Common::Message::Scheduler::MessageType {

inline constexpr std::int32_t GetNextTimeRangeRequest = 315;
inline constexpr std::int32_t GetNextTimeRangeResponse = 316;
inline constexpr std::int32_t GetRemainingTimeBySpecRequest = 317;
inline constexpr std::int32_t GetRemainingTimeByUserDataRequest = 318;
inline constexpr std::int32_t GetRemainingTimeResponse = 319;  // answers 317 and 318
inline constexpr std::int32_t RegisterSleepEvent = 320;
inline constexpr std::int32_t RegisterTimeEvent = 321;
inline constexpr std::int32_t RegisterTimeEventResponse = 322;
inline constexpr std::int32_t UnregisterTimeEvent = 323;
inline constexpr std::int32_t ValidateTimeEvent = 324;
inline constexpr std::int32_t ValidateTimeEventResponse = 325;
inline constexpr std::int32_t GetLastTickRequest = 556;
inline constexpr std::int32_t GetLastTickResponse = 557;
inline constexpr std::int32_t GetAllTimeZoneDetailsRequest = 632;
inline constexpr std::int32_t GetAllTimeZoneDetailsResponse = 633;
inline constexpr std::int32_t GetTimeZoneDetailsRequest = 634;
inline constexpr std::int32_t GetTimeZoneDetailsResponse = 635;
inline constexpr std::int32_t GetNextOccurrencesByUserDataRequest = 754;
inline constexpr std::int32_t GetNextOccurrencesByUserDataResponse = 755;

}  // namespace Zent::Common::Message::Scheduler::MessageType
