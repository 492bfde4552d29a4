// The scheduler's requests and responses: type numbers and names, IsEqual, initial values
// and the read-only guard of responses.

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

namespace Zent::Common::Message::Scheduler {
namespace {

using DataDefinition::Common::TimeZoneDetails;
using DataDefinition::Common::UTCTime;
using DataDefinition::Scheduler::TimeEvent;
using DataDefinition::Scheduler::TimeRangeItem;
using Kernel::IMessage;
namespace bpt = boost::posix_time;

UTCTime Utc(int year, int month, int day, int hour = 0) {
    UTCTime time;
    time.set_year(year);
    time.set_month(month);
    time.set_day(day);
    time.set_hour(hour);
    time.set_minute(0);
    time.set_second(0);
    return time;
}

TimeEvent Event(const std::string& crontab) {
    TimeEvent event;
    event.set_timespecification(crontab);
    event.set_utclocal(true);
    return event;
}

TimeRangeItem Range(const std::string& crontab, std::uint32_t seconds) {
    TimeRangeItem item;
    item.set_timespecification(crontab);
    item.set_durationseconds(seconds);
    item.set_utclocal(false);
    return item;
}

TimeZoneDetails Zone(const std::string& id) {
    TimeZoneDetails zone;
    zone.set_zone_id(id);
    zone.set_current_offset_seconds(3600);
    return zone;
}

bpt::ptime At(const char* text) {
    return bpt::time_from_string(text);
}

// User data equal to every CKey with the same key.
class CKey : public IMessage {
public:
    explicit CKey(int key) : key_(key) {}
    std::int32_t GetType() const override { return 9001; }
    std::string GetTypeName() const override { return "Key"; }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override {
        const auto* that = dynamic_cast<const CKey*>(other.get());
        return that != nullptr && that->key_ == key_;
    }
    std::size_t GetHash() const override { return std::hash<int>{}(key_); }

private:
    int key_;
};

// User data that calls every message equal to itself; no other message agrees.
class CWildcard : public IMessage {
public:
    std::int32_t GetType() const override { return 9002; }
    std::string GetTypeName() const override { return "Wildcard"; }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override { return other != nullptr; }
};

std::shared_ptr<IMessage> Key(int key) {
    return std::make_shared<CKey>(key);
}

// Variant 0 is the reference content; the user data of variant `other` is another key,
// that of variant `empty` is none.
std::shared_ptr<IMessage> UserData(int variant, int other, int empty) {
    if (variant == empty) return nullptr;
    return Key(variant == other ? 2 : 1);
}

struct MessageCase {
    std::string name;
    std::int32_t type;
    std::int32_t typeConstant;
    // Makes the message; variant 0 is the reference content, each further variant differs
    // from it in exactly one field.
    std::function<std::shared_ptr<IMessage>(std::uint32_t requestId, int variant)> make;
    int variants;
};

const std::vector<MessageCase>& MessageCases() {
    static const std::vector<MessageCase> cases = {
        {"GetNextTimeRangeRequest", 315, CGetNextTimeRangeRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetNextTimeRangeRequest>(id);
             std::vector<TimeRangeItem> ranges = {Range("0 0 8 * * ?", 3600),
                                                  Range("0 0 20 * * ?", v == 2 ? 60 : 7200)};
             if (v == 1) ranges.pop_back();
             m->SetRanges(ranges);
             m->SetFromTime(v == 3 ? Utc(2031, 1, 1) : Utc(2030, 5, 1, 10));
             return m;
         },
         4},
        {"GetRemainingTimeBySpecRequest", 317, CGetRemainingTimeBySpecRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetRemainingTimeBySpecRequest>(id);
             m->SetTimeEvent(Event(v == 1 ? "0 0 * * * ?" : "0 30 * * * ?"));
             return m;
         },
         2},
        {"GetRemainingTimeByUserDataRequest", 318, CGetRemainingTimeByUserDataRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetRemainingTimeByUserDataRequest>(id);
             m->SetUserData(UserData(v, 1, 2));
             return m;
         },
         3},
        {"RegisterSleepEvent", 320, CRegisterSleepEvent::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CRegisterSleepEvent>(id);
             m->SetSleepSeconds(v == 1 ? 31 : 30);
             m->SetUserData(UserData(v, 2, 3));
             return m;
         },
         4},
        {"RegisterTimeEvent", 321, CRegisterTimeEvent::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CRegisterTimeEvent>(id);
             m->SetTimeEvent(Event(v == 1 ? "0 0 * * * ?" : "0 30 * * * ?"));
             m->SetUserData(UserData(v, 2, 3));
             return m;
         },
         4},
        {"UnregisterTimeEvent", 323, CUnregisterTimeEvent::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CUnregisterTimeEvent>(id);
             m->SetUserData(UserData(v, 1, 2));
             return m;
         },
         3},
        {"ValidateTimeEvent", 324, CValidateTimeEvent::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CValidateTimeEvent>(id);
             m->SetTimeEvent(Event(v == 1 ? "0 0 * * * ?" : "0 30 * * * ?"));
             m->SetTimeZoneSlack(v != 2);
             return m;
         },
         3},
        {"GetLastTickRequest", 556, CGetLastTickRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetLastTickRequest>(id);
             m->SetTimeEvent(Event(v == 1 ? "0 0 * * * ?" : "0 30 * * * ?"));
             return m;
         },
         2},
        {"GetAllTimeZoneDetailsRequest", 632, CGetAllTimeZoneDetailsRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetAllTimeZoneDetailsRequest>(id);
             m->SetLocaleName(v == 1 ? "fr_FR" : "de_DE");
             return m;
         },
         2},
        {"GetTimeZoneDetailsRequest", 634, CGetTimeZoneDetailsRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetTimeZoneDetailsRequest>(id);
             m->SetLocaleName(v == 1 ? "fr_FR" : "de_DE");
             m->SetTimeZoneId(v == 2 ? "Asia/Tokyo" : "Europe/Berlin");
             m->SetAtTime(v == 3 ? Utc(2031, 1, 1) : Utc(2030, 5, 1, 10));
             m->SetTranslatorFlag(v != 4);
             return m;
         },
         5},
        {"GetNextOccurrencesByUserDataRequest", 754, CGetNextOccurrencesByUserDataRequest::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetNextOccurrencesByUserDataRequest>(id);
             m->SetFromTime(v == 1 ? Utc(2031, 1, 1) : Utc(2030, 5, 1, 10));
             m->SetCount(v == 2 ? 6 : 5);
             m->SetUserData(UserData(v, 3, 4));
             return m;
         },
         5},
        {"GetNextTimeRangeResponse", 316, CGetNextTimeRangeResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetNextTimeRangeResponse>(id);
             m->SetRangeStart(v == 1 ? Utc(2030, 5, 1, 9) : Utc(2030, 5, 1, 8));
             m->SetRangeEnd(v == 2 ? Utc(2030, 5, 1, 10) : Utc(2030, 5, 1, 9));
             m->SetFound(v != 3);
             return m;
         },
         4},
        {"GetRemainingTimeResponse", 319, CGetRemainingTimeResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetRemainingTimeResponse>(id);
             m->SetRemainingSeconds(v == 1 ? 61 : 60);
             if (v != 3) m->SetNextTick(At(v == 2 ? "2030-05-01 10:02:00" : "2030-05-01 10:01:00"));
             return m;
         },
         4},
        {"RegisterTimeEventResponse", 322, CRegisterTimeEventResponse::kType,
         [](std::uint32_t id, int) { return std::make_shared<CRegisterTimeEventResponse>(id); }, 1},
        {"ValidateTimeEventResponse", 325, CValidateTimeEventResponse::kType,
         [](std::uint32_t id, int) { return std::make_shared<CValidateTimeEventResponse>(id); }, 1},
        {"GetLastTickResponse", 557, CGetLastTickResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetLastTickResponse>(id);
             m->SetNoLastTick(v == 1);
             if (v != 3) m->SetLastTick(At(v == 2 ? "2031-01-01 00:00:00" : "2030-12-31 23:00:00"));
             return m;
         },
         4},
        {"GetAllTimeZoneDetailsResponse", 633, CGetAllTimeZoneDetailsResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetAllTimeZoneDetailsResponse>(id);
             std::vector<TimeZoneDetails> zones = {Zone("Europe/Berlin"),
                                                   Zone(v == 2 ? "Asia/Tokyo" : "Europe/Paris")};
             if (v == 1) zones.pop_back();
             if (v == 3) std::swap(zones[0], zones[1]);
             m->SetDetailsList(zones);
             return m;
         },
         4},
        {"GetTimeZoneDetailsResponse", 635, CGetTimeZoneDetailsResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetTimeZoneDetailsResponse>(id);
             m->SetDetails(Zone(v == 1 ? "Asia/Tokyo" : "Europe/Berlin"));
             return m;
         },
         2},
        {"GetNextOccurrencesByUserDataResponse", 755, CGetNextOccurrencesByUserDataResponse::kType,
         [](std::uint32_t id, int v) {
             auto m = std::make_shared<CGetNextOccurrencesByUserDataResponse>(id);
             std::vector<UTCTime> times = {Utc(2030, 5, 1, 10), Utc(2030, 5, 1, v == 2 ? 12 : 11)};
             if (v == 1) times.pop_back();
             if (v == 3) times.clear();
             m->SetOccurrences(times);
             return m;
         },
         4},
        {"CResponseException", 1, Module::CResponseException::kType,
         [](std::uint32_t id, int) { return std::make_shared<Module::CResponseException>(id); }, 1},
    };
    return cases;
}

TEST(SchedulerMessageCatalogueTest, TypeNumbersAndNames) {
    for (const auto& c : MessageCases()) {
        SCOPED_TRACE(c.name);
        const auto message = c.make(1, 0);
        EXPECT_EQ(message->GetType(), c.type);
        EXPECT_EQ(c.typeConstant, c.type);
        EXPECT_EQ(message->GetTypeName(), c.name);
    }
}

TEST(SchedulerMessageEqualityTest,
     EqualContentIsEqualAndHashesAlikeWhateverRequestIdAndReadOnlyFlag) {
    for (const auto& c : MessageCases()) {
        for (int variant = 0; variant < c.variants; ++variant) {
            SCOPED_TRACE(c.name + " variant " + std::to_string(variant));
            const auto message = c.make(1, variant);
            const auto twin = c.make(2, variant);
            if (auto* writable = dynamic_cast<CWriteControl*>(twin.get())) writable->SetReadOnly();
            EXPECT_TRUE(message->IsEqual(twin));
            EXPECT_TRUE(twin->IsEqual(message));
            EXPECT_EQ(message->GetHash(), twin->GetHash());
        }
    }
}

TEST(SchedulerMessageEqualityTest, ContentThatDiffersInOneFieldIsNotEqualAndHashesApart) {
    for (const auto& c : MessageCases()) {
        const auto reference = c.make(1, 0);
        for (int variant = 1; variant < c.variants; ++variant) {
            SCOPED_TRACE(c.name + " variant " + std::to_string(variant));
            const auto changed = c.make(1, variant);
            EXPECT_FALSE(reference->IsEqual(changed));
            EXPECT_FALSE(changed->IsEqual(reference));
            // Registries index messages by their hash: content must spread them.
            EXPECT_NE(reference->GetHash(), changed->GetHash());
        }
    }
}

TEST(SchedulerMessageEqualityTest, NullAndMessagesOfOtherClassesAreNeverEqual) {
    const auto& cases = MessageCases();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto message = c.make(1, 0);
        EXPECT_FALSE(message->IsEqual(nullptr));
        EXPECT_FALSE(message->IsEqual(Key(1)));
        for (const auto& other : cases) {
            if (&other != &c) {
                EXPECT_FALSE(message->IsEqual(other.make(1, 0))) << "against " << other.name;
            }
        }
    }
}

TEST(SchedulerMessageEqualityTest, UserDataIsComparedByTheStoredUserData) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<IMessage>(std::shared_ptr<IMessage>)> make;
    };
    auto with = [](auto request) {
        return [request](std::shared_ptr<IMessage> userData) {
            auto message = request();
            message->SetUserData(std::move(userData));
            return std::shared_ptr<IMessage>(message);
        };
    };
    const std::vector<Case> cases = {
        {"318", with([] { return std::make_shared<CGetRemainingTimeByUserDataRequest>(); })},
        {"320", with([] { return std::make_shared<CRegisterSleepEvent>(); })},
        {"321", with([] { return std::make_shared<CRegisterTimeEvent>(); })},
        {"323", with([] { return std::make_shared<CUnregisterTimeEvent>(); })},
        {"754", with([] { return std::make_shared<CGetNextOccurrencesByUserDataRequest>(); })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.make(Key(7))->IsEqual(c.make(Key(7))));
        EXPECT_TRUE(c.make(nullptr)->IsEqual(c.make(nullptr)));
        EXPECT_TRUE(c.make(std::make_shared<CWildcard>())->IsEqual(c.make(Key(7))));
        EXPECT_FALSE(c.make(Key(7))->IsEqual(c.make(std::make_shared<CWildcard>())));
    }
}

TEST(SchedulerResponseTest, StartWritableWithEmptyOrNotADateTimeFields) {
    const CGetRemainingTimeResponse remaining(1);
    EXPECT_FALSE(remaining.IsReadOnly());
    EXPECT_EQ(remaining.GetRemainingSeconds(), 0);
    EXPECT_TRUE(remaining.GetNextTick().is_not_a_date_time());

    const CGetLastTickResponse lastTick(1);
    EXPECT_FALSE(lastTick.GetNoLastTick());
    EXPECT_TRUE(lastTick.GetLastTick().is_not_a_date_time());

    const CGetNextTimeRangeResponse range(1);
    EXPECT_FALSE(range.GetFound());
    EXPECT_EQ(range.GetRangeStart().ByteSizeLong(), 0u);
    EXPECT_EQ(range.GetRangeEnd().ByteSizeLong(), 0u);

    EXPECT_TRUE(CGetNextOccurrencesByUserDataResponse(1).GetOccurrences().empty());
    EXPECT_TRUE(CGetAllTimeZoneDetailsResponse(1).GetDetailsList().empty());
    EXPECT_EQ(CGetTimeZoneDetailsResponse(1).GetDetails().ByteSizeLong(), 0u);
}

struct ReadOnlyCase {
    std::string name;
    std::function<std::shared_ptr<CResponse>()> make;
    std::vector<std::function<void(CResponse&)>> setters;
};

// Setters that each give a fresh `T` another content.
template <class T>
ReadOnlyCase SettersOf(std::vector<std::function<void(T&)>> setters) {
    ReadOnlyCase result{T(0).GetTypeName(), [] { return std::make_shared<T>(1); }, {}};
    for (auto& set : setters) {
        result.setters.push_back([set](CResponse& response) { set(static_cast<T&>(response)); });
    }
    return result;
}

TEST(SchedulerResponseTest, SettersOfAReadOnlyResponseThrowAndChangeNothing) {
    const std::vector<ReadOnlyCase> cases = {
        SettersOf<CGetNextTimeRangeResponse>({
            [](auto& r) { r.SetRangeStart(Utc(2030, 5, 1, 8)); },
            [](auto& r) { r.SetRangeEnd(Utc(2030, 5, 1, 9)); },
            [](auto& r) { r.SetFound(true); },
        }),
        SettersOf<CGetRemainingTimeResponse>({
            [](auto& r) { r.SetRemainingSeconds(60); },
            [](auto& r) { r.SetNextTick(At("2030-05-01 10:01:00")); },
        }),
        SettersOf<CGetLastTickResponse>({
            [](auto& r) { r.SetNoLastTick(true); },
            [](auto& r) { r.SetLastTick(At("2030-12-31 23:00:00")); },
        }),
        SettersOf<CGetAllTimeZoneDetailsResponse>({
            [](auto& r) { r.SetDetailsList({Zone("Europe/Berlin")}); },
        }),
        SettersOf<CGetTimeZoneDetailsResponse>({
            [](auto& r) { r.SetDetails(Zone("Europe/Berlin")); },
        }),
        SettersOf<CGetNextOccurrencesByUserDataResponse>({
            [](auto& r) { r.SetOccurrences({Utc(2030, 5, 1, 10)}); },
        }),
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < c.setters.size(); ++i) {
            SCOPED_TRACE(c.name + " setter " + std::to_string(i));
            const auto fresh = c.make();

            const auto writable = c.make();
            c.setters[i](*writable);
            EXPECT_FALSE(writable->IsEqual(fresh)) << "the setter must change something";

            const auto readOnly = c.make();
            readOnly->SetReadOnly();
            try {
                c.setters[i](*readOnly);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Message is read only");
            }
            EXPECT_TRUE(readOnly->IsEqual(fresh));
        }
    }
}

}  // namespace
}  // namespace Zent::Common::Message::Scheduler
