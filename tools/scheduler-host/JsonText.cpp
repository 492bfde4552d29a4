#include "tools/scheduler-host/JsonText.h"

// Boost.JSON is used header-only: this is the one translation unit that compiles it.
#include <boost/json/src.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace Zent::Tools::SchedulerHost {

namespace {

// Doubles hold every integer below this exactly.
constexpr double kExactIntegerLimit = 9007199254740992.0;

template <class Number>
std::string NumberText(Number number) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), number);
    return std::string(buffer.data(), result.ptr);
}

std::string DoubleText(double number) {
    if (number == std::trunc(number) && std::fabs(number) < kExactIntegerLimit)
        return NumberText(static_cast<std::int64_t>(number));
    return NumberText(number);
}

void AppendCanonical(const boost::json::value& value, std::string& out) {
    switch (value.kind()) {
        case boost::json::kind::null:
            out += "null";
            return;
        case boost::json::kind::bool_:
            out += value.get_bool() ? "true" : "false";
            return;
        case boost::json::kind::int64:
            out += NumberText(value.get_int64());
            return;
        case boost::json::kind::uint64:
            out += NumberText(value.get_uint64());
            return;
        case boost::json::kind::double_:
            out += DoubleText(value.get_double());
            return;
        case boost::json::kind::string:
            out += QuoteJson(value.get_string());
            return;
        case boost::json::kind::array: {
            out += '[';
            bool first = true;
            for (const boost::json::value& element : value.get_array()) {
                if (!first) out += ',';
                first = false;
                AppendCanonical(element, out);
            }
            out += ']';
            return;
        }
        case boost::json::kind::object: {
            const boost::json::object& object = value.get_object();
            std::vector<const boost::json::key_value_pair*> members;
            members.reserve(object.size());
            for (const auto& member : object)
                members.push_back(&member);
            std::sort(members.begin(), members.end(),
                      [](const auto* a, const auto* b) { return a->key() < b->key(); });
            out += '{';
            for (const auto* member : members) {
                if (out.back() != '{') out += ',';
                out += QuoteJson(member->key());
                out += ':';
                AppendCanonical(member->value(), out);
            }
            out += '}';
            return;
        }
    }
}

}  // namespace

std::string QuoteJson(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    constexpr std::string_view kHex = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[static_cast<unsigned char>(c) >> 4];
                    out += kHex[static_cast<unsigned char>(c) & 0xf];
                } else {
                    out += c;
                }
        }
    }
    out += '"';
    return out;
}

std::string CanonicalJson(const boost::json::value& value) {
    std::string out;
    AppendCanonical(value, out);
    return out;
}

boost::json::value ParseJsonValue(std::string_view text) {
    boost::json::parser parser;
    boost::json::error_code error;
    const std::size_t consumed = parser.write(text.data(), text.size(), error);
    if (error) {
        throw std::invalid_argument("not JSON: " + error.message() + " at character " +
                                    std::to_string(consumed + 1));
    }
    return parser.release();
}

boost::json::object ParseJsonObject(std::string_view text) {
    boost::json::value value = ParseJsonValue(text);
    if (!value.is_object()) throw std::invalid_argument("not a JSON object");
    return std::move(value.get_object());
}

void CJsonObjectWriter::Key(std::string_view key) {
    if (text_.size() > 1) text_ += ',';
    text_ += QuoteJson(key);
    text_ += ':';
}

CJsonObjectWriter& CJsonObjectWriter::AddString(std::string_view key, std::string_view value) {
    Key(key);
    text_ += QuoteJson(value);
    return *this;
}

CJsonObjectWriter& CJsonObjectWriter::AddNumber(std::string_view key, std::int64_t value) {
    Key(key);
    text_ += std::to_string(value);
    return *this;
}

CJsonObjectWriter& CJsonObjectWriter::AddBool(std::string_view key, bool value) {
    Key(key);
    text_ += value ? "true" : "false";
    return *this;
}

CJsonObjectWriter& CJsonObjectWriter::AddNull(std::string_view key) {
    Key(key);
    text_ += "null";
    return *this;
}

CJsonObjectWriter& CJsonObjectWriter::AddRaw(std::string_view key, std::string_view json) {
    Key(key);
    text_ += json;
    return *this;
}

}  // namespace Zent::Tools::SchedulerHost
