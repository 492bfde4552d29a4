#pragma once

// The substitute kernel's request ids: 1, 2, 3, ... for the life of the generator.
//
//     CIdGenerator ids;
//     std::uint32_t first = ids.NextId();   // 1
//
// Thread-safe. After 2^32 - 1 ids the count starts again at 1; 0 is never handed out.

#include <atomic>
#include <cstdint>

#include "common/kernel/IIdGeneratorResource.h"

namespace Zent::Host {

class CIdGenerator : public Common::Kernel::IIdGeneratorResource {
public:
    std::uint32_t NextId() override;

private:
    std::atomic<std::uint32_t> last_{0};
};

}  // namespace Zent::Host
