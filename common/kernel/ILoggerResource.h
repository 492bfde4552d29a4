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
    // False when lines of `level` are dropped anyway, so that writers need not build them.
    virtual bool IsEnabled(std::int32_t level) const {
        (void)level;
        return true;
    }
};

}  // namespace Zent::Common::Kernel
