#include "host/TranslatorResource.h"

#include "host/IcuTranslator.h"

namespace Zent::Host {

CTranslatorResource::CTranslatorResource(std::shared_ptr<Common::Kernel::ITranslator> translator)
    : translator_(translator ? std::move(translator) : std::make_shared<CIcuTranslator>()) {}

std::shared_ptr<Common::Kernel::ITranslator> CTranslatorResource::GetTranslator() {
    return translator_;
}

}  // namespace Zent::Host
