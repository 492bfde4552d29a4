#include "Calendar.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace Zent::Tools::Cron {

namespace {

using boost::gregorian::date;
using boost::posix_time::ptime;

constexpr int kWidth = 27;  // seven cells of four characters, less the last blank

}  // namespace

std::vector<MonthDays> FiringDays(const ZonedSearch& search, date first, unsigned months) {
    std::vector<MonthDays> result;
    date month(first.year(), first.month(), 1);
    for (unsigned n = 0; n < months && month.year() <= 2099; ++n) {
        MonthDays days{month.year(), month.month().as_number(), {}};
        const date next = month + boost::gregorian::months(1);
        for (date day = month; day < next; day += boost::gregorian::days(1)) {
            if (search.FiresBetween(ptime(day), ptime(day + boost::gregorian::days(1)))) {
                days.days.push_back(day.day().as_number());
            }
        }
        result.push_back(std::move(days));
        month = next;
    }
    return result;
}

std::string FormatCalendar(const std::vector<MonthDays>& months) {
    constexpr std::array<const char*, 12> kNames = {
        "January", "February", "March",     "April",   "May",      "June",
        "July",    "August",   "September", "October", "November", "December"};
    std::string text;
    for (const MonthDays& month : months) {
        if (!text.empty()) {
            text += '\n';
        }
        const std::string title =
            std::string(kNames[month.month - 1]) + ' ' + std::to_string(month.year);
        text += std::string((kWidth - title.size()) / 2, ' ') + title + '\n';
        text += "Su  Mo  Tu  We  Th  Fr  Sa\n";
        const date first(month.year, month.month, 1);
        const int lead = first.day_of_week().as_number();
        const int length = first.end_of_month().day().as_number();
        std::string line(static_cast<std::size_t>(lead) * 4, ' ');
        for (int day = 1; day <= length; ++day) {
            const bool fires =
                std::find(month.days.begin(), month.days.end(), day) != month.days.end();
            char cell[8];
            std::snprintf(cell, sizeof cell, "%2d%c ", day, fires ? '*' : ' ');
            line += cell;
            if ((lead + day) % 7 == 0 || day == length) {
                line.erase(line.find_last_not_of(' ') + 1);
                text += line + '\n';
                line.clear();
            }
        }
    }
    return text;
}

std::string CalendarJson(const std::vector<MonthDays>& months, const Zone& zone) {
    std::string json = "{\"zone\":\"" + zone.Name() + "\",\"months\":[";
    for (std::size_t i = 0; i < months.size(); ++i) {
        json += (i ? ",\n  " : "\n  ") + std::string("{\"year\":") +
                std::to_string(months[i].year) + ",\"month\":" + std::to_string(months[i].month) +
                ",\"days\":[";
        for (std::size_t d = 0; d < months[i].days.size(); ++d) {
            if (d) json += ',';
            json += std::to_string(months[i].days[d]);
        }
        json += "]}";
    }
    return json + (months.empty() ? "]}" : "\n]}");
}

}  // namespace Zent::Tools::Cron
