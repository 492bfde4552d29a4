#include "common/module/InterModuleException.h"

namespace Zent::Common::Module {

CInterModuleException::CInterModuleException(const std::string& text) : std::runtime_error(text) {}

CInterModuleException::~CInterModuleException() = default;

CInterModuleExceptionDefault::CInterModuleExceptionDefault(const std::string& text)
    : CInterModuleExceptionImpl(text) {}

CInterModuleExceptionDefault::~CInterModuleExceptionDefault() = default;

CLocalizedException::CLocalizedException(const std::string& text, std::uint32_t code,
                                         std::uint32_t group)
    : CInterModuleExceptionImpl(text), code_(code), group_(group) {}

CLocalizedException::~CLocalizedException() = default;

}  // namespace Zent::Common::Module
