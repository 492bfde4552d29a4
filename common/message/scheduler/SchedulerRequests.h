#pragma once

// The catalogue of the scheduler's requests: each request class with the class that answers
// it. The type numbers live only in each class's `kType`; whatever subscribes, dispatches or
// decodes requests by number takes them from here.
//
//     SchedulerRequests::ForEach([&]<class Entry>() {
//         bus->Subscribe(subscriber, Entry::Request::kType);
//         if constexpr (Entry::kAnswered) expect(Entry::Response::kType);
//     });
//
// A failed answered request is answered with the error reply (Module::CResponseException)
// instead of its response.
//
// Fixed text: each class's `kType` and its GetTypeName text are matched by other modules and
// by the serve protocol; keep them exactly as they are.

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsResponse.h"
#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/message/scheduler/GetLastTickResponse.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataResponse.h"
#include "common/message/scheduler/GetNextTimeRangeRequest.h"
#include "common/message/scheduler/GetNextTimeRangeResponse.h"
#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"
#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"
#include "common/message/scheduler/GetRemainingTimeResponse.h"
#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetTimeZoneDetailsResponse.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/RegisterTimeEventResponse.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEventResponse.h"

namespace Zent::Common::Message::Scheduler {

// One request and its response class; `void` for a request that is never answered (its
// failures are only logged).
template <class RequestClass, class ResponseClass>
struct RequestEntry {
    using Request = RequestClass;
    using Response = ResponseClass;
    static constexpr bool kAnswered = !std::is_void_v<ResponseClass>;
};

template <class... Entries>
struct RequestList {
    static constexpr std::size_t kSize = sizeof...(Entries);

    // Calls `visit.template operator()<Entry>()` for each entry, in list order.
    template <class Visitor>
    static void ForEach(Visitor&& visit) {
        (visit.template operator()<Entries>(), ...);
    }

    // The requests' type numbers, in list order.
    static constexpr std::array<std::int32_t, kSize> Types() {
        return {Entries::Request::kType...};
    }

    // True for the type number of one of the requests.
    static constexpr bool Contains(std::int32_t type) {
        return ((Entries::Request::kType == type) || ...);
    }
};

// The scheduler's eleven requests, in the order the module subscribes to them.
using SchedulerRequests = RequestList<
    RequestEntry<CGetRemainingTimeBySpecRequest, CGetRemainingTimeResponse>,
    RequestEntry<CGetRemainingTimeByUserDataRequest, CGetRemainingTimeResponse>,
    RequestEntry<CRegisterTimeEvent, CRegisterTimeEventResponse>,
    RequestEntry<CRegisterSleepEvent, void>, RequestEntry<CUnregisterTimeEvent, void>,
    RequestEntry<CValidateTimeEvent, CValidateTimeEventResponse>,
    RequestEntry<CGetNextTimeRangeRequest, CGetNextTimeRangeResponse>,
    RequestEntry<CGetLastTickRequest, CGetLastTickResponse>,
    RequestEntry<CGetAllTimeZoneDetailsRequest, CGetAllTimeZoneDetailsResponse>,
    RequestEntry<CGetTimeZoneDetailsRequest, CGetTimeZoneDetailsResponse>,
    RequestEntry<CGetNextOccurrencesByUserDataRequest, CGetNextOccurrencesByUserDataResponse>>;

}  // namespace Zent::Common::Message::Scheduler
