#pragma once

// Month grids, like cal(1), with the days on which a crontab text fires marked.
//
//          March 2030
//     Su  Mo  Tu  We  Th  Fr  Sa
//                          1   2
//      3   4   5   6   7   8   9
//     ...
//     24  25  26  27  28  29* 30

#include <string>
#include <vector>

#include <boost/date_time/gregorian/gregorian_types.hpp>

#include "ZonedSearch.h"

namespace Zent::Tools::Cron {

// The days of one month on which the text fires at least once (in the search's zone).
struct MonthDays {
    int year;
    int month;
    std::vector<int> days;
};

// `months` months from the month of `first` (a local date), stopping after 2099.
std::vector<MonthDays> FiringDays(const ZonedSearch& search, boost::gregorian::date first,
                                  unsigned months);

// The grids, one month after another, a `*` after each firing day.
std::string FormatCalendar(const std::vector<MonthDays>& months);

// {"zone":"...","months":[{"year":2030,"month":3,"days":[29]},...]}
std::string CalendarJson(const std::vector<MonthDays>& months, const Zone& zone);

}  // namespace Zent::Tools::Cron
