#pragma once

// Why the engine refused a crontab text, said for a person: which field and item are at
// fault (with a caret under the item), and hints for texts written for other crontab
// dialects.
//
//     Diagnose("0 70 12 * * ?", "Invalid range. Hour: start=70 end=70")
//     // {"minute field (0..59), item '70':", "  0 70 12 * * ?", "    ^^"}

#include <string>
#include <vector>

namespace Zent::Tools::Cron {

// The lines to print after the engine's `reason` for refusing `text`; empty when the
// fault cannot be placed. Asks the engine about single items of the text to find the one
// it refused.
std::vector<std::string> Diagnose(const std::string& text, const std::string& reason);

}  // namespace Zent::Tools::Cron
