#pragma once

// The id generator and the two configuration resources a module receives and keeps.
//
//     std::uint32_t requestId = ids->NextId();
//     std::optional<std::string> value = configuration->GetValue("key");

#include <cstdint>
#include <optional>
#include <string>

#include "common/kernel/IResource.h"

namespace Zent::Common::Kernel {

class IIdGeneratorResource : public IResource {
public:
    // A process-wide unique request id.
    virtual std::uint32_t NextId() = 0;
};

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
