#pragma once

// Building blocks for the IsEqual and GetHash operations of the message classes.
//
//     bool CPing::IsEqual(const std::shared_ptr<Kernel::IMessage>& other) const {
//         return IsSameClassAnd(*this, other, [this](const CPing& that) {
//             return EqualRecords(time_, that.time_) && EqualUserData(userData_, that.userData_);
//         });
//     }
//     std::size_t CPing::GetHash() const { return HashContent(*this, time_, userData_); }

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <google/protobuf/message.h>
#include <boost/date_time/posix_time/ptime.hpp>

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

// Hashes of the parts that IsEqual compares, each equal for parts that the matching
// equality above calls equal. A record hashes its serialized bytes, which equal records
// share as long as it holds no floating-point or map field and no unknown field (true of
// every record the messages here carry).
std::size_t HashPart(const google::protobuf::Message& record);
std::size_t HashPart(const std::string& text);
std::size_t HashPart(const boost::posix_time::ptime& time);
// The user data's own GetHash; 0 for none.
std::size_t HashPart(const std::shared_ptr<Kernel::IMessage>& userData);
template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
std::size_t HashPart(T value) {
    return std::hash<T>{}(value);
}
template <class Record>
std::size_t HashPart(const std::vector<Record>& records);

// Folds `value` into `seed`; the order of the folds matters.
inline std::size_t HashCombine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

template <class Record>
std::size_t HashPart(const std::vector<Record>& records) {
    std::size_t seed = records.size();
    for (const Record& record : records)
        seed = HashCombine(seed, HashPart(record));
    return seed;
}

// A GetHash for `self` that mixes its type number with the hashes of `parts`, in order.
template <class... Parts>
std::size_t HashContent(const Kernel::IMessage& self, const Parts&... parts) {
    std::size_t seed = std::hash<std::int32_t>{}(self.GetType());
    ((seed = HashCombine(seed, HashPart(parts))), ...);
    return seed;
}

}  // namespace Zent::Common::Message
