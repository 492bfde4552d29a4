#pragma once

// JSON text for scheduler-host's serve protocol: parsing one line, a canonical rendering
// of a value, and a writer for output objects. Values are Boost.JSON values.
//
//     boost::json::object request = ParseJsonObject(R"({"type": 321, "id": 7})");
//     CanonicalJson(value);   // {"a":1,"b":[true,null]}: sorted keys, no blanks
//     std::string line = CJsonObjectWriter()
//                            .AddString("kind", "tick")
//                            .AddNumber("type", 7100)
//                            .AddRaw("userData", CanonicalJson(value))
//                            .Text();
//
// The canonical text of a value depends only on the value: object keys are sorted by
// their bytes, whole numbers below 2^53 are written without a fraction whether they were
// written with one or not (2.0 is 2), other numbers in their shortest exact form, and
// strings keep their characters with the escapes JSON requires.
//
// Integers too wide for 64 bits keep every digit: ParseJsonValue holds such a number as a
// string value marked as a wide integer (IsWideInteger), which CanonicalJson writes as the
// number it was. Code that wants a JSON string reads it with TextOf, which refuses them.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

namespace Zent::Tools::SchedulerHost {

// `text` as a JSON string, quotes included.
std::string QuoteJson(std::string_view text);

// The canonical text of `value`.
std::string CanonicalJson(const boost::json::value& value);

// True for a number that ParseJsonValue found too wide for 64 bits.
bool IsWideInteger(const boost::json::value& value);
// The characters of a JSON string; nullopt for any other value, wide integers included.
std::optional<std::string_view> TextOf(const boost::json::value& value);

// Parses one JSON value of any kind; throws std::invalid_argument "not JSON: <reason> at
// character <n>" for malformed text.
boost::json::value ParseJsonValue(std::string_view text);
// Parses a JSON object; throws std::invalid_argument for other JSON and malformed text.
boost::json::object ParseJsonObject(std::string_view text);

// Builds one JSON object, members in the order they were added.
class CJsonObjectWriter {
public:
    CJsonObjectWriter& AddString(std::string_view key, std::string_view value);
    CJsonObjectWriter& AddNumber(std::string_view key, std::int64_t value);
    CJsonObjectWriter& AddBool(std::string_view key, bool value);
    CJsonObjectWriter& AddNull(std::string_view key);
    // `json` must be one JSON value already.
    CJsonObjectWriter& AddRaw(std::string_view key, std::string_view json);

    std::string Text() const { return text_ + "}"; }

private:
    void Key(std::string_view key);

    std::string text_ = "{";
};

}  // namespace Zent::Tools::SchedulerHost
