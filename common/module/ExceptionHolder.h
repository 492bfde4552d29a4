#pragma once

// Carriers for an exception that travels inside an error reply to another module, where it
// is thrown again with its own class.
//
//     std::unique_ptr<CExceptionHolder> holder =
//         std::make_unique<CExceptionHolderImpl<CFormatException>>(CFormatException("bad"));
//     holder->What();      // "bad"
//     holder->Rethrow();   // throws a CFormatException "bad"

#include <string>
#include <utility>

namespace Zent::Common::Module {

class CExceptionHolder {
public:
    // Throws a copy of the held exception.
    [[noreturn]] virtual void Rethrow() const = 0;
    virtual ~CExceptionHolder() = default;
    // The held exception's what() text.
    virtual std::string What() const = 0;
};

// Holds its own copy of a `T` (an exception class with a what() text) and throws copies of
// it by value, so a receiver catches it as `T` or as any base of `T`.
template <class T>
class CExceptionHolderImpl : public CExceptionHolder {
public:
    explicit CExceptionHolderImpl(T exception) : exception_(std::move(exception)) {}

    [[noreturn]] void Rethrow() const override { throw exception_; }
    std::string What() const override { return exception_.what(); }

private:
    T exception_;
};

}  // namespace Zent::Common::Module
