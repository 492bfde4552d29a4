#pragma once

// A crontab text taken apart into its fields (with the position of each in the text) and
// their items, for the tool's explanations and error pointers. The engine alone decides
// whether a text is valid; this reading only names what the text says.
//
//     const std::vector<FieldText> fields = SplitFields("0 30 8 ? * mon-fri");
//     ReadItems(fields[5]);   // one item: the weekdays 1 to 5

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Zent::Tools::Cron {

enum class FieldKind { Second, Minute, Hour, DayOfMonth, Month, DayOfWeek, Year };

// "minute", "day of month", ...
std::string_view FieldName(FieldKind field);
// "0..59", "1..31", "0..6 or sun..sat (0 and 7 are Sunday)", ...
std::string_view FieldValues(FieldKind field);

// The text with every run of white space made one blank and none at either end, as the
// engine normalises it.
std::string Normalise(std::string_view text);

// One field of a normalised text and where it begins.
struct FieldText {
    FieldKind kind;
    std::string text;
    std::size_t position;
};

// The blank-separated tokens of a normalised text; the first seven are named second to
// year, any further ones are given the kind Year as well.
std::vector<FieldText> SplitFields(const std::string& normalised);

// One comma-separated item of a field.
struct Item {
    enum class Kind {
        Any,          // ?
        Every,        // * or */step
        Random,       // R or R/step
        Values,       // a, a/step, a-b, a-b/step
        LastDay,      // L or L-offset (day of month)
        LastWeekday,  // LW (day of month)
    };
    enum class Suffix { None, NearestWeekday, Last, Nth };

    Kind kind = Kind::Values;
    int start = 0;
    std::optional<int> end;  // set for a-b
    int step = 0;            // 0 when no /step was written
    Suffix suffix = Suffix::None;
    int nth = 0;     // the n of d#n
    int offset = 0;  // the n of L-n
};

// The items of one field, with names of months and weekdays turned into numbers (7 as
// Sunday is 0). Empty when the field does not read as a list of items.
std::optional<std::vector<Item>> ReadItems(const FieldText& field);

}  // namespace Zent::Tools::Cron
