#pragma once

// Time-zone descriptions for people, from the kernel's translator.
//
//     auto translator = translatorResource->GetTranslator();
//     auto berlin = translator->GetTimeZoneDetails("Europe/Berlin", "de_DE", now, false);

#include <string>
#include <vector>

#include <boost/date_time/posix_time/ptime.hpp>

#include "datadefinition/Common.pb.h"

namespace Zent::Common::Kernel {

// Describes time zones for people.
class ITranslator {
public:
    using TimeZoneDetails = DataDefinition::Common::TimeZoneDetails;

    virtual ~ITranslator() = default;
    // The zone `timeZoneId` as it is at the UTC instant `time`, named in `localeName`.
    // Throws std::runtime_error for an unknown zone.
    virtual TimeZoneDetails GetTimeZoneDetails(const std::string& timeZoneId,
                                               const std::string& localeName,
                                               const boost::posix_time::ptime& time, bool flag) = 0;
    // Every zone the translator knows, as at `time`.
    virtual std::vector<TimeZoneDetails> GetAllTimeZoneDetails(const std::string& localeName,
                                                               const boost::posix_time::ptime& time,
                                                               bool flag) = 0;
};

}  // namespace Zent::Common::Kernel
