// libFuzzer target for the line decoder of scheduler-host serve: the input is one line of
// arbitrary bytes. It must decode to a well-formed request or control line, or be refused
// with a reason whose error line is a JSON object that carries that reason back. Anything
// else, an exception of another kind included, aborts with a description.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

#include <boost/json/object.hpp>

#include "common/message/Request.h"
#include "common/message/scheduler/RegisterSleepEvent.h"
#include "common/message/scheduler/UnregisterTimeEvent.h"
#include "tools/scheduler-host/JsonMessages.h"
#include "tools/scheduler-host/JsonText.h"

namespace {

namespace Host = Zent::Tools::SchedulerHost;
namespace Messages = Zent::Common::Message::Scheduler;
using Host::JsonControl;
using Host::JsonRequest;
using Decoded = std::variant<JsonRequest, JsonControl>;

[[noreturn]] void Fail(const char* what, std::string_view line, std::string_view detail) {
    std::cerr << "serve line decoder broken: " << what << "\n  line:   " << Host::QuoteJson(line)
              << "\n  detail: " << detail << std::endl;
    std::abort();
}

void Require(bool holds, const char* what, std::string_view line, std::string_view detail = {}) {
    if (!holds) Fail(what, line, detail);
}

// The error line for `reason`, with and without a request id, is one JSON object whose
// "text" is the reason itself.
void CheckErrorLine(std::string_view line, const std::string& reason, std::size_t lineNumber) {
    Require(!reason.empty(), "a line was refused without a reason", line);
    for (const std::optional<std::uint32_t> id :
         {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(4294967295u)}) {
        const std::string errorLine = Host::ErrorLineJson(reason, lineNumber, id);
        boost::json::object object;
        try {
            object = Host::ParseJsonObject(errorLine);
        } catch (const std::exception& error) {
            Fail("the error line is not a JSON object", line,
                 errorLine + " (" + error.what() + ")");
        }
        const boost::json::value* error = object.if_contains("text");
        Require(error != nullptr && error->is_string() && error->get_string() == reason,
                "the error line does not carry the reason", line, errorLine);
        const boost::json::value* number = object.if_contains("line");
        Require(number != nullptr && number->is_int64() &&
                    number->get_int64() == static_cast<std::int64_t>(lineNumber),
                "the error line does not carry the line number", line, errorLine);
        const boost::json::value* idValue = object.if_contains("id");
        Require(id ? idValue != nullptr && idValue->is_int64() &&
                         idValue->get_int64() == static_cast<std::int64_t>(*id)
                   : idValue != nullptr && idValue->is_null(),
                "the error line does not carry the request id as given", line, errorLine);
    }
}

void CheckControl(std::string_view line, const JsonControl& control) {
    Require(control.name == "start" || control.name == "prepareShutdown" ||
                control.name == "stop" || control.name == "quit",
            "an unknown control was accepted", line, control.name);
    Require(!control.force || control.name == "stop", "force set on a control other than stop",
            line, control.name);
}

// A request is one of the eleven scheduler requests, with the id and user it was given,
// and decoding the same line again gives an equal request.
void CheckRequest(std::string_view line, const JsonRequest& request, const Decoded& again) {
    Require(request.message != nullptr, "a request without a message", line);
    const std::int32_t type = request.message->GetType();
    Require(Host::IsSchedulerRequest(type), "a request of a type that is no scheduler request",
            line, std::to_string(type));
    const auto* asRequest =
        dynamic_cast<const Zent::Common::Message::CRequest*>(request.message.get());
    Require(asRequest != nullptr && asRequest->GetRequestId() == request.id,
            "the message does not carry the request id", line, std::to_string(request.id));
    Require(!request.user || !request.user->empty(), "a request with an empty user name", line);
    const bool neverAnswered = type == Messages::CRegisterSleepEvent::kType ||
                               type == Messages::CUnregisterTimeEvent::kType;
    Require(request.answered != neverAnswered, "the request is marked answered wrongly", line,
            request.message->GetTypeName());

    const auto* repeated = std::get_if<JsonRequest>(&again);
    Require(repeated != nullptr && repeated->id == request.id && repeated->user == request.user &&
                repeated->answered == request.answered &&
                request.message->IsEqual(repeated->message),
            "decoding the line again gave another request", line);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    Decoded decoded;
    try {
        decoded = Host::LineFromJson(line);
    } catch (const std::invalid_argument& error) {
        CheckErrorLine(line, error.what(), size + 1);
        return 0;
    } catch (const std::exception& error) {
        Fail("the decoder raised something other than std::invalid_argument", line, error.what());
    }
    if (const auto* control = std::get_if<JsonControl>(&decoded)) {
        CheckControl(line, *control);
    } else {
        CheckRequest(line, std::get<JsonRequest>(decoded), Host::LineFromJson(line));
    }
    return 0;
}
