#include "Diagnosis.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string_view>

#include "CrontabItems.h"
#include "Scheduler/crontab/CrontabParser.h"
#include "Scheduler/crontab/CrontabValidationException.h"

namespace Zent::Tools::Cron {

namespace {

constexpr std::string_view kBothDays = "Both dayOfMonth & dayOfWeek have values.";
constexpr std::string_view kFieldOrder =
    "a text has six or seven fields: second minute hour day-of-month month day-of-week [year]";

// The engine's reason for refusing `text`, or empty when it accepts it.
std::optional<std::string> Refusal(const std::string& text) {
    try {
        Scheduler::CCrontabParser().Parse(text);
        return std::nullopt;
    } catch (const Scheduler::CCrontabValidationException& error) {
        return std::string(error.what());
    }
}

// The text shown indented, and carets under `length` characters from `position`.
std::vector<std::string> Pointer(const std::string& text, std::size_t position,
                                 std::size_t length) {
    return {"  " + text,
            std::string(position + 2, ' ') + std::string(std::max<std::size_t>(length, 1), '^')};
}

// A text with every field harmless except `field`, which holds `item` alone.
std::string Probe(FieldKind field, const std::string& item) {
    std::array<std::string, 7> probe = {"0", "0", "0", "*", "*", "?", "*"};
    if (field == FieldKind::DayOfWeek) {
        probe[3] = "?";
    }
    probe[static_cast<std::size_t>(field)] = item;
    std::string text = probe[0];
    for (std::size_t i = 1; i < probe.size(); ++i) {
        text += ' ' + probe[i];
    }
    return text;
}

// The day-field forms of the classic five-field crontab, said in this format.
std::string SixFieldForm(const std::vector<FieldText>& fields) {
    std::string dayOfMonth = fields[2].text;
    std::string dayOfWeek = fields[4].text;
    if (dayOfWeek == "*") {
        dayOfWeek = "?";
    } else if (dayOfMonth == "*") {
        dayOfMonth = "?";
    }
    return "0 " + fields[0].text + ' ' + fields[1].text + ' ' + dayOfMonth + ' ' + fields[3].text +
           ' ' + dayOfWeek;
}

std::vector<std::string> FieldCountHints(const std::string& text) {
    static const std::map<std::string, std::string> kNicknames = {
        {"@yearly", "0 0 0 1 1 ?"},   {"@annually", "0 0 0 1 1 ?"}, {"@monthly", "0 0 0 1 * ?"},
        {"@weekly", "0 0 0 ? * sun"}, {"@daily", "0 0 0 * * ?"},    {"@midnight", "0 0 0 * * ?"},
        {"@hourly", "0 0 * * * ?"},
    };
    if (text.starts_with('@')) {
        const auto nickname = kNicknames.find(text);
        if (nickname == kNicknames.end()) {
            return {"hint: nicknames such as @daily are not crontab texts; " +
                    std::string(kFieldOrder)};
        }
        return {"hint: nicknames such as @daily are not crontab texts; for " + text + " write \"" +
                nickname->second + "\""};
    }
    const std::vector<FieldText> fields = SplitFields(text);
    std::vector<std::string> lines = {std::to_string(fields.size()) + " field" +
                                      (fields.size() == 1 ? "" : "s") + " given; " +
                                      std::string(kFieldOrder)};
    if (fields.size() == 5) {
        lines.push_back(
            "hint: five fields look like a crontab without seconds; with a second field in "
            "front and ? in one day field: \"" +
            SixFieldForm(fields) + "\"");
    }
    return lines;
}

std::vector<std::string> BothDayHints(const std::string& normalised,
                                      const std::vector<FieldText>& fields) {
    const FieldText& dayOfMonth = fields[3];
    const FieldText& dayOfWeek = fields[5];
    std::vector<std::string> lines = {"day of month '" + dayOfMonth.text + "' and day of week '" +
                                      dayOfWeek.text + "':"};
    std::string carets(dayOfWeek.position + dayOfWeek.text.size() + 2, ' ');
    carets.replace(dayOfMonth.position + 2, dayOfMonth.text.size(),
                   std::string(dayOfMonth.text.size(), '^'));
    carets.replace(dayOfWeek.position + 2, dayOfWeek.text.size(),
                   std::string(dayOfWeek.text.size(), '^'));
    lines.push_back("  " + normalised);
    lines.push_back(carets);
    const bool monthAny = dayOfMonth.text.find('?') != std::string::npos;
    const bool weekAny = dayOfWeek.text.find('?') != std::string::npos;
    if (monthAny && weekAny) {
        lines.push_back("hint: both day fields are ?; one of them must say on which days");
    } else {
        lines.push_back("hint: exactly one day field decides; use ? in one of them");
    }
    return lines;
}

}  // namespace

std::vector<std::string> Diagnose(const std::string& text, const std::string& reason) {
    const std::string normalised = Normalise(text);
    const std::vector<FieldText> fields = SplitFields(normalised);
    if (fields.size() < 6 || fields.size() > 7) {
        return FieldCountHints(normalised);
    }
    if (reason == kBothDays) {
        return BothDayHints(normalised, fields);
    }
    for (const FieldText& field : fields) {
        const std::string heading = std::string(FieldName(field.kind)) + " field (" +
                                    std::string(FieldValues(field.kind)) + ")";
        const bool fieldRefused = Refusal(Probe(field.kind, field.text)) == reason;
        const auto pointAt = [&](const std::string& what, std::size_t position,
                                 std::size_t length) {
            std::vector<std::string> lines = {heading + what};
            const std::vector<std::string> pointer = Pointer(normalised, position, length);
            lines.insert(lines.end(), pointer.begin(), pointer.end());
            return lines;
        };
        for (std::size_t begin = 0;;) {
            const std::size_t end = std::min(field.text.find(',', begin), field.text.size());
            const std::string item = field.text.substr(begin, end - begin);
            if (item.empty() && fieldRefused) {
                // Point at the comma that has nothing on one side.
                return pointAt(", an empty item:", field.position + (begin > 0 ? begin - 1 : 0), 1);
            }
            if (!item.empty() && item != "?" && Refusal(Probe(field.kind, item)) == reason) {
                return pointAt(", item '" + item + "':", field.position + begin, item.size());
            }
            if (end == field.text.size()) {
                break;
            }
            begin = end + 1;
        }
        if (fieldRefused && reason.starts_with("Cannot parse")) {
            return pointAt(":", field.position, field.text.size());
        }
    }
    return {};
}

}  // namespace Zent::Tools::Cron
