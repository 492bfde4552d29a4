#pragma once

// Exceptions that may cross module borders inside an error reply (CResponseException).
// Each can make a holder that carries a copy of it to the other module.
//
//     try { ... } catch (const std::exception& e) {
//         reply->SetHolder(CInterModuleExceptionDefault(e.what()).CreateHolder());
//     }
//
// CreateHolder copies the exception as the class named in CInterModuleExceptionImpl<T>;
// a class derived from CLocalizedException that does not override it therefore travels as
// a CLocalizedException. To keep the exact class, build a CExceptionHolderImpl of it.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "common/module/ExceptionHolder.h"

namespace Zent::Common::Module {

class CInterModuleException : public std::runtime_error {
public:
    explicit CInterModuleException(const std::string& text);
    ~CInterModuleException() override;

    // A new holder that owns a copy of this exception.
    virtual std::unique_ptr<CExceptionHolder> CreateHolder() const = 0;
};

// Implements CreateHolder for `T`, the class that derives from it.
template <class T>
class CInterModuleExceptionImpl : public CInterModuleException {
public:
    using CInterModuleException::CInterModuleException;

    std::unique_ptr<CExceptionHolder> CreateHolder() const override {
        return std::make_unique<CExceptionHolderImpl<T>>(static_cast<const T&>(*this));
    }
};

// A failure that has no class of its own: only a text.
class CInterModuleExceptionDefault
    : public CInterModuleExceptionImpl<CInterModuleExceptionDefault> {
public:
    explicit CInterModuleExceptionDefault(const std::string& text);
    ~CInterModuleExceptionDefault() override;
};

// A failure that the receiver can tell apart by its code within a group of codes.
class CLocalizedException : public CInterModuleExceptionImpl<CLocalizedException> {
public:
    CLocalizedException(const std::string& text, std::uint32_t code, std::uint32_t group);
    ~CLocalizedException() override;

    std::uint32_t GetCode() const { return code_; }
    std::uint32_t GetGroup() const { return group_; }

private:
    std::uint32_t code_;
    std::uint32_t group_;
};

}  // namespace Zent::Common::Module
