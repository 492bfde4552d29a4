#include "CrontabItems.h"

#include <array>
#include <cctype>
#include <cstring>
#include <utility>

namespace Zent::Tools::Cron {

namespace {

struct Name {
    std::string_view word;
    int value;
};

constexpr Name kMonthNames[] = {
    {"january", 1},   {"february", 2},  {"march", 3},  {"april", 4},     {"may", 5},
    {"june", 6},      {"july", 7},      {"august", 8}, {"september", 9}, {"october", 10},
    {"november", 11}, {"december", 12}, {"jan", 1},    {"feb", 2},       {"mar", 3},
    {"apr", 4},       {"jun", 6},       {"jul", 7},    {"aug", 8},       {"sep", 9},
    {"oct", 10},      {"nov", 11},      {"dec", 12},   {"10", 10},       {"11", 11},
    {"12", 12},       {"1", 1},         {"2", 2},      {"3", 3},         {"4", 4},
    {"5", 5},         {"6", 6},         {"7", 7},      {"8", 8},         {"9", 9},
};

constexpr Name kWeekdayNames[] = {
    {"sunday", 0}, {"monday", 1},   {"tuesday", 2}, {"wednesday", 3}, {"thursday", 4},
    {"friday", 5}, {"saturday", 6}, {"sun", 0},     {"mon", 1},       {"tue", 2},
    {"wed", 3},    {"thu", 4},      {"fri", 5},     {"sat", 6},       {"0", 0},
    {"1", 1},      {"2", 2},        {"3", 3},       {"4", 4},         {"5", 5},
    {"6", 6},      {"7", 0},
};

// Reads one item at a time from a field's text.
class Reader {
public:
    Reader(FieldKind field, std::string_view text) : field_(field), text_(text) {}

    bool AtEnd() const { return at_ == text_.size(); }

    bool Take(std::string_view literal) {
        if (text_.substr(at_).starts_with(literal)) {
            at_ += literal.size();
            return true;
        }
        return false;
    }

    std::optional<int> Number() {
        std::size_t end = at_;
        int value = 0;
        while (end < text_.size() && std::isdigit(static_cast<unsigned char>(text_[end]))) {
            value = value * 10 + (text_[end] - '0');
            if (value > 65535) {
                return std::nullopt;
            }
            ++end;
        }
        if (end == at_) {
            return std::nullopt;
        }
        at_ = end;
        return value;
    }

    // A value of the field: a decimal number, or the longest month or weekday name (or
    // listed number) that fits, ignoring case.
    std::optional<int> Value() {
        const Name* table = nullptr;
        std::size_t size = 0;
        if (field_ == FieldKind::Month) {
            table = kMonthNames;
            size = std::size(kMonthNames);
        } else if (field_ == FieldKind::DayOfWeek) {
            table = kWeekdayNames;
            size = std::size(kWeekdayNames);
        } else {
            return Number();
        }
        const Name* best = nullptr;
        for (std::size_t i = 0; i < size; ++i) {
            const std::string_view word = table[i].word;
            if (at_ + word.size() <= text_.size() &&
                strncasecmp(text_.data() + at_, word.data(), word.size()) == 0 &&
                (!best || word.size() > best->word.size())) {
                best = &table[i];
            }
        }
        if (!best) {
            return std::nullopt;
        }
        at_ += best->word.size();
        return best->value;
    }

    std::optional<Item> ReadItem() {
        Item item;
        const bool dayOfMonth = field_ == FieldKind::DayOfMonth;
        if (Take("?")) {
            item.kind = Item::Kind::Any;
        } else if (dayOfMonth && Take("LW")) {
            item.kind = Item::Kind::LastWeekday;
        } else if (Take("*") || Take("R") || Take("r")) {
            item.kind = text_[at_ - 1] == '*' ? Item::Kind::Every : Item::Kind::Random;
            if (Take("/") && !Step(item)) {
                return std::nullopt;
            }
        } else if (dayOfMonth && Take("L")) {
            item.kind = Item::Kind::LastDay;
            if (Take("-")) {
                const std::optional<int> offset = Number();
                if (!offset) {
                    return std::nullopt;
                }
                item.offset = *offset;
            }
        } else {
            const std::optional<int> start = Value();
            if (!start) {
                return std::nullopt;
            }
            item.start = *start;
            if (Take("-")) {
                item.end = Value();
                if (!item.end) {
                    return std::nullopt;
                }
            }
            if (Take("/") && !Step(item)) {
                return std::nullopt;
            }
            if (!Suffix(item)) {
                return std::nullopt;
            }
        }
        return item;
    }

private:
    bool Step(Item& item) {
        const std::optional<int> step = Number();
        item.step = step.value_or(0);
        return step.has_value();
    }

    bool Suffix(Item& item) {
        if (field_ == FieldKind::DayOfMonth && Take("W")) {
            item.suffix = Item::Suffix::NearestWeekday;
        } else if (field_ == FieldKind::DayOfWeek && Take("L")) {
            item.suffix = Item::Suffix::Last;
        } else if (field_ == FieldKind::DayOfWeek && Take("#")) {
            const std::optional<int> nth = Number();
            if (!nth) {
                return false;
            }
            item.suffix = Item::Suffix::Nth;
            item.nth = *nth;
        }
        return true;
    }

    FieldKind field_;
    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::string_view FieldName(FieldKind field) {
    constexpr std::array<std::string_view, 7> kNames = {
        "second", "minute", "hour", "day of month", "month", "day of week", "year"};
    return kNames[static_cast<std::size_t>(field)];
}

std::string_view FieldValues(FieldKind field) {
    constexpr std::array<std::string_view, 7> kValues = {
        "0..59",
        "0..59",
        "0..23",
        "1..31, ?, L, L-n, LW, dW",
        "1..12 or jan..dec",
        "0..6 or sun..sat (0 and 7 are Sunday), ?, dL, d#n",
        "1970..2099"};
    return kValues[static_cast<std::size_t>(field)];
}

std::string Normalise(std::string_view text) {
    std::string normalised;
    bool blank = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !normalised.empty()) {
            normalised += ' ';
        }
        blank = false;
        normalised += c;
    }
    return normalised;
}

std::vector<FieldText> SplitFields(const std::string& normalised) {
    std::vector<FieldText> fields;
    std::size_t begin = 0;
    while (begin < normalised.size()) {
        std::size_t end = normalised.find(' ', begin);
        if (end == std::string::npos) {
            end = normalised.size();
        }
        const auto kind = static_cast<FieldKind>(std::min<std::size_t>(fields.size(), 6));
        fields.push_back({kind, normalised.substr(begin, end - begin), begin});
        begin = end + 1;
    }
    return fields;
}

std::optional<std::vector<Item>> ReadItems(const FieldText& field) {
    if (field.text.empty() || field.text.back() == ',') {
        return std::nullopt;
    }
    std::vector<Item> items;
    Reader reader(field.kind, field.text);
    do {
        std::optional<Item> item = reader.ReadItem();
        if (!item || !(reader.AtEnd() || reader.Take(","))) {
            return std::nullopt;
        }
        items.push_back(*item);
    } while (!reader.AtEnd());
    return items;
}

}  // namespace Zent::Tools::Cron
