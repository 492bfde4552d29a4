// scheduler-host serve driven as a program drives it: JSON lines through pipes, with the
// real plug-in loaded by the substitute kernel.

#include <algorithm>
#include <chrono>
#include <csignal>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <boost/json/src.hpp>

#include "tests/tools/ToolProcess.h"

namespace Zent::ToolTests {
namespace {

using JsonObject = boost::json::object;
using namespace std::chrono_literals;

constexpr auto kPatience = 5s;

// One output line, parsed; a line that is not a JSON object fails the test.
JsonObject Parse(const std::string& line) {
    boost::json::error_code error;
    boost::json::value value = boost::json::parse(line, error);
    EXPECT_TRUE(!error && value.is_object()) << "not a JSON object: " << line;
    return value.is_object() ? value.get_object() : JsonObject();
}

// The value under `key`; null when there is none.
const boost::json::value& Field(const JsonObject& object, const std::string& key) {
    static const boost::json::value missing;
    const boost::json::value* value = object.if_contains(key);
    return value == nullptr ? missing : *value;
}

// The object under `key`; an empty one when there is none.
JsonObject Object(const JsonObject& object, const std::string& key) {
    const boost::json::value& value = Field(object, key);
    return value.is_object() ? value.get_object() : JsonObject();
}

std::string Text(const JsonObject& object, const std::string& key) {
    const boost::json::value& value = Field(object, key);
    return value.is_string() ? std::string(value.get_string()) : std::string();
}

double Number(const JsonObject& object, const std::string& key) {
    const boost::json::value& value = Field(object, key);
    return value.is_number() ? value.to_number<double>() : -1;
}

bool Bool(const JsonObject& object, const std::string& key) {
    const boost::json::value& value = Field(object, key);
    return value.is_bool() && value.get_bool();
}

bool IsNull(const JsonObject& object, const std::string& key) {
    const boost::json::value* value = object.if_contains(key);
    return value != nullptr && value->is_null();
}

// The one shape of every error line: these keys, in this order.
const std::vector<std::string> kErrorKeys = {"kind",      "time", "type",  "name", "id",  "user",
                                             "exception", "code", "group", "text", "line"};

std::vector<std::string> KeysOf(const JsonObject& object) {
    std::vector<std::string> keys;
    for (const auto& member : object)
        keys.emplace_back(member.key());
    return keys;
}

bool IsIsoTime(const std::string& text, bool milliseconds) {
    static const std::regex withMilliseconds(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
    static const std::regex wholeSeconds(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)");
    return std::regex_match(text, milliseconds ? withMilliseconds : wholeSeconds);
}

class SchedulerHostServeTest : public testing::Test {
protected:
    void Start(std::vector<std::string> options = {}) {
        options.insert(options.begin(), "serve");
        host_.emplace(SCHEDULER_HOST, options);
    }

    // Sends `request` as one line: the line breaks of the literals below become blanks.
    void Send(std::string request) {
        std::replace(request.begin(), request.end(), '\n', ' ');
        host_->WriteLine(request);
    }

    // The next output line; fails the test when none comes in time.
    JsonObject Next() {
        const std::optional<std::string> line = host_->ReadLine(kPatience);
        if (!line) {
            ADD_FAILURE() << "no output line in time; standard error:\n" << host_->ErrorText();
            return {};
        }
        return Parse(*line);
    }

    // Closes the input and expects the host to end with status 0, having written nothing
    // more than `remaining` returns.
    std::vector<JsonObject> Finish() {
        host_->CloseInput();
        std::vector<JsonObject> remaining;
        for (const std::string& line : host_->ReadAllLines(kPatience))
            remaining.push_back(Parse(line));
        EXPECT_EQ(host_->Wait(kPatience), 0) << host_->ErrorText();
        return remaining;
    }

    // A module's error reply for request `id`.
    void ExpectError(const JsonObject& reply, double id, const std::string& exception,
                     const std::string& text) {
        EXPECT_EQ(KeysOf(reply), kErrorKeys);
        EXPECT_TRUE(IsIsoTime(Text(reply, "time"), true)) << Text(reply, "time");
        EXPECT_EQ(Text(reply, "kind"), "error");
        EXPECT_EQ(Number(reply, "type"), 1);
        EXPECT_EQ(Text(reply, "name"), "CResponseException");
        EXPECT_EQ(Number(reply, "id"), id);
        EXPECT_EQ(Text(reply, "exception"), exception);
        EXPECT_EQ(Text(reply, "text"), text);
        EXPECT_TRUE(IsNull(reply, "line"));
    }

    // The host's own error line: the same shape, without a type; `id` -1 for none.
    void ExpectHostError(const JsonObject& error, double id, const std::string& text) {
        EXPECT_EQ(KeysOf(error), kErrorKeys);
        EXPECT_EQ(Text(error, "kind"), "error");
        EXPECT_TRUE(IsNull(error, "type"));
        EXPECT_EQ(Text(error, "exception"), "HostError");
        if (id < 0)
            EXPECT_TRUE(IsNull(error, "id"));
        else
            EXPECT_EQ(Number(error, "id"), id);
        EXPECT_NE(Text(error, "text").find(text), std::string::npos) << Text(error, "text");
    }

    std::optional<CToolProcess> host_;
};

TEST_F(SchedulerHostServeTest, RegistrationsAreAnsweredAndTickWithTheirUserDataAndRequester) {
    Start();
    Send(R"({"type": "RegisterTimeEvent", "id": 1, "user": "alice",
             "timeEvent": {"timespecification": "* * * * * ?", "utclocal": true,
                           "range": {"rangedefinitionoccurences": 2}},
             "userData": {"owner": "alice", "list": [1, 2.5, null]}})");
    Send(R"({"type": 321, "id": 2, "user": "bob",
             "timeEvent": {"timespecification": "* * * * * ?", "utclocal": true,
                           "range": {"rangedefinitionoccurences": 2}},
             "userData": {"owner": "bob"}})");

    std::map<double, std::string> responses;
    std::map<std::string, int> ticks;
    while (responses.size() + ticks["alice"] + ticks["bob"] < 6 && !HasFailure()) {
        const JsonObject line = Next();
        if (Text(line, "kind") == "response") {
            EXPECT_EQ(Number(line, "type"), 322);
            EXPECT_EQ(Text(line, "name"), "RegisterTimeEventResponse");
            responses[Number(line, "id")] = Text(line, "user");
        } else {
            ASSERT_EQ(Text(line, "kind"), "tick");
            EXPECT_EQ(Number(line, "type"), 7100);
            EXPECT_EQ(Text(line, "name"), "JsonUserData");
            EXPECT_TRUE(IsIsoTime(Text(line, "time"), true)) << Text(line, "time");
            const JsonObject userData = Object(line, "userData");
            EXPECT_EQ(Text(userData, "owner"), Text(line, "user"));
            if (Text(line, "user") == "alice") {
                EXPECT_EQ(Field(userData, "list").as_array().size(), 3);
            }
            ++ticks[Text(line, "user")];
        }
    }
    EXPECT_EQ(responses, (std::map<double, std::string>{{1, "alice"}, {2, "bob"}}));
    EXPECT_EQ(ticks["alice"], 2);
    EXPECT_EQ(ticks["bob"], 2);
    Finish();
}

TEST_F(SchedulerHostServeTest, FiveFieldCrontabIsAnsweredWithTheFormatError) {
    Start();
    Send(R"({"type": "RegisterTimeEvent", "id": 7, "user": "alice",
             "timeEvent": {"timespecification": "0 0 12 * *"}, "userData": "noon"})");
    const JsonObject reply = Next();
    ExpectError(reply, 7, "CFormatException", "Invalid crontab string");
    EXPECT_EQ(Number(reply, "code"), 6);
    EXPECT_EQ(Number(reply, "group"), 5);
    EXPECT_EQ(Text(reply, "user"), "alice");
    EXPECT_TRUE(Finish().empty());
}

TEST_F(SchedulerHostServeTest, MalformedLinesGetAnErrorLineAndTheHostGoesOn) {
    Start();
    Send("this is not JSON");
    Send(R"(["a", "list"])");
    Send(R"({"type": "RegisterTimeEvnt", "id": 3})");
    Send(R"({"type": 321, "id": 4, "timeEvnt": {}})");
    Send(R"({"type": 556, "id": 5.5})");
    Send(R"({"type": 315, "id": 6, "fromTime": {"year": 2030}})");
    Send(R"({"control": "restart"})");
    Send(R"({"type": "GetLastTickRequest", "id": 8,
             "timeEvent": {"timespecification": "0 0 12 L * ? 2030", "utclocal": true}})");

    // Line number, the request id when it could be read (-1: none), reason.
    const std::vector<std::tuple<double, double, std::string>> expected = {
        {1, -1, "not JSON"},
        {2, -1, "not a JSON object"},
        {3, 3, "unknown type \"RegisterTimeEvnt\""},
        {4, 4, "unknown field \"timeEvnt\" for RegisterTimeEvent"},
        {5, -1, "\"id\" must be a whole number"},
        {6, 6, "\"fromTime\" is not a valid UTCTime"},
        {7, -1, "unknown control \"restart\""},
    };
    for (const auto& [lineNumber, id, reason] : expected) {
        const JsonObject error = Next();
        EXPECT_EQ(Number(error, "line"), lineNumber);
        ExpectHostError(error, id, reason);
    }
    const JsonObject answer = Next();
    EXPECT_EQ(Text(answer, "kind"), "response");
    EXPECT_EQ(Number(answer, "id"), 8);
    EXPECT_EQ(Text(answer, "lastTick"), "2030-12-31T12:00:00Z");
    EXPECT_FALSE(Bool(answer, "noLastTick"));
    EXPECT_TRUE(Finish().empty());
}

TEST_F(SchedulerHostServeTest, SleepEventTicksOnceWithoutAnAnswer) {
    Start();
    Send(R"({"type": "RegisterSleepEvent", "id": 1, "user": "bob", "sleepSeconds": 1,
             "userData": "wake up"})");
    const JsonObject tick = Next();
    EXPECT_EQ(Text(tick, "kind"), "tick");
    EXPECT_EQ(Text(tick, "user"), "bob");
    EXPECT_EQ(Text(tick, "userData"), "wake up");
    EXPECT_TRUE(Finish().empty());
}

TEST_F(SchedulerHostServeTest, RemainingTimeOfUnknownUserDataIsNoEvent) {
    Start();
    Send(R"({"type": 318, "id": 11, "userData": {"never": "registered"}})");
    const JsonObject reply = Next();
    ExpectError(reply, 11, "CNoEventException", "User data not found.");
    EXPECT_EQ(Number(reply, "code"), 5);
    EXPECT_EQ(Number(reply, "group"), 5);
    EXPECT_TRUE(IsNull(reply, "user"));
    Finish();
}

TEST_F(SchedulerHostServeTest, UserDataIsFoundWhateverTheOrderOfItsKeys) {
    Start();
    Send(R"({"type": 321, "id": 1, "userData": {"b": [1, {"y": 2, "x": 1}], "a": "text"},
             "timeEvent": {"timespecification": "0 0 12 * * ?", "utclocal": true}})");
    Send(R"({"type": 318, "id": 2, "userData": {"a": "text", "b": [1, {"x": 1, "y": 2}]}})");
    EXPECT_EQ(Text(Next(), "name"), "RegisterTimeEventResponse");
    const JsonObject remaining = Next();
    EXPECT_EQ(Text(remaining, "name"), "GetRemainingTimeResponse");
    EXPECT_GT(Number(remaining, "remainingSeconds"), 0);
    EXPECT_TRUE(IsIsoTime(Text(remaining, "nextTick"), false)) << Text(remaining, "nextTick");
    Finish();
}

TEST_F(SchedulerHostServeTest, TimeZoneRequestWithoutTranslatorIsRefused) {
    Start({"--no-translator"});
    Send(R"({"type": "GetTimeZoneDetailsRequest", "id": 3, "timeZoneId": "Europe/Berlin",
             "localeName": "en",
             "atTime": {"year": 2030, "month": 7, "day": 1, "hour": 12, "minute": 0,
                        "second": 0}})");
    const JsonObject reply = Next();
    ExpectError(reply, 3, "CInterModuleExceptionDefault",
                "MsgGetTimeZoneDetails: Translator is not available.");
    EXPECT_TRUE(IsNull(reply, "code"));
    EXPECT_TRUE(IsNull(reply, "group"));
    Finish();
}

TEST_F(SchedulerHostServeTest, TimeZoneDetailsUseTheRecordsJsonMapping) {
    Start();
    Send(R"({"type": 634, "id": 4, "timeZoneId": "Europe/Berlin", "localeName": "en",
             "atTime": {"year": 2030, "month": 7, "day": 1, "hour": 12, "minute": 0,
                        "second": 0}})");
    const JsonObject reply = Next();
    EXPECT_EQ(Text(reply, "name"), "GetTimeZoneDetailsResponse");
    const JsonObject details = Object(reply, "details");
    EXPECT_EQ(Text(details, "zoneId"), "Europe/Berlin");
    EXPECT_EQ(Number(details, "standardOffsetSeconds"), 3600);
    EXPECT_EQ(Number(details, "currentOffsetSeconds"), 7200);
    EXPECT_TRUE(Bool(details, "daylightSaving"));
    Finish();
}

TEST_F(SchedulerHostServeTest, EndOfInputEndsTheHostAfterTheRepliesInFlight) {
    Start();
    // Registrations need a ticking scheduler: a host that shut down before they were
    // handled would get them refused.
    constexpr int kRequests = 30;
    for (int id = 1; id <= kRequests; ++id) {
        Send(R"({"type": 321, "id": )" + std::to_string(id) + R"(, "userData": )" +
             std::to_string(id) +
             R"(, "timeEvent": {"timespecification": "0 0 12 * * ?", "utclocal": true}})");
    }
    const std::vector<JsonObject> replies = Finish();
    ASSERT_EQ(replies.size(), static_cast<std::size_t>(kRequests));
    for (int id = 1; id <= kRequests; ++id) {
        const JsonObject& reply = replies[id - 1];
        EXPECT_EQ(Number(reply, "id"), id);
        EXPECT_EQ(Text(reply, "name"), "RegisterTimeEventResponse") << Text(reply, "text");
    }
}

TEST_F(SchedulerHostServeTest, LingerLetsTicksArriveAfterTheEndOfInput) {
    Start({"--linger", "2.5"});
    Send(R"({"type": 321, "id": 1, "user": "carol", "userData": 42,
             "timeEvent": {"timespecification": "* * * * * ?", "utclocal": true}})");
    const std::vector<JsonObject> lines = Finish();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(Text(lines[0], "name"), "RegisterTimeEventResponse");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(Text(lines[i], "kind"), "tick");
        EXPECT_EQ(Text(lines[i], "user"), "carol");
        EXPECT_EQ(Number(lines[i], "userData"), 42);
    }
}

TEST_F(SchedulerHostServeTest, ControlLinesDriveTheLifecycle) {
    Start({"--no-start"});
    Send(R"({"type": 556, "id": 1, "timeEvent": {"timespecification": "0 0 12 * * ?"}})");
    EXPECT_FALSE(host_->ReadLine(300ms)) << "answered before the module was started";
    Send(R"({"control": "start"})");
    EXPECT_EQ(Text(Next(), "control"), "start");
    const JsonObject lastTick = Next();
    EXPECT_EQ(Number(lastTick, "id"), 1);
    EXPECT_TRUE(Bool(lastTick, "noLastTick"));
    EXPECT_TRUE(IsNull(lastTick, "lastTick"));

    Send(R"({"control": "prepareShutdown"})");
    EXPECT_EQ(Text(Next(), "control"), "prepareShutdown");
    Send(R"({"type": 321, "id": 2, "userData": "late",
             "timeEvent": {"timespecification": "* * * * * ?"}})");
    ExpectError(Next(), 2, "CInterModuleExceptionDefault",
                "Scheduler is not ticking. Shutdown in progress. "
                "[Method=MsgRegisterTimeEvent;Message=JsonUserData]");

    // The host asks again while the module is still busy with the last reply.
    Send(R"({"control": "stop", "force": false})");
    const JsonObject stop = Next();
    EXPECT_EQ(Text(stop, "control"), "stop");
    EXPECT_FALSE(Bool(stop, "force"));
    EXPECT_TRUE(Bool(stop, "stopped"));

    // quit ends the host although its input stays open.
    Send(R"({"control": "quit"})");
    EXPECT_EQ(Text(Next(), "control"), "quit");
    EXPECT_EQ(host_->Wait(kPatience), 0) << host_->ErrorText();
    EXPECT_TRUE(host_->ReadAllLines(kPatience).empty());
}

TEST_F(SchedulerHostServeTest, EveryRequestGetsAnErrorLineWithItsIdOnceTheModuleIsStopped) {
    // Request 1 waits in the queue of a module not started; the forced stop drops it.
    Start({"--no-start"});
    Send(R"({"type": 556, "id": 1, "user": "alice",
             "timeEvent": {"timespecification": "0 0 12 * * ?"}})");
    Send(R"({"control": "stop", "force": true})");
    ExpectHostError(Next(), 1, "the module stopped before answering the request");
    EXPECT_TRUE(Bool(Next(), "stopped"));
    Send(R"({"type": 321, "id": 2, "userData": 2,
             "timeEvent": {"timespecification": "0 0 12 * * ?"}})");
    Send(R"({"type": 323, "id": 3, "userData": 2})");
    Send(R"({"control": "start"})");
    Send(R"({"type": 318, "id": 4, "userData": 2})");
    for (const double id : {2, 3}) {
        const JsonObject error = Next();
        ExpectHostError(error, id, "the module is stopped");
        EXPECT_EQ(Number(error, "line"), id + 1);
    }
    EXPECT_EQ(Text(Next(), "control"), "start");
    ExpectHostError(Next(), 4, "the module is stopped");
    EXPECT_TRUE(Finish().empty());
}

TEST_F(SchedulerHostServeTest, TerminationSignalAnswersEveryLineReadThenShutsDownInOrder) {
    for (const int signal : {SIGTERM, SIGINT}) {
        Start({"--log-level", "2"});
        constexpr int kRequests = 200;
        for (int id = 1; id <= kRequests; ++id) {
            Send(R"({"type": 321, "id": )" + std::to_string(id) + R"(, "userData": )" +
                 std::to_string(id) +
                 R"(, "timeEvent": {"timespecification": "0 0 12 * * ?", "utclocal": true}})");
        }
        // Replies are in flight when the signal comes.
        EXPECT_EQ(Number(Next(), "id"), 1);
        host_->Signal(signal);
        std::vector<double> ids = {1};
        for (const std::string& line : host_->ReadAllLines(kPatience))
            ids.push_back(Number(Parse(line), "id"));
        ASSERT_EQ(host_->Wait(kPatience), 0) << host_->ErrorText();

        const std::string log = host_->ErrorText();
        std::smatch read;
        ASSERT_TRUE(std::regex_search(
            log, read, std::regex("Received SIG(TERM|INT) after ([0-9]+) input lines")))
            << log;
        const int linesRead = std::stoi(read[2]);
        ASSERT_EQ(ids.size(), static_cast<std::size_t>(linesRead)) << "signal " << signal;
        std::sort(ids.begin(), ids.end());
        for (int id = 1; id <= linesRead; ++id)
            EXPECT_EQ(ids[id - 1], id);
        EXPECT_NE(log.find("Unloaded SchedulerModule"), std::string::npos);
    }
}

}  // namespace
}  // namespace Zent::ToolTests
