// The scheduler's requests and responses: equality and hash by content, and the read-only
// guard of responses.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/date_time/posix_time/posix_time.hpp>

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
#include "common/module/ResponseException.h"
#include "tests/support/TextMessage.h"

namespace Zent::Common::Message::Scheduler {
namespace {

using DataDefinition::Common::TimeZoneDetails;
using DataDefinition::Common::UTCTime;
using DataDefinition::Scheduler::TimeEvent;
using DataDefinition::Scheduler::TimeRangeItem;
using Kernel::IMessage;
using MessagePtr = std::shared_ptr<IMessage>;
using Testing::CTextMessage;

UTCTime Utc(int year, int hour = 0) {
    UTCTime time;
    time.set_year(year);
    time.set_hour(hour);
    return time;
}
TimeEvent Event(const std::string& crontab) {
    TimeEvent event;
    event.set_timespecification(crontab);
    return event;
}
TimeRangeItem Range(std::uint32_t seconds) {
    TimeRangeItem item;
    item.set_timespecification("0 0 8 * * ?");
    item.set_durationseconds(seconds);
    return item;
}
TimeZoneDetails Zone(const std::string& id) {
    TimeZoneDetails zone;
    zone.set_zone_id(id);
    return zone;
}
template <class... Items>
auto List(Items... items) {
    return std::vector{items...};
}
boost::posix_time::ptime At(int hour) {
    return {boost::gregorian::date(2030, 5, 1), boost::posix_time::hours(hour)};
}

struct MessageCase {
    std::string name;
    std::int32_t type;  // the class's kType
    std::function<MessagePtr(std::uint32_t requestId)> make;
    // Each change gives a fresh message a content unlike a fresh one's and every other's.
    std::vector<std::function<void(IMessage&)>> changes;
};

// A class with changes of its own, and of its user data when it has one.
template <class T, class... Changes>
MessageCase Of(Changes... changes) {
    MessageCase c{T(0).GetTypeName(),
                  T::kType,
                  [](std::uint32_t id) -> MessagePtr { return std::make_shared<T>(id); },
                  {[changes](IMessage& m) { changes(static_cast<T&>(m)); }...}};
    if constexpr (requires(T & m) { m.SetUserData(nullptr); }) {
        for (const char* text : {"a", "b"}) {
            c.changes.push_back([text](IMessage& m) {
                static_cast<T&>(m).SetUserData(std::make_shared<CTextMessage>(text));
            });
        }
    }
    return c;
}

const std::vector<MessageCase>& MessageCases() {
    static const std::vector<MessageCase> cases = {
        Of<CGetNextTimeRangeRequest>([](auto& m) { m.SetRanges(List(Range(3600), Range(60))); },
                                     [](auto& m) { m.SetRanges(List(Range(3600))); },
                                     [](auto& m) { m.SetFromTime(Utc(2030)); },
                                     [](auto& m) { m.SetFromTime(Utc(2031)); }),
        Of<CGetRemainingTimeBySpecRequest>([](auto& m) { m.SetTimeEvent(Event("0 0 * * * ?")); }),
        Of<CGetRemainingTimeByUserDataRequest>(),
        Of<CRegisterSleepEvent>([](auto& m) { m.SetSleepSeconds(30); }),
        Of<CRegisterTimeEvent>([](auto& m) { m.SetTimeEvent(Event("0 0 * * * ?")); },
                               [](auto& m) { m.SetTimeEvent(Event("0 30 * * * ?")); }),
        Of<CUnregisterTimeEvent>(),
        Of<CValidateTimeEvent>([](auto& m) { m.SetTimeEvent(Event("0 0 * * * ?")); },
                               [](auto& m) { m.SetTimeZoneSlack(true); }),
        Of<CGetLastTickRequest>([](auto& m) { m.SetTimeEvent(Event("0 0 * * * ?")); }),
        Of<CGetAllTimeZoneDetailsRequest>([](auto& m) { m.SetLocaleName("de_DE"); }),
        Of<CGetTimeZoneDetailsRequest>([](auto& m) { m.SetLocaleName("de_DE"); },
                                       [](auto& m) { m.SetTimeZoneId("Asia/Tokyo"); },
                                       [](auto& m) { m.SetAtTime(Utc(2030)); },
                                       [](auto& m) { m.SetTranslatorFlag(true); }),
        Of<CGetNextOccurrencesByUserDataRequest>([](auto& m) { m.SetFromTime(Utc(2030)); },
                                                 [](auto& m) { m.SetCount(5); }),
        Of<CGetNextTimeRangeResponse>([](auto& m) { m.SetRangeStart(Utc(2030, 8)); },
                                      [](auto& m) { m.SetRangeEnd(Utc(2030, 9)); },
                                      [](auto& m) { m.SetFound(true); }),
        Of<CGetRemainingTimeResponse>([](auto& m) { m.SetRemainingSeconds(60); },
                                      [](auto& m) { m.SetNextTick(At(10)); },
                                      [](auto& m) { m.SetNextTick(At(11)); }),
        Of<CRegisterTimeEventResponse>(),
        Of<CValidateTimeEventResponse>(),
        Of<CGetLastTickResponse>([](auto& m) { m.SetNoLastTick(true); },
                                 [](auto& m) { m.SetLastTick(At(23)); }),
        Of<CGetAllTimeZoneDetailsResponse>(
            [](auto& m) { m.SetDetailsList(List(Zone("Europe/Berlin"))); },
            [](auto& m) { m.SetDetailsList(List(Zone("Europe/Berlin"), Zone("Europe/Paris"))); },
            [](auto& m) { m.SetDetailsList(List(Zone("Europe/Paris"), Zone("Europe/Berlin"))); }),
        Of<CGetTimeZoneDetailsResponse>([](auto& m) { m.SetDetails(Zone("Asia/Tokyo")); }),
        Of<CGetNextOccurrencesByUserDataResponse>(
            [](auto& m) { m.SetOccurrences(List(Utc(2030, 10))); },
            [](auto& m) { m.SetOccurrences(List(Utc(2030, 10), Utc(2030, 11))); }),
        Of<Module::CResponseException>(),
    };
    return cases;
}

TEST(SchedulerMessagesTest, EqualAndHashedByContentOnlyAndUnchangeableWhenReadOnly) {
    // Message i of a case is fresh (i = 0) or has change i - 1 applied, so all differ.
    const auto Make = [](const MessageCase& c, std::size_t i, std::uint32_t requestId = 1) {
        MessagePtr message = c.make(requestId);
        if (i > 0) c.changes[i - 1](*message);
        return message;
    };
    for (const MessageCase& c : MessageCases()) {
        for (std::size_t i = 0; i <= c.changes.size(); ++i) {
            SCOPED_TRACE(c.name + " content " + std::to_string(i));
            const MessagePtr message = Make(c, i);
            EXPECT_EQ(message->GetType(), c.type);
            EXPECT_FALSE(message->IsEqual(nullptr));

            // The request id and the read-only flag take no part.
            const MessagePtr twin = Make(c, i, 2);
            if (auto* writable = dynamic_cast<CWriteControl*>(twin.get())) writable->SetReadOnly();
            EXPECT_TRUE(message->IsEqual(twin));
            EXPECT_TRUE(twin->IsEqual(message));
            EXPECT_EQ(message->GetHash(), twin->GetHash());

            // Registries index messages by their hash: content must spread them.
            for (std::size_t j = 0; j < i; ++j) {
                const MessagePtr other = Make(c, j);
                EXPECT_FALSE(message->IsEqual(other)) << "content " << j;
                EXPECT_FALSE(other->IsEqual(message)) << "content " << j;
                EXPECT_NE(message->GetHash(), other->GetHash()) << "content " << j;
            }
            if (i > 0 && dynamic_cast<CWriteControl*>(message.get()) != nullptr) {
                const MessagePtr frozen = Make(c, 0);
                dynamic_cast<CWriteControl&>(*frozen).SetReadOnly();
                try {
                    c.changes[i - 1](*frozen);
                    ADD_FAILURE() << "a read-only response was changed";
                } catch (const std::runtime_error& e) {
                    EXPECT_STREQ(e.what(), "Message is read only");
                }
                EXPECT_TRUE(frozen->IsEqual(Make(c, 0)));
            }
        }
        for (const MessageCase& other : MessageCases()) {
            if (&other != &c) {
                EXPECT_FALSE(Make(c, 0)->IsEqual(Make(other, 0))) << other.name;
            }
        }
    }
}

}  // namespace
}  // namespace Zent::Common::Message::Scheduler
