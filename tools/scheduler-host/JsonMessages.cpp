#include "tools/scheduler-host/JsonMessages.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string_view>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/type_resolver.h>
#include <google/protobuf/util/type_resolver_util.h>

#include "common/message/scheduler/SchedulerRequests.h"
#include "common/module/ResponseException.h"
#include "tools/scheduler-host/ErrorReply.h"
#include "tools/scheduler-host/JsonText.h"
#include "tools/scheduler-host/JsonUserData.h"
#include "tools/scheduler-host/TimeText.h"
#include "tools/scheduler-host/UserDirectory.h"

namespace Zent::Tools::SchedulerHost {

// Fixed text: the JSON field names, kinds, control names and error texts in this file are
// the serve protocol (docs/host-protocol.md) that clients match; keep them exactly as they
// are.

namespace {

namespace Messages = Common::Message::Scheduler;
using boost::json::value;
using Common::DataDefinition::Common::UTCTime;
using Common::DataDefinition::Scheduler::TimeEvent;
using Common::DataDefinition::Scheduler::TimeRangeItem;
using Common::Kernel::IMessage;
using MessagePtr = std::shared_ptr<IMessage>;

constexpr const char* kTypeUrlPrefix = "type.googleapis.com";

// The records' types, from the pool of the compiled-in records.
google::protobuf::util::TypeResolver& Resolver() {
    static const std::unique_ptr<google::protobuf::util::TypeResolver> resolver(
        google::protobuf::util::NewTypeResolverForDescriptorPool(
            kTypeUrlPrefix, google::protobuf::DescriptorPool::generated_pool()));
    return *resolver;
}

std::string TypeUrl(const google::protobuf::Descriptor& descriptor) {
    return std::string(kTypeUrlPrefix) + "/" + descriptor.full_name();
}

std::string RecordToJson(const google::protobuf::Message& record) {
    std::string json;
    const auto status = google::protobuf::util::BinaryToJsonString(
        &Resolver(), TypeUrl(*record.GetDescriptor()), record.SerializePartialAsString(), &json);
    if (!status.ok()) {
        throw std::runtime_error("cannot write a " + record.GetDescriptor()->name() +
                                 " as JSON: " + std::string(status.message()));
    }
    return json;
}

template <class Record>
std::string RecordListToJson(const std::vector<Record>& records) {
    std::string json = "[";
    for (const Record& record : records) {
        if (json.size() > 1) json += ',';
        json += RecordToJson(record);
    }
    return json + "]";
}

// `json` as a whole number from 0 to `maximum`, whichever way it was written (7, 7.0, 7e0).
std::optional<std::uint64_t> WholeNumber(const value& json, std::uint64_t maximum) {
    if (json.is_int64() && json.get_int64() >= 0 &&
        static_cast<std::uint64_t>(json.get_int64()) <= maximum) {
        return static_cast<std::uint64_t>(json.get_int64());
    }
    if (json.is_uint64() && json.get_uint64() <= maximum) return json.get_uint64();
    if (json.is_double()) {
        const double number = json.get_double();
        if (number >= 0 && number == std::trunc(number) && number <= static_cast<double>(maximum))
            return static_cast<std::uint64_t>(number);
    }
    return std::nullopt;
}

// The fields of one request object, each read as the kind of value it must be. A field
// that is absent reads as the field's empty value.
class CRequestFields {
public:
    explicit CRequestFields(const boost::json::object& object) : object_(object) {}

    const value* Find(const std::string& key) const { return object_.if_contains(key); }

    std::string String(const std::string& key) const {
        const value* json = Find(key);
        if (json == nullptr) return {};
        const std::optional<std::string_view> text = TextOf(*json);
        if (!text) throw std::invalid_argument(QuoteJson(key) + " must be a string");
        return std::string(*text);
    }

    bool Bool(const std::string& key) const {
        const value* json = Find(key);
        if (json == nullptr) return false;
        if (!json->is_bool())
            throw std::invalid_argument(QuoteJson(key) + " must be true or false");
        return json->get_bool();
    }

    std::uint64_t Unsigned(const std::string& key, std::uint64_t maximum) const {
        const value* json = Find(key);
        if (json == nullptr) return 0;
        const std::optional<std::uint64_t> number = WholeNumber(*json, maximum);
        if (!number) {
            throw std::invalid_argument(QuoteJson(key) + " must be a whole number from 0 to " +
                                        std::to_string(maximum));
        }
        return *number;
    }

    template <class Record>
    Record RecordOf(const std::string& key) const {
        const value* json = Find(key);
        Record record;
        if (json == nullptr) return record;
        ReadRecord(*json, key, record);
        return record;
    }

    std::vector<TimeRangeItem> Ranges(const std::string& key) const {
        const value* json = Find(key);
        std::vector<TimeRangeItem> ranges;
        if (json == nullptr) return ranges;
        if (!json->is_array())
            throw std::invalid_argument(QuoteJson(key) +
                                        " must be a list of TimeRangeItem objects");
        for (const value& element : json->get_array())
            ReadRecord(element, key, ranges.emplace_back());
        return ranges;
    }

    // Any JSON value, null included, becomes a CJsonUserData; an absent field none.
    MessagePtr UserData(const std::string& key) const {
        const value* json = Find(key);
        if (json == nullptr) return nullptr;
        return std::make_shared<CJsonUserData>(*json);
    }

private:
    static void ReadRecord(const value& json, const std::string& key,
                           google::protobuf::Message& record) {
        const std::string& recordName = record.GetDescriptor()->name();
        if (!json.is_object())
            throw std::invalid_argument(QuoteJson(key) + " must be a " + recordName + " object");
        const auto status =
            google::protobuf::util::JsonStringToMessage(CanonicalJson(json), &record);
        if (!status.ok()) {
            throw std::invalid_argument(QuoteJson(key) + " is not a valid " + recordName + ": " +
                                        std::string(status.message()));
        }
    }

    const boost::json::object& object_;
};

// How each request reads from its JSON object: the fields it accepts and how it takes them.
// Every request of the catalogue needs one; a missing one does not compile.
template <class Request>
struct JsonForm;

template <>
struct JsonForm<Messages::CGetNextTimeRangeRequest> {
    static std::vector<std::string> Fields() { return {"ranges", "fromTime"}; }
    static void Read(Messages::CGetNextTimeRangeRequest& request, const CRequestFields& fields) {
        request.SetRanges(fields.Ranges("ranges"));
        request.SetFromTime(fields.RecordOf<UTCTime>("fromTime"));
    }
};

template <>
struct JsonForm<Messages::CGetRemainingTimeBySpecRequest> {
    static std::vector<std::string> Fields() { return {"timeEvent"}; }
    static void Read(Messages::CGetRemainingTimeBySpecRequest& request,
                     const CRequestFields& fields) {
        request.SetTimeEvent(fields.RecordOf<TimeEvent>("timeEvent"));
    }
};

template <>
struct JsonForm<Messages::CGetRemainingTimeByUserDataRequest> {
    static std::vector<std::string> Fields() { return {"userData"}; }
    static void Read(Messages::CGetRemainingTimeByUserDataRequest& request,
                     const CRequestFields& fields) {
        request.SetUserData(fields.UserData("userData"));
    }
};

template <>
struct JsonForm<Messages::CRegisterSleepEvent> {
    static std::vector<std::string> Fields() { return {"sleepSeconds", "userData"}; }
    static void Read(Messages::CRegisterSleepEvent& request, const CRequestFields& fields) {
        request.SetSleepSeconds(static_cast<std::uint32_t>(
            fields.Unsigned("sleepSeconds", std::numeric_limits<std::uint32_t>::max())));
        request.SetUserData(fields.UserData("userData"));
    }
};

template <>
struct JsonForm<Messages::CRegisterTimeEvent> {
    static std::vector<std::string> Fields() { return {"timeEvent", "userData"}; }
    static void Read(Messages::CRegisterTimeEvent& request, const CRequestFields& fields) {
        request.SetTimeEvent(fields.RecordOf<TimeEvent>("timeEvent"));
        request.SetUserData(fields.UserData("userData"));
    }
};

template <>
struct JsonForm<Messages::CUnregisterTimeEvent> {
    static std::vector<std::string> Fields() { return {"userData"}; }
    static void Read(Messages::CUnregisterTimeEvent& request, const CRequestFields& fields) {
        request.SetUserData(fields.UserData("userData"));
    }
};

template <>
struct JsonForm<Messages::CValidateTimeEvent> {
    static std::vector<std::string> Fields() { return {"timeEvent", "timeZoneSlack"}; }
    static void Read(Messages::CValidateTimeEvent& request, const CRequestFields& fields) {
        request.SetTimeEvent(fields.RecordOf<TimeEvent>("timeEvent"));
        request.SetTimeZoneSlack(fields.Bool("timeZoneSlack"));
    }
};

template <>
struct JsonForm<Messages::CGetLastTickRequest> {
    static std::vector<std::string> Fields() { return {"timeEvent"}; }
    static void Read(Messages::CGetLastTickRequest& request, const CRequestFields& fields) {
        request.SetTimeEvent(fields.RecordOf<TimeEvent>("timeEvent"));
    }
};

template <>
struct JsonForm<Messages::CGetAllTimeZoneDetailsRequest> {
    static std::vector<std::string> Fields() { return {"localeName"}; }
    static void Read(Messages::CGetAllTimeZoneDetailsRequest& request,
                     const CRequestFields& fields) {
        request.SetLocaleName(fields.String("localeName"));
    }
};

template <>
struct JsonForm<Messages::CGetTimeZoneDetailsRequest> {
    static std::vector<std::string> Fields() {
        return {"localeName", "timeZoneId", "atTime", "translatorFlag"};
    }
    static void Read(Messages::CGetTimeZoneDetailsRequest& request, const CRequestFields& fields) {
        request.SetLocaleName(fields.String("localeName"));
        request.SetTimeZoneId(fields.String("timeZoneId"));
        request.SetAtTime(fields.RecordOf<UTCTime>("atTime"));
        request.SetTranslatorFlag(fields.Bool("translatorFlag"));
    }
};

template <>
struct JsonForm<Messages::CGetNextOccurrencesByUserDataRequest> {
    static std::vector<std::string> Fields() { return {"fromTime", "count", "userData"}; }
    static void Read(Messages::CGetNextOccurrencesByUserDataRequest& request,
                     const CRequestFields& fields) {
        request.SetFromTime(fields.RecordOf<UTCTime>("fromTime"));
        request.SetCount(fields.Unsigned("count", std::uint64_t{1} << 53));
        request.SetUserData(fields.UserData("userData"));
    }
};

struct RequestKind {
    std::int32_t type;
    std::vector<std::string> fields;
    bool answered;
    MessagePtr (*build)(std::uint32_t id, const CRequestFields& fields);
};

// The requests of the catalogue, in its order.
const std::vector<RequestKind>& Kinds() {
    static const std::vector<RequestKind> kinds = [] {
        std::vector<RequestKind> list;
        Messages::SchedulerRequests::ForEach([&list]<class Entry>() {
            using Request = typename Entry::Request;
            list.push_back({Request::kType, JsonForm<Request>::Fields(), Entry::kAnswered,
                            [](std::uint32_t id, const CRequestFields& fields) -> MessagePtr {
                                auto request = std::make_shared<Request>(id);
                                JsonForm<Request>::Read(*request, fields);
                                return request;
                            }});
        });
        return list;
    }();
    return kinds;
}

std::string NameOf(const RequestKind& kind) {
    static const boost::json::object empty;
    return kind.build(0, CRequestFields(empty))->GetTypeName();
}

const RequestKind& FindKind(const value& type) {
    const auto& kinds = Kinds();
    const std::optional<std::uint64_t> number =
        WholeNumber(type, std::numeric_limits<std::int32_t>::max());
    const std::optional<std::string_view> name = TextOf(type);
    const auto found = std::find_if(kinds.begin(), kinds.end(), [&](const RequestKind& kind) {
        return number ? static_cast<std::uint64_t>(kind.type) == *number
                      : name && NameOf(kind) == *name;
    });
    if (found != kinds.end()) return *found;
    if (type.is_number() || type.is_string())
        throw std::invalid_argument("unknown type " + CanonicalJson(type));
    throw std::invalid_argument("\"type\" must be a type number or a request name");
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// The exception name of the errors that the host itself reports.
constexpr const char* kHostErrorName = "HostError";

// Every error line, whether the module's error reply or the host's own, has these keys in
// this order; what does not apply is null.
struct ErrorFields {
    std::chrono::system_clock::time_point time;
    std::optional<std::int32_t> type;
    std::optional<std::string> name;
    std::optional<std::uint32_t> id;
    std::optional<std::string> user;
    std::string exception;
    std::optional<std::uint32_t> code;
    std::optional<std::uint32_t> group;
    std::string text;
    std::optional<std::size_t> line;
};

template <class Number>
void AddNumberOrNull(CJsonObjectWriter& line, std::string_view key,
                     const std::optional<Number>& number) {
    if (number)
        line.AddNumber(key, static_cast<std::int64_t>(*number));
    else
        line.AddNull(key);
}

void AddStringOrNull(CJsonObjectWriter& line, std::string_view key,
                     const std::optional<std::string>& text) {
    if (text)
        line.AddString(key, *text);
    else
        line.AddNull(key);
}

std::string ErrorJson(const ErrorFields& error) {
    CJsonObjectWriter line;
    line.AddString("kind", "error").AddString("time", FormatIsoClock(error.time));
    AddNumberOrNull(line, "type", error.type);
    AddStringOrNull(line, "name", error.name);
    AddNumberOrNull(line, "id", error.id);
    AddStringOrNull(line, "user", error.user);
    line.AddString("exception", error.exception);
    AddNumberOrNull(line, "code", error.code);
    AddNumberOrNull(line, "group", error.group);
    line.AddString("text", error.text);
    AddNumberOrNull(line, "line", error.line);
    return line.Text();
}

ErrorFields HostError(std::string_view reason, std::chrono::system_clock::time_point at) {
    ErrorFields error;
    error.time = at;
    error.exception = kHostErrorName;
    error.text = std::string(reason);
    return error;
}

std::optional<std::string> UserOf(const Common::Kernel::UserContextPtr& userContext) {
    std::string user = UserNameOf(userContext);
    if (user.empty()) return std::nullopt;
    return user;
}

void AddTime(CJsonObjectWriter& line, std::string_view key, const boost::posix_time::ptime& time) {
    if (const auto text = FormatIsoTime(time))
        line.AddString(key, *text);
    else
        line.AddNull(key);
}

void AddResponseFields(CJsonObjectWriter& line, const IMessage& message) {
    if (const auto* remaining =
            dynamic_cast<const Messages::CGetRemainingTimeResponse*>(&message)) {
        line.AddNumber("remainingSeconds", remaining->GetRemainingSeconds());
        AddTime(line, "nextTick", remaining->GetNextTick());
    } else if (const auto* occurrences =
                   dynamic_cast<const Messages::CGetNextOccurrencesByUserDataResponse*>(&message)) {
        line.AddRaw("occurrences", RecordListToJson(occurrences->GetOccurrences()));
    } else if (const auto* range =
                   dynamic_cast<const Messages::CGetNextTimeRangeResponse*>(&message)) {
        line.AddBool("found", range->GetFound());
        line.AddRaw("rangeStart", RecordToJson(range->GetRangeStart()));
        line.AddRaw("rangeEnd", RecordToJson(range->GetRangeEnd()));
    } else if (const auto* last = dynamic_cast<const Messages::CGetLastTickResponse*>(&message)) {
        line.AddBool("noLastTick", last->GetNoLastTick());
        AddTime(line, "lastTick", last->GetLastTick());
    } else if (const auto* zone =
                   dynamic_cast<const Messages::CGetTimeZoneDetailsResponse*>(&message)) {
        line.AddRaw("details", RecordToJson(zone->GetDetails()));
    } else if (const auto* zones =
                   dynamic_cast<const Messages::CGetAllTimeZoneDetailsResponse*>(&message)) {
        line.AddRaw("detailsList", RecordListToJson(zones->GetDetailsList()));
    }
}

}  // namespace

JsonRequest RequestFromJson(const boost::json::object& object) {
    const value* type = object.if_contains("type");
    if (type == nullptr) {
        throw std::invalid_argument("missing \"type\": a type number such as " +
                                    std::to_string(Messages::CRegisterTimeEvent::kType) +
                                    " or a request name such as \"RegisterTimeEvent\"");
    }
    const RequestKind& kind = FindKind(*type);

    for (const auto& member : object) {
        const std::string key(member.key());
        if (key == "type" || key == "id" || key == "user") continue;
        if (std::find(kind.fields.begin(), kind.fields.end(), key) == kind.fields.end()) {
            throw std::invalid_argument("unknown field " + QuoteJson(key) + " for " + NameOf(kind) +
                                        " (its fields: " + Joined(kind.fields) + ")");
        }
    }

    const CRequestFields reader(object);
    JsonRequest request;
    request.id = static_cast<std::uint32_t>(
        reader.Unsigned("id", std::numeric_limits<std::uint32_t>::max()));
    if (const value* user = reader.Find("user"); user != nullptr && !user->is_null()) {
        const std::optional<std::string_view> name = TextOf(*user);
        if (!name || name->empty())
            throw std::invalid_argument("\"user\" must be a user name (a non-empty string)");
        request.user = std::string(*name);
    }
    request.message = kind.build(request.id, reader);
    request.answered = kind.answered;
    return request;
}

std::variant<JsonRequest, JsonControl> LineFromJson(std::string_view text) {
    const boost::json::object object = ParseJsonObject(text);
    const value* control = object.if_contains("control");
    if (control == nullptr) return RequestFromJson(object);

    const std::optional<std::string_view> name = TextOf(*control);
    if (!name) throw std::invalid_argument("\"control\" must be a string");
    JsonControl line{std::string(*name)};
    for (const auto& member : object) {
        if (member.key() != "control" && !(member.key() == "force" && line.name == "stop")) {
            throw std::invalid_argument("unknown field \"" + std::string(member.key()) +
                                        "\" for control \"" + line.name + "\"");
        }
    }
    if (line.name != "start" && line.name != "prepareShutdown" && line.name != "stop" &&
        line.name != "quit") {
        throw std::invalid_argument("unknown control \"" + line.name +
                                    "\": start, prepareShutdown, stop or quit");
    }
    if (const value* force = object.if_contains("force")) {
        if (!force->is_bool()) throw std::invalid_argument("\"force\" must be true or false");
        line.force = force->get_bool();
    }
    return line;
}

std::string ErrorLineJson(std::string_view reason, std::optional<std::size_t> lineNumber,
                          std::optional<std::uint32_t> id, const std::optional<std::string>& user,
                          std::chrono::system_clock::time_point at) {
    ErrorFields error = HostError(reason, at);
    error.id = id;
    error.user = user;
    error.line = lineNumber;
    return ErrorJson(error);
}

LineIdentity IdentityOf(std::string_view text) noexcept {
    LineIdentity identity;
    try {
        const boost::json::object object = ParseJsonObject(text);
        if (const value* id = object.if_contains("id")) {
            if (const auto number = WholeNumber(*id, std::numeric_limits<std::uint32_t>::max()))
                identity.id = static_cast<std::uint32_t>(*number);
        }
        if (const value* user = object.if_contains("user")) {
            if (const auto name = TextOf(*user); name && !name->empty())
                identity.user = std::string(*name);
        }
    } catch (const std::exception&) {
        // Not an object: nothing could be read.
    }
    return identity;
}

const std::vector<RequestType>& RequestTypes() {
    static const std::vector<RequestType> types = [] {
        std::vector<RequestType> list;
        for (const RequestKind& kind : Kinds())
            list.push_back({kind.type, NameOf(kind), kind.fields});
        std::sort(list.begin(), list.end(),
                  [](const RequestType& a, const RequestType& b) { return a.type < b.type; });
        return list;
    }();
    return types;
}

bool IsSchedulerRequest(std::int32_t type) {
    return Messages::SchedulerRequests::Contains(type);
}

std::optional<std::string> MessageToJson(const MessagePtr& message,
                                         const Common::Kernel::UserContextPtr& userContext,
                                         std::chrono::system_clock::time_point seenAt) {
    if (!message || IsSchedulerRequest(message->GetType())) return std::nullopt;
    const auto* userData = dynamic_cast<const CJsonUserData*>(message.get());
    const auto* error = dynamic_cast<const Common::Module::CResponseException*>(message.get());
    const auto* response = dynamic_cast<const Common::Module::CResponse*>(message.get());
    const std::optional<std::uint32_t> id =
        response ? std::optional<std::uint32_t>(response->GetRequestId()) : std::nullopt;

    if (error) {
        const ErrorDescription description = DescribeError(*error);
        ErrorFields fields;
        fields.time = seenAt;
        fields.type = message->GetType();
        fields.name = message->GetTypeName();
        fields.id = id;
        fields.user = UserOf(userContext);
        fields.exception = description.className;
        fields.code = description.code;
        fields.group = description.group;
        fields.text = description.text;
        return ErrorJson(fields);
    }

    CJsonObjectWriter line;
    line.AddString("kind", userData ? "tick" : response ? "response" : "message");
    line.AddString("time", FormatIsoClock(seenAt));
    line.AddNumber("type", message->GetType());
    line.AddString("name", message->GetTypeName());
    if (id) line.AddNumber("id", *id);
    AddStringOrNull(line, "user", UserOf(userContext));

    if (userData)
        line.AddRaw("userData", userData->GetJson());
    else if (response)
        AddResponseFields(line, *message);
    return line.Text();
}

std::string UnwritableMessageJson(const Common::Kernel::IMessage& message,
                                  const Common::Kernel::UserContextPtr& userContext,
                                  std::string_view reason,
                                  std::chrono::system_clock::time_point seenAt) {
    ErrorFields error = HostError(reason, seenAt);
    error.type = message.GetType();
    error.name = message.GetTypeName();
    error.id = ReplyIdOf(message);
    error.user = UserOf(userContext);
    return ErrorJson(error);
}

std::optional<std::uint32_t> ReplyIdOf(const IMessage& message) {
    if (const auto* response = dynamic_cast<const Common::Module::CResponse*>(&message))
        return response->GetRequestId();
    return std::nullopt;
}

}  // namespace Zent::Tools::SchedulerHost
