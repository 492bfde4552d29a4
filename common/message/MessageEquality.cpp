#include "common/message/MessageEquality.h"

#include <google/protobuf/util/message_differencer.h>

namespace Zent::Common::Message {

bool EqualRecords(const google::protobuf::Message& a, const google::protobuf::Message& b) {
    return google::protobuf::util::MessageDifferencer::Equals(a, b);
}

bool EqualUserData(const std::shared_ptr<Kernel::IMessage>& stored,
                   const std::shared_ptr<Kernel::IMessage>& given) {
    return stored ? stored->IsEqual(given) : !given;
}

}  // namespace Zent::Common::Message
