#include "Explain.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <vector>

#include "CrontabItems.h"

namespace Zent::Tools::Cron {

namespace {

using Kind = Item::Kind;
using Suffix = Item::Suffix;

constexpr std::array<const char*, 7> kWeekdays = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                  "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonths = {"January",   "February", "March",    "April",
                                                 "May",       "June",     "July",     "August",
                                                 "September", "October",  "November", "December"};

std::string Ordinal(int n) {
    constexpr std::array<const char*, 11> kWords = {"zeroth", "first", "second", "third",
                                                    "fourth", "fifth", "sixth",  "seventh",
                                                    "eighth", "ninth", "tenth"};
    if (n >= 0 && n < static_cast<int>(kWords.size())) {
        return kWords[n];
    }
    const int last = n % 10;
    const bool teen = n % 100 >= 11 && n % 100 <= 13;
    const char* suffix = teen        ? "th"
                         : last == 1 ? "st"
                         : last == 2 ? "nd"
                         : last == 3 ? "rd"
                                     : "th";
    return std::to_string(n) + suffix;
}

// "a", "a and b", "a, b and c".
std::string JoinAnd(const std::vector<std::string>& parts) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            joined += i + 1 == parts.size() ? " and " : ", ";
        }
        joined += parts[i];
    }
    return joined;
}

std::string Plural(int n, const std::string& unit) {
    return std::to_string(n) + ' ' + unit + (n == 1 ? "" : "s");
}

std::string TwoDigits(int n) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", n);
    return text;
}

std::string Clock(int hour, int minute, int second) {
    return TwoDigits(hour) + ':' + TwoDigits(minute) + ':' + TwoDigits(second);
}

bool IsSingle(const Item& item) {
    return item.kind == Kind::Values && !item.end && item.step == 0 && item.suffix == Suffix::None;
}

bool IsEverything(const std::vector<Item>& items) {
    return std::any_of(items.begin(), items.end(),
                       [](const Item& item) { return item.kind == Kind::Every && item.step <= 1; });
}

// The values of a field written as single values only, or empty.
std::optional<std::vector<int>> SingleValues(const std::vector<Item>& items) {
    std::set<int> values;
    for (const Item& item : items) {
        if (!IsSingle(item)) {
            return std::nullopt;
        }
        values.insert(item.start);
    }
    return std::vector<int>(values.begin(), values.end());
}

// The values of one item of a field of values first..last, as the engine expands it.
std::vector<int> Expand(const Item& item, int first, int last) {
    int start = item.start;
    int end = item.end.value_or(item.step > 0 ? last : item.start);
    int step = std::max(item.step, 1);
    if (item.kind == Kind::Every) {
        start = first;
        end = last;
    }
    std::vector<int> values;
    for (int v = start; v <= end; v += step) {
        values.push_back(v);
    }
    return values;
}

// Phrases for a field of numbers (second, minute, year): `unit` names one value.
std::string NumberPhrase(const Item& item, const std::string& unit) {
    const std::string units = unit + 's';
    switch (item.kind) {
        case Kind::Every:
            return item.step <= 1 ? "every " + unit : "every " + Plural(item.step, unit);
        case Kind::Random:
            return item.step == 0 ? "at a random " + unit + " (drawn when the text is read)"
                                  : "every " + Plural(item.step, unit) +
                                        " from a random start (drawn when the text is read)";
        default:
            break;
    }
    const std::string start = std::to_string(item.start);
    if (item.end) {
        const std::string range = start + " through " + std::to_string(*item.end);
        return item.step == 0 ? "at " + units + ' ' + range
                              : "every " + Plural(item.step, unit) + " from " + unit + ' ' + range;
    }
    if (item.step > 0) {
        return "every " + Plural(item.step, unit) + " starting at " + unit + ' ' + start;
    }
    return "at " + unit + ' ' + start;
}

// The phrases of a field's items, with its single values gathered in one phrase.
std::string FieldPhrase(const std::vector<Item>& items, const std::string& unit,
                        std::string (*phrase)(const Item&, const std::string&),
                        std::string (*value)(int)) {
    std::vector<std::string> singles;
    std::vector<std::string> parts;
    std::set<int> seen;
    for (const Item& item : items) {
        if (IsSingle(item)) {
            if (seen.insert(item.start).second) {
                singles.push_back(value(item.start));
            }
        } else {
            parts.push_back(phrase(item, unit));
        }
    }
    if (!singles.empty()) {
        const std::string words = singles.size() == 1 ? unit : unit + 's';
        parts.insert(parts.begin(), "at " + words + ' ' + JoinAnd(singles));
    }
    return JoinAnd(parts);
}

std::string Decimal(int n) {
    return std::to_string(n);
}
std::string HourStart(int h) {
    return TwoDigits(h) + ":00";
}

std::string HourPhrase(const Item& item, const std::string&) {
    switch (item.kind) {
        case Kind::Every:
            return item.step <= 1 ? "every hour" : "every " + Plural(item.step, "hour");
        case Kind::Random:
            return item.step == 0 ? "in a random hour (drawn when the text is read)"
                                  : "every " + Plural(item.step, "hour") +
                                        " from a random start (drawn when the text is read)";
        default:
            break;
    }
    if (item.end && item.step == 0) {
        return "between " + HourStart(item.start) + " and " + TwoDigits(*item.end) + ":59";
    }
    if (item.end) {
        return "every " + Plural(item.step, "hour") + " from " + HourStart(item.start) +
               " through " + HourStart(*item.end);
    }
    if (item.step > 0) {
        return "every " + Plural(item.step, "hour") + " starting at " + HourStart(item.start);
    }
    return "between " + HourStart(item.start) + " and " + TwoDigits(item.start) + ":59";
}

std::string HourClause(const std::vector<Item>& items) {
    if (IsEverything(items)) {
        return "";
    }
    std::vector<std::string> parts;
    for (const Item& item : items) {
        parts.push_back(HourPhrase(item, "hour"));
    }
    return JoinAnd(parts);
}

// Second, minute and hour together.
std::vector<std::string> TimeClauses(const std::vector<Item>& seconds,
                                     const std::vector<Item>& minutes,
                                     const std::vector<Item>& hours) {
    const auto s = SingleValues(seconds);
    const auto m = SingleValues(minutes);
    const auto h = SingleValues(hours);
    if (s && m && h && s->size() * m->size() * h->size() <= 8) {
        std::vector<std::string> times;
        for (const int hour : *h) {
            for (const int minute : *m) {
                for (const int second : *s) {
                    times.push_back(Clock(hour, minute, second));
                }
            }
        }
        return {"at " + JoinAnd(times)};
    }
    std::vector<std::string> clauses;
    if (s && m && s->size() == 1 && m->size() == 1) {
        const int minute = m->front();
        const int second = s->front();
        clauses.push_back(minute == 0 && second == 0 ? "on the hour"
                          : second == 0 ? "at " + Plural(minute, "minute") + " past the hour"
                                        : "at " + TwoDigits(minute) + ':' + TwoDigits(second) +
                                              " past the hour");
    } else {
        clauses.push_back(IsEverything(seconds)
                              ? "every second"
                              : FieldPhrase(seconds, "second", NumberPhrase, Decimal));
        if (!IsEverything(minutes)) {
            clauses.push_back(FieldPhrase(minutes, "minute", NumberPhrase, Decimal));
        } else if (s) {
            clauses.push_back("every minute");
        }
    }
    if (const std::string hour = HourClause(hours); !hour.empty()) {
        clauses.push_back(hour);
    }
    return clauses;
}

std::string DayOfMonthPhrase(const Item& item) {
    switch (item.kind) {
        case Kind::Every:
            return item.step <= 1
                       ? ""
                       : "every " + Plural(item.step, "day") + " of the month from the 1st";
        case Kind::Random:
            return item.step == 0 ? "on a random day of the month (drawn when the text is read)"
                                  : "every " + Plural(item.step, "day") +
                                        " of the month from a random start (drawn when the "
                                        "text is read)";
        case Kind::LastDay:
            return item.offset == 0 ? "on the last day of the month"
                                    : "on the day " + Plural(item.offset, "day") +
                                          " before the last day of the month";
        case Kind::LastWeekday:
            return "on the last weekday of the month";
        default:
            break;
    }
    std::string days;
    if (item.end) {
        days = item.step == 0
                   ? "days " + std::to_string(item.start) + " through " + std::to_string(*item.end)
                   : "every " + Ordinal(item.step) + " day from day " + std::to_string(item.start) +
                         " through " + std::to_string(*item.end);
    } else if (item.step > 0) {
        days = "every " + Ordinal(item.step) + " day from day " + std::to_string(item.start);
    } else {
        days = "day " + std::to_string(item.start);
    }
    if (item.suffix == Suffix::NearestWeekday) {
        return (item.end || item.step > 0 ? "on the weekday nearest each of "
                                          : "on the weekday nearest ") +
               days + " of the month";
    }
    return "on " + days + " of the month";
}

std::string DayOfMonthClause(const std::vector<Item>& items) {
    std::vector<std::string> parts;
    std::vector<std::string> singles;
    for (const Item& item : items) {
        if (IsSingle(item)) {
            singles.push_back(std::to_string(item.start));
        } else if (std::string phrase = DayOfMonthPhrase(item); !phrase.empty()) {
            parts.push_back(std::move(phrase));
        } else {
            return "";  // every day
        }
    }
    if (!singles.empty()) {
        parts.insert(parts.begin(), std::string(singles.size() == 1 ? "on day " : "on days ") +
                                        JoinAnd(singles) + " of the month");
    }
    return JoinAnd(parts);
}

std::vector<std::string> WeekdayNames(const std::vector<int>& days) {
    std::vector<std::string> names;
    for (const int day : days) {
        names.push_back(kWeekdays[day % 7]);
    }
    return names;
}

std::string DayOfWeekClause(const std::vector<Item>& items) {
    std::vector<std::string> plain;
    std::vector<std::string> parts;
    for (const Item& item : items) {
        if (item.kind == Kind::Every && item.step <= 1) {
            return "";  // every day
        }
        if (item.kind == Kind::Random) {
            parts.push_back(item.step == 0
                                ? "on a random day of the week (drawn when the text is read)"
                                : "every " + Plural(item.step, "day") +
                                      " of the week from a random start (drawn when the text "
                                      "is read)");
            continue;
        }
        const std::vector<std::string> days = WeekdayNames(Expand(item, 0, 6));
        if (item.suffix == Suffix::Last) {
            parts.push_back("on the last " + JoinAnd(days) + " of the month");
        } else if (item.suffix == Suffix::Nth) {
            parts.push_back("on the " + Ordinal(item.nth) + ' ' + JoinAnd(days) + " of the month");
        } else if (item.end && item.step == 0 && days.size() > 2) {
            plain.push_back(days.front() + " through " + days.back());
        } else {
            plain.insert(plain.end(), days.begin(), days.end());
        }
    }
    if (plain.size() == 1 && plain.front().find(" through ") != std::string::npos) {
        parts.insert(parts.begin(), plain.front());
    } else if (!plain.empty()) {
        parts.insert(parts.begin(), "on " + JoinAnd(plain));
    }
    return JoinAnd(parts);
}

std::string MonthClause(const std::vector<Item>& items) {
    if (IsEverything(items)) {
        return "";
    }
    std::vector<std::string> parts;
    for (const Item& item : items) {
        if (item.kind == Kind::Random) {
            parts.push_back(item.step == 0 ? "a random month (drawn when the text is read)"
                                           : "every " + Plural(item.step, "month") +
                                                 " from a random start (drawn when the "
                                                 "text is read)");
        } else if (item.end && item.step == 0 && *item.end - item.start > 1) {
            parts.push_back(std::string(kMonths[item.start - 1]) + " through " +
                            kMonths[*item.end - 1]);
        } else {
            for (const int month : Expand(item, 1, 12)) {
                parts.push_back(kMonths[month - 1]);
            }
        }
    }
    return "in " + JoinAnd(parts);
}

std::string YearPhrase(const Item& item, const std::string&) {
    switch (item.kind) {
        case Kind::Every:
            return "every " + Plural(item.step, "year") + " from 1970";
        case Kind::Random:
            return item.step == 0 ? "in a random year (drawn when the text is read)"
                                  : "every " + Plural(item.step, "year") +
                                        " from a random start (drawn when the text is read)";
        default:
            break;
    }
    if (item.end) {
        const std::string range =
            std::to_string(item.start) + " through " + std::to_string(*item.end);
        return item.step == 0 ? "in " + range
                              : "every " + Plural(item.step, "year") + " from " + range;
    }
    return "every " + Plural(item.step, "year") + " from " + std::to_string(item.start);
}

std::string YearClause(const std::vector<Item>& items) {
    if (IsEverything(items)) {
        return "";
    }
    std::vector<std::string> singles;
    std::vector<std::string> parts;
    for (const Item& item : items) {
        if (IsSingle(item)) {
            singles.push_back(std::to_string(item.start));
        } else {
            parts.push_back(YearPhrase(item, "year"));
        }
    }
    if (!singles.empty()) {
        parts.insert(parts.begin(), "in " + JoinAnd(singles));
    }
    return JoinAnd(parts);
}

bool HasAny(const std::vector<Item>& items) {
    return std::any_of(items.begin(), items.end(),
                       [](const Item& item) { return item.kind == Kind::Any; });
}

}  // namespace

std::string Explain(const std::string& text) {
    std::vector<std::vector<Item>> fields;
    for (const FieldText& field : SplitFields(Normalise(text))) {
        std::optional<std::vector<Item>> items = ReadItems(field);
        if (!items) {
            throw std::invalid_argument("cannot read the " + std::string(FieldName(field.kind)) +
                                        " field '" + field.text + "'");
        }
        fields.push_back(std::move(*items));
    }
    if (fields.size() < 6) {
        throw std::invalid_argument("a text has six or seven fields");
    }
    std::vector<std::string> clauses = TimeClauses(fields[0], fields[1], fields[2]);
    const std::string day =
        HasAny(fields[3]) ? DayOfWeekClause(fields[5]) : DayOfMonthClause(fields[3]);
    for (const std::string& clause :
         {day, MonthClause(fields[4]), fields.size() > 6 ? YearClause(fields[6]) : std::string()}) {
        if (!clause.empty()) {
            clauses.push_back(clause);
        }
    }
    // The clauses are conditions that all hold, so they are listed, not joined by "and".
    std::string sentence;
    for (const std::string& clause : clauses) {
        sentence += (sentence.empty() ? "" : ", ") + clause;
    }
    sentence[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(sentence[0])));
    return sentence;
}

}  // namespace Zent::Tools::Cron
