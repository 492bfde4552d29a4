#include "tools/scheduler-host/JsonText.h"

// Boost.JSON is used header-only: this is the one translation unit that compiles it.
#include <boost/json/src.hpp>

#include <boost/json/basic_parser_impl.hpp>
#include <boost/json/value_stack.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace Zent::Tools::SchedulerHost {

// Fixed text: the JSON field names, kinds, control names and error texts in this file are
// the serve protocol (docs/host-protocol.md) that clients match; keep them exactly as they
// are.

namespace {

// Doubles hold every integer below this exactly.
constexpr double kExactIntegerLimit = 9007199254740992.0;
// The first byte of a string value that holds a wide integer's digits: never the first
// byte of a decoded JSON string, which is valid UTF-8.
constexpr char kWideIntegerMark = '\xff';

// Builds values as Boost.JSON's own parser does, except that an integer too wide for 64
// bits keeps its digits (see IsWideInteger) instead of becoming a rounded double.
class CExactNumberHandler {
public:
    static constexpr std::size_t max_object_size = boost::json::object::max_size();
    static constexpr std::size_t max_array_size = boost::json::array::max_size();
    static constexpr std::size_t max_key_size = boost::json::string::max_size();
    static constexpr std::size_t max_string_size = boost::json::string::max_size();

    boost::json::value_stack stack;

    bool on_document_begin(boost::json::error_code&) { return true; }
    bool on_document_end(boost::json::error_code&) { return true; }
    bool on_object_begin(boost::json::error_code&) { return true; }
    bool on_object_end(std::size_t size, boost::json::error_code&) {
        stack.push_object(size);
        return true;
    }
    bool on_array_begin(boost::json::error_code&) { return true; }
    bool on_array_end(std::size_t size, boost::json::error_code&) {
        stack.push_array(size);
        return true;
    }
    bool on_key_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        stack.push_chars(part);
        return true;
    }
    bool on_key(boost::json::string_view last, std::size_t, boost::json::error_code&) {
        stack.push_key(last);
        return true;
    }
    bool on_string_part(boost::json::string_view part, std::size_t, boost::json::error_code&) {
        stack.push_chars(part);
        return true;
    }
    bool on_string(boost::json::string_view last, std::size_t, boost::json::error_code&) {
        stack.push_string(last);
        return true;
    }
    bool on_number_part(boost::json::string_view part, boost::json::error_code&) {
        number_.append(part.data(), part.size());
        return true;
    }
    bool on_int64(std::int64_t number, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        stack.push_int64(number);
        return true;
    }
    bool on_uint64(std::uint64_t number, boost::json::string_view, boost::json::error_code&) {
        number_.clear();
        stack.push_uint64(number);
        return true;
    }
    bool on_double(double number, boost::json::string_view last, boost::json::error_code&) {
        number_.append(last.data(), last.size());
        // Only an integer literal that fits in neither int64 nor uint64 arrives here
        // without a fraction or an exponent.
        if (number_.find_first_of(".eE") == std::string::npos) {
            stack.push_string(kWideIntegerMark + number_);
        } else {
            stack.push_double(number);
        }
        number_.clear();
        return true;
    }
    bool on_bool(bool flag, boost::json::error_code&) {
        stack.push_bool(flag);
        return true;
    }
    bool on_null(boost::json::error_code&) {
        stack.push_null();
        return true;
    }
    bool on_comment_part(boost::json::string_view, boost::json::error_code&) { return true; }
    bool on_comment(boost::json::string_view, boost::json::error_code&) { return true; }

private:
    std::string number_;
};

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
            if (IsWideInteger(value))
                out += std::string_view(value.get_string()).substr(1);
            else
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

bool IsWideInteger(const boost::json::value& value) {
    return value.is_string() && !value.get_string().empty() &&
           value.get_string().front() == kWideIntegerMark;
}

std::optional<std::string_view> TextOf(const boost::json::value& value) {
    if (!value.is_string() || IsWideInteger(value)) return std::nullopt;
    return std::string_view(value.get_string());
}

boost::json::value ParseJsonValue(std::string_view text) {
    boost::json::basic_parser<CExactNumberHandler> parser{boost::json::parse_options{}};
    parser.handler().stack.reset();
    boost::json::error_code error;
    const std::size_t consumed = parser.write_some(false, text.data(), text.size(), error);
    if (!error && consumed < text.size()) error = boost::json::error::extra_data;
    if (error) {
        throw std::invalid_argument("not JSON: " + error.message() + " at character " +
                                    std::to_string(consumed + 1));
    }
    return parser.handler().stack.release();
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
