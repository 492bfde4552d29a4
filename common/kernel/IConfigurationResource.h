#pragma once

// The two configuration resources a module receives and keeps.
//
//     std::optional<std::string> value = configuration->GetValue("key");

#include <optional>
#include <string>

#include "common/kernel/IResource.h"

namespace Zent::Common::Kernel {

// Installation settings, read by key.
class IInstallConfigurationResource : public IResource {
public:
    virtual std::optional<std::string> GetValue(const std::string& key) const = 0;
};

// Run-time settings, read by key.
class IConfigurationResource : public IResource {
public:
    virtual std::optional<std::string> GetValue(const std::string& key) const = 0;
};

}  // namespace Zent::Common::Kernel
