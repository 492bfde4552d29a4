#include "common/message/MessageEquality.h"

#include <google/protobuf/util/message_differencer.h>
#include <boost/date_time/posix_time/posix_time.hpp>

namespace Zent::Common::Message {

bool EqualRecords(const google::protobuf::Message& a, const google::protobuf::Message& b) {
    return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

bool EqualUserData(const std::shared_ptr<Kernel::IMessage>& stored,
                   const std::shared_ptr<Kernel::IMessage>& given) {
    return stored ? stored->IsEqual(given) : !given;
}

std::size_t HashPart(const google::protobuf::Message& record) {
    // Partial: a request may carry an incomplete record, and it still has to hash.
    return std::hash<std::string>{}(record.SerializePartialAsString());
}

std::size_t HashPart(const std::string& text) {
    return std::hash<std::string>{}(text);
}

std::size_t HashPart(const boost::posix_time::ptime& time) {
    // Special values all hash alike; ordinary times by their ticks.
    if (time.is_special()) return 0;
    static const boost::posix_time::ptime epoch(boost::gregorian::date(1970, 1, 1));
    return std::hash<std::int64_t>{}((time - epoch).ticks());
}

std::size_t HashPart(const std::shared_ptr<Kernel::IMessage>& userData) {
    return userData ? userData->GetHash() : 0;
}

}  // namespace Zent::Common::Message
