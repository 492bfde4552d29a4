#include "host/IdGenerator.h"

namespace Zent::Host {

std::uint32_t CIdGenerator::NextId() {
    std::uint32_t id = ++last_;
    while (id == 0)
        id = ++last_;
    return id;
}

}  // namespace Zent::Host
