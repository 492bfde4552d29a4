#pragma once

// The JSON form of the scheduler's messages in scheduler-host's serve protocol: requests
// read from one JSON object each, and one JSON object for each message the module sends.
// An input line is a request or a control line; one that is neither gets an error line.
//
//     JsonRequest request = RequestFromJson(ParseJsonObject(
//         R"({"type": "RegisterTimeEvent", "id": 1, "user": "alice",
//             "timeEvent": {"timespecification": "*/2 * * * * ?", "utclocal": true},
//             "userData": {"job": "backup"}})"));
//     host.Send(request.message, users.ContextOf(*request.user));
//     ...
//     // observer: {"kind":"response","time":"2030-05-01T09:59:58.012Z","type":322,
//     //            "name":"RegisterTimeEventResponse","id":1,"user":"alice"}
//     if (auto line = MessageToJson(message, context, now)) Write(*line);
//
//     try {
//         auto decoded = LineFromJson(R"({"control": "stop", "force": true})");
//         std::get<JsonControl>(decoded).force;   // true
//     } catch (const std::exception& error) {
//         const LineIdentity identity = IdentityOf(text);
//         Write(ErrorLineJson(error.what(), lineNumber, identity.id, identity.user));
//     }
//
// docs/host-protocol.md describes every field. Records (TimeEvent, UTCTime, TimeRangeItem,
// TimeZoneDetails) use protobuf's JSON mapping in both directions; protobuf refuses a
// record that lacks a required field, such as a UTCTime without its seconds. Time points
// are written in ISO 8601 UTC, "YYYY-MM-DDTHH:MM:SSZ", or null for not-a-date-time; the
// time a line was written has milliseconds.
//
// Every error line has one shape, whether it reports the module's error reply or a
// request the host could not serve: "kind" "error", "time", "type", "name", "id",
// "user", "exception", "code", "group", "text" and "line", null where they do not apply.
// The host's own errors have the exception "HostError" and no type.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/json/object.hpp>

#include "common/kernel/ISubscriber.h"

namespace Zent::Tools::SchedulerHost {

struct JsonRequest {
    std::shared_ptr<Common::Kernel::IMessage> message;
    std::uint32_t id = 0;
    // The requester's user name; none: a context without a user.
    std::optional<std::string> user;
    // False for the two requests the scheduler never answers (CRegisterSleepEvent,
    // CUnregisterTimeEvent).
    bool answered = true;
};

// Builds the request that `object` describes. Throws std::invalid_argument naming what is
// wrong: no or an unknown "type", a field the type does not have, a value of the wrong
// kind or an invalid record.
JsonRequest RequestFromJson(const boost::json::object& object);

// A control line of the serve protocol.
struct JsonControl {
    // "start", "prepareShutdown", "stop" or "quit".
    std::string name;
    // Set for {"control": "stop", "force": true} only.
    bool force = false;
};

// Decodes one input line of serve: a control line (an object with "control") or a
// request. Throws std::invalid_argument naming what is wrong: not a JSON object, an
// unknown control or a field it does not have, or what RequestFromJson refuses.
std::variant<JsonRequest, JsonControl> LineFromJson(std::string_view text);

// The host's error line for a request or input line it cannot serve: `reason` as "text",
// the input line number, the request id and user name when they were read.
std::string ErrorLineJson(
    std::string_view reason, std::optional<std::size_t> lineNumber, std::optional<std::uint32_t> id,
    const std::optional<std::string>& user = std::nullopt,
    std::chrono::system_clock::time_point at = std::chrono::system_clock::now());

// What could be read of a line that cannot be served: its request id (a whole number in
// range under "id") and user name. Never throws; empty for a line that is not an object.
struct LineIdentity {
    std::optional<std::uint32_t> id;
    std::optional<std::string> user;
};
LineIdentity IdentityOf(std::string_view text) noexcept;

// The type numbers and names of the eleven requests, in type order.
struct RequestType {
    std::int32_t type;
    std::string name;
    std::vector<std::string> fields;
};
const std::vector<RequestType>& RequestTypes();

// True for the type number of one of the eleven requests.
bool IsSchedulerRequest(std::int32_t type);

// The output line for `message` as seen on the bus at `seenAt`: a response, an error reply,
// a tick (a CJsonUserData) or any other message. Nullopt for the scheduler's requests,
// which only the host sends.
std::optional<std::string> MessageToJson(const std::shared_ptr<Common::Kernel::IMessage>& message,
                                         const Common::Kernel::UserContextPtr& userContext,
                                         std::chrono::system_clock::time_point seenAt);

// The error line for a message the module sent that cannot be written as described, for
// `reason`.
std::string UnwritableMessageJson(const Common::Kernel::IMessage& message,
                                  const Common::Kernel::UserContextPtr& userContext,
                                  std::string_view reason,
                                  std::chrono::system_clock::time_point seenAt);

// The request id of a response or error reply; nullopt for other messages.
std::optional<std::uint32_t> ReplyIdOf(const Common::Kernel::IMessage& message);

}  // namespace Zent::Tools::SchedulerHost
