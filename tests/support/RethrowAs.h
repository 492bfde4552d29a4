#pragma once

// What an exception holder carries, seen from a catch clause: the what() text when a handler
// for `E` catches it, and a describing text otherwise, so that a failed expectation says
// what came instead.
//
//     EXPECT_EQ(RethrowAs<CFormatException>(*reply->GetHolder()), "Bad format");

#include <exception>
#include <string>

#include "common/module/ExceptionHolder.h"

namespace Zent::Testing {

template <typename E>
std::string RethrowAs(const Common::Module::CExceptionHolder& holder) {
    try {
        holder.Rethrow();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("another class: ") + e.what();
    } catch (...) {
        return "not an exception class";
    }
    return "nothing thrown";  // a broken holder; Rethrow promises to throw
}

}  // namespace Zent::Testing
