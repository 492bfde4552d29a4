#pragma once

// The translator resource (number 8) of the substitute kernel: hands out one shared
// translator, by default the ICU one.
//
//     auto resource = std::make_shared<CTranslatorResource>();
//     auto details = resource->GetTranslator()->GetTimeZoneDetails("Europe/Berlin", "en", t,
//     false);

#include <memory>

#include "common/kernel/ITranslatorResource.h"

namespace Zent::Host {

class CTranslatorResource : public Common::Kernel::ITranslatorResource {
public:
    // A resource for `translator`; a null one is replaced by a CIcuTranslator.
    explicit CTranslatorResource(std::shared_ptr<Common::Kernel::ITranslator> translator = {});

    // Always the same translator, never null.
    std::shared_ptr<Common::Kernel::ITranslator> GetTranslator() override;

private:
    const std::shared_ptr<Common::Kernel::ITranslator> translator_;
};

}  // namespace Zent::Host
