// scheduler-host serve, the transport only: the JSON form of requests and user data, read
// in process; then the real host over pipes for the framing, the JSON of replies, ticks
// and error records, and the end of a session. What the module answers is tested in
// process with the module.

#include <algorithm>
#include <map>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <boost/json.hpp>

#include "common/message/Request.h"
#include "common/message/scheduler/GetAllTimeZoneDetailsRequest.h"
#include "common/message/scheduler/GetLastTickRequest.h"
#include "common/message/scheduler/GetLastTickResponse.h"
#include "common/message/scheduler/GetNextOccurrencesByUserDataRequest.h"
#include "common/message/scheduler/GetNextTimeRangeRequest.h"
#include "common/message/scheduler/GetRemainingTimeBySpecRequest.h"
#include "common/message/scheduler/GetRemainingTimeByUserDataRequest.h"
#include "common/message/scheduler/GetTimeZoneDetailsRequest.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/RegisterTimeEvent.h"
#include "common/message/scheduler/RegisterTimeEventResponse.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "common/message/scheduler/ValidateTimeEvent.h"
#include "common/module/ResponseException.h"
#include "tests/tools/ToolRun.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/JsonUserData.h"

namespace Zent::ToolTests {
namespace {

namespace Messages = Common::Message::Scheduler;
using namespace Tools::SchedulerHost;
using JsonObject = boost::json::object;

// One request of each kind with every one of its fields set, by type.
std::vector<std::pair<std::int32_t, std::string>> EveryRequestKind() {
    const std::string event = R"("timeEvent": {"timespecification": "0 0 12 * * ?"})";
    const std::string data = R"("userData": {"job": "backup"})";
    const std::string at = R"({"year": 2030, "month": 1, "day": 2, "hour": 3, "minute": 4,
                               "second": 5})";
    return {
        {Messages::CGetNextTimeRangeRequest::kType,
         R"("ranges": [{"durationseconds": 60}], "fromTime": )" + at},
        {Messages::CGetRemainingTimeBySpecRequest::kType, event},
        {Messages::CGetRemainingTimeByUserDataRequest::kType, data},
        {Messages::CRegisterSleepEvent::kType, R"("sleepSeconds": 5, )" + data},
        {Messages::CRegisterTimeEvent::kType, event + ", " + data},
        {Messages::CUnregisterTimeEvent::kType, data},
        {Messages::CValidateTimeEvent::kType, event + R"(, "timeZoneSlack": true)"},
        {Messages::CGetLastTickRequest::kType, event},
        {Messages::CGetAllTimeZoneDetailsRequest::kType, R"("localeName": "de")"},
        {Messages::CGetTimeZoneDetailsRequest::kType,
         R"("localeName": "de", "timeZoneId": "Europe/Berlin", "translatorFlag": true,
            "atTime": )" +
             at},
        {Messages::CGetNextOccurrencesByUserDataRequest::kType,
         R"("count": 3, "fromTime": )" + at + ", " + data},
    };
}

TEST(ServeJsonTest, EveryRequestIsReadByNameOrTypeNumberWithEachOfItsFields) {
    const auto kinds = EveryRequestKind();
    const std::vector<RequestType>& known = RequestTypes();
    ASSERT_EQ(known.size(), kinds.size());
    for (const auto& [type, fields] : kinds) {
        const auto kind = std::find_if(known.begin(), known.end(),
                                       [&](const RequestType& each) { return each.type == type; });
        ASSERT_NE(kind, known.end()) << type;
        const auto object = [&](const std::string& typeJson) {
            return boost::json::parse(R"({"id": 7, "user": "alice", "type": )" + typeJson + ", " +
                                      fields + "}")
                .as_object();
        };
        const JsonObject byName = object('"' + kind->name + '"');
        const JsonRequest request = RequestFromJson(byName);
        EXPECT_EQ(request.message->GetType(), type);
        EXPECT_EQ(
            std::dynamic_pointer_cast<Common::Message::CRequest>(request.message)->GetRequestId(),
            7u);
        EXPECT_EQ(request.user, "alice");
        EXPECT_TRUE(
            request.message->IsEqual(RequestFromJson(object(std::to_string(type))).message));
        for (const std::string& field : kind->fields) {
            JsonObject without = byName;
            EXPECT_EQ(without.erase(field), 1u) << kind->name << ": no " << field << " above";
            EXPECT_FALSE(request.message->IsEqual(RequestFromJson(without).message))
                << kind->name << " drops " << field;
        }
    }
}

TEST(ServeJsonTest, UserDataIsEqualWhateverTheOrderOfItsKeysButNotOfItsLists) {
    const auto userData = CJsonUserData::Parse(R"({"b": [1, {"y": 2, "x": 1}], "a": "text"})");
    const auto reordered = CJsonUserData::Parse(R"({"a":"text","b":[1,{"x":1.0,"y":2}]})");
    EXPECT_TRUE(userData->IsEqual(reordered));
    EXPECT_EQ(userData->GetHash(), reordered->GetHash());
    EXPECT_FALSE(userData->IsEqual(CJsonUserData::Parse(R"({"a":"text","b":[{"x":1,"y":2},1]})")));
}

std::vector<JsonObject> Objects(const ToolRun& run) {
    std::vector<JsonObject> objects;
    for (const std::string& line : run.lines)
        objects.push_back(boost::json::parse(line).as_object());
    return objects;
}

// `json` as one input line: the line breaks of the literals below become blanks.
std::string Line(std::string json) {
    std::replace(json.begin(), json.end(), '\n', ' ');
    return json + "\n";
}

std::string Registration(int id) {
    return Line(R"({"type": "RegisterTimeEvent", "id": )" + std::to_string(id) +
                R"(, "userData": )" + std::to_string(id) +
                R"(, "timeEvent": {"timespecification": "0 0 12 * * ?"}})");
}

// Every error line has these keys in this order, null where they do not apply.
const std::vector<std::string> kErrorKeys = {"kind",      "time", "type",  "name", "id",  "user",
                                             "exception", "code", "group", "text", "line"};

void ExpectErrorShape(const JsonObject& error) {
    std::vector<std::string> keys;
    for (const auto& member : error)
        keys.emplace_back(member.key());
    EXPECT_EQ(keys, kErrorKeys);
}

TEST(SchedulerHostServeTest, LinesThatCannotBeServedGetAnErrorRecordAndTheRestIsAnswered) {
    std::string input =
        Line("this is not JSON") + Line(R"(["a", "list"])") +
        Line(R"({"type": "RegisterTimeEvnt", "id": 3, "user": "bob"})") + Line(R"({"id": 4})") +
        Line(R"({"type": "RegisterTimeEvent", "id": 5, "timeEvnt": {}})") +
        Line(R"({"type": "GetNextTimeRangeRequest", "id": 6,
                                 "fromTime": {"year": 1}})") +
        Line(R"({"type": "RegisterTimeEvent", "id": 7, "user": "alice", "userData": 7,
                                 "timeEvent": {"timespecification": "0 0 12 * *"}})");
    // Registrations still in flight at the end of the input are answered before the end.
    for (int id = 100; id < 120; ++id)
        input += Registration(id);
    const ToolRun run = RunTool(SCHEDULER_HOST " serve", input);
    EXPECT_EQ(run.status, 0) << run.errors;

    // Input line, request id (0: none), user, text.
    const std::vector<std::tuple<int, int, std::string, std::string>> expected = {
        {1, 0, "", "not JSON"},
        {2, 0, "", "not a JSON object"},
        {3, 3, "bob", R"(unknown type "RegisterTimeEvnt")"},
        {4, 4, "", R"(missing "type")"},
        {5, 5, "", R"(unknown field "timeEvnt" for RegisterTimeEvent)"},
        {6, 6, "", R"("fromTime" is not a valid UTCTime)"},
    };
    std::vector<JsonObject> hostErrors, replies;
    for (const JsonObject& line : Objects(run)) {
        const boost::json::value* exception = line.if_contains("exception");
        (exception && *exception == "HostError" ? hostErrors : replies).push_back(line);
    }
    ASSERT_EQ(hostErrors.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& [lineNumber, id, user, text] = expected[i];
        const JsonObject& error = hostErrors[i];
        ExpectErrorShape(error);
        EXPECT_EQ(error.at("line"), lineNumber);
        EXPECT_EQ(error.at("id"), id == 0 ? boost::json::value() : boost::json::value(id));
        EXPECT_EQ(error.at("user"), user.empty() ? boost::json::value() : boost::json::value(user));
        EXPECT_TRUE(error.at("type").is_null());
        EXPECT_NE(error.at("text").as_string().find(text), std::string::npos) << error;
    }

    ASSERT_EQ(replies.size(), 21u);
    const JsonObject& refused = replies.front();
    ExpectErrorShape(refused);
    EXPECT_EQ(refused.at("type"), Common::Module::CResponseException::kType);
    EXPECT_EQ(refused.at("name"), "CResponseException");
    EXPECT_EQ(refused.at("id"), 7);
    EXPECT_EQ(refused.at("user"), "alice");
    EXPECT_EQ(refused.at("exception"), "CFormatException");
    EXPECT_EQ(refused.at("code"), 6);
    EXPECT_EQ(refused.at("group"), 5);
    EXPECT_EQ(refused.at("text"), "Invalid crontab string");
    EXPECT_TRUE(refused.at("line").is_null());
    for (int id = 100; id < 120; ++id) {
        EXPECT_EQ(replies[id - 99].at("id"), id);
        EXPECT_EQ(replies[id - 99].at("type"), Messages::CRegisterTimeEventResponse::kType);
    }
}

TEST(SchedulerHostServeTest, RepliesAndTicksCarryTheirRequesterAndLingerLetsTicksArrive) {
    const std::string input =
        Line(R"({"type": "RegisterTimeEvent", "id": 1, "user": "alice",
                 "userData": {"owner": "alice", "list": [1, 2.5, null]},
                 "timeEvent": {"timespecification": "* * * * * ?", "utclocal": true,
                               "range": {"rangedefinitionoccurences": 2}}})") +
        Line(R"({"type": "RegisterSleepEvent", "id": 2, "user": "bob", "sleepSeconds": 1,
                 "userData": {"owner": "bob"}})") +
        Line(R"({"type": "GetLastTickRequest", "id": 3,
                 "timeEvent": {"timespecification": "0 0 12 L * ? 2030", "utclocal": true}})");
    const ToolRun run = RunTool(SCHEDULER_HOST " serve --linger 4", input);
    EXPECT_EQ(run.status, 0) << run.errors;

    std::vector<JsonObject> responses;
    std::map<std::string, int> ticks;
    for (std::size_t i = 0; i < run.lines.size(); ++i) {
        const JsonObject line = boost::json::parse(run.lines[i]).as_object();
        if (line.at("kind") == "response") {
            responses.push_back(line);
            continue;
        }
        ASSERT_EQ(line.at("kind"), "tick") << line;
        EXPECT_EQ(line.at("type"), CJsonUserData::kType);
        EXPECT_EQ(line.at("name"), "JsonUserData");
        EXPECT_TRUE(std::regex_match(std::string(line.at("time").as_string()),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
        EXPECT_EQ(line.at("userData").at("owner"), line.at("user"));
        ++ticks[std::string(line.at("user").as_string())];
        if (line.at("user") == "alice") {
            EXPECT_NE(run.lines[i].find(R"("userData":{"list":[1,2.5,null],"owner":"alice"})"),
                      std::string::npos)
                << "user data is written in its canonical form";
        }
    }
    EXPECT_EQ(ticks, (std::map<std::string, int>{{"alice", 2}, {"bob", 1}}));
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[0].at("type"), Messages::CRegisterTimeEventResponse::kType);
    EXPECT_EQ(responses[0].at("id"), 1);
    EXPECT_EQ(responses[0].at("user"), "alice");
    EXPECT_EQ(responses[1].at("type"), Messages::CGetLastTickResponse::kType);
    EXPECT_TRUE(responses[1].at("user").is_null());
    EXPECT_EQ(responses[1].at("lastTick"), "2030-12-31T12:00:00Z");
    EXPECT_EQ(responses[1].at("noLastTick"), false);
}

TEST(SchedulerHostServeTest, SigtermWhileTheInputIsOpenAnswersEveryLineReadAndEndsWithZero) {
    std::string input;
    for (int id = 1; id <= 50; ++id)
        input += Registration(id);
    const ToolRun run = RunTool(SCHEDULER_HOST " serve --log-level 2", input, "-s TERM 2", 4);
    EXPECT_EQ(run.status, 0) << run.errors;
    std::smatch read;
    ASSERT_TRUE(std::regex_search(run.errors, read,
                                  std::regex("Received SIGTERM after ([0-9]+) input lines")))
        << run.errors;
    EXPECT_EQ(run.lines.size(), std::stoul(read[1]));
    EXPECT_NE(run.errors.find("Unloaded SchedulerModule"), std::string::npos) << run.errors;
}

}  // namespace
}  // namespace Zent::ToolTests
