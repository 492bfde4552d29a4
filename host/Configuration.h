#pragma once

// Settings by key, as the substitute kernel hands them to modules both as install
// configuration (resource 2) and as run-time configuration (resource 11).
//
//     auto settings = std::make_shared<CConfiguration>(CConfiguration::Values{{"a", "1"}});
//     settings->GetValue("a");   // "1"; an unknown key gives std::nullopt
//
// Thread-safe. The class implements both configuration interfaces, so it holds two
// IResource bases: convert it to IResource through the interface it stands for, for
// example std::static_pointer_cast<IConfigurationResource>(settings).

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "common/kernel/IConfigurationResource.h"

namespace Zent::Host {

class CConfiguration : public Common::Kernel::IInstallConfigurationResource,
                       public Common::Kernel::IConfigurationResource {
public:
    using Values = std::map<std::string, std::string>;

    explicit CConfiguration(Values values = {});

    std::optional<std::string> GetValue(const std::string& key) const override;
    // Adds or replaces one setting.
    void SetValue(const std::string& key, std::string value);

private:
    mutable std::mutex lock_;
    Values values_;
};

}  // namespace Zent::Host
