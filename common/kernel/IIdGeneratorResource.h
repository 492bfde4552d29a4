#pragma once

// The kernel's source of request ids.
//
//     std::uint32_t requestId = ids->NextId();

#include <cstdint>

#include "common/kernel/IResource.h"

namespace Zent::Common::Kernel {

class IIdGeneratorResource : public IResource {
public:
    // A process-wide unique request id.
    virtual std::uint32_t NextId() = 0;
};

}  // namespace Zent::Common::Kernel
