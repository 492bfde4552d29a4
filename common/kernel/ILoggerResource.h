#pragma once

// The kernel's log: one line per call.
//
//     logger->Log("Received message: RegisterTimeEvent", 2, "SchedulerModule");

#include <cstdint>
#include <string>

#include "common/kernel/IResource.h"

namespace Zent::Common::Kernel {

class ILoggerResource : public IResource {
public:
    // Writes one line; level 1 (detail) to 4 (error).
    virtual void Log(const std::string& text, std::int32_t level,
                     const std::string& moduleName) = 0;
};

}  // namespace Zent::Common::Kernel
