#include "host/Configuration.h"

namespace Zent::Host {

CConfiguration::CConfiguration(Values values) : values_(std::move(values)) {}

std::optional<std::string> CConfiguration::GetValue(const std::string& key) const {
    std::lock_guard lock(lock_);
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

void CConfiguration::SetValue(const std::string& key, std::string value) {
    std::lock_guard lock(lock_);
    values_[key] = std::move(value);
}

}  // namespace Zent::Host
