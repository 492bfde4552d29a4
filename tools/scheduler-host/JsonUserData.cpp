#include "tools/scheduler-host/JsonUserData.h"

#include "tools/scheduler-host/JsonText.h"

namespace Zent::Tools::SchedulerHost {

CJsonUserData::CJsonUserData(const boost::json::value& value) : json_(CanonicalJson(value)) {}

std::shared_ptr<CJsonUserData> CJsonUserData::Parse(std::string_view json) {
    return std::make_shared<CJsonUserData>(ParseJsonValue(json));
}

bool CJsonUserData::IsEqual(const std::shared_ptr<Common::Kernel::IMessage>& other) const {
    if (!other || other->GetType() != kType) return false;
    const auto* data = dynamic_cast<const CJsonUserData*>(other.get());
    return data != nullptr && data->json_ == json_;
}

}  // namespace Zent::Tools::SchedulerHost
