#pragma once

// Plain English for a crontab text.
//
//     Explain("0 30 8 ? * mon-fri")   // "At 08:30:00, Monday through Friday"
//     Explain("0 0 12 ? * 5#5")       // "At 12:00:00, on the fifth Friday of the month"

#include <string>

namespace Zent::Tools::Cron {

// One sentence saying when a text fires. The text must already have been accepted by
// the engine; raises std::invalid_argument when its fields cannot be read.
std::string Explain(const std::string& text);

}  // namespace Zent::Tools::Cron
