#pragma once

// Building blocks for the IsEqual operation of the message classes.
//
//     bool CPing::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
//         return IsSameClassAnd(*this, other, [this](const CPing& that) {
//             return EqualRecords(time_, that.time_) && EqualUserData(userData_, that.userData_);
//         });
//     }

#include <algorithm>
#include <memory>
#include <vector>

#include <google/protobuf/message.h>

#include "common/kernel/IMessage.h"

namespace Zent::Common::Message {

// True when `other` is a `T` (not null) with the type number of `self` whose content
// `sameContent(const T&)` accepts.
template <class T, class SameContent>
bool IsSameClassAnd(const T& self, const std::shared_ptr<Kernel::IMessage>& other,
                    SameContent sameContent) {
    const auto* that = dynamic_cast<const T*>(other.get());
    return that != nullptr && that->GetType() == self.GetType() && sameContent(*that);
}

// True when both records are of the same kind and have the same fields set to equal values.
bool EqualRecords(const google::protobuf::Message& a, const google::protobuf::Message& b);

// True for lists of the same length whose records are equal pairwise.
template <class Record>
bool EqualRecords(const std::vector<Record>& a, const std::vector<Record>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const Record& x, const Record& y) { return EqualRecords(x, y); });
}

// User data as a registration knows it: `stored->IsEqual(given)`; an empty `stored` equals
// only an empty `given`.
bool EqualUserData(const std::shared_ptr<Kernel::IMessage>& stored,
                   const std::shared_ptr<Kernel::IMessage>& given);

}  // namespace Zent::Common::Message
