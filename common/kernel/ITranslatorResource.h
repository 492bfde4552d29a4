#pragma once

// The optional resource (number 8) through which a module reaches the kernel's translator.
//
//     auto translator = translatorResource->GetTranslator();

#include <memory>

#include "common/kernel/IResource.h"
#include "common/kernel/ITranslator.h"

namespace Zent::Common::Kernel {

class ITranslatorResource : public IResource {
public:
    virtual std::shared_ptr<ITranslator> GetTranslator() = 0;
};

}  // namespace Zent::Common::Kernel
