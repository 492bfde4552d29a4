#pragma once

// A message that is its text: the user data of test registrations, and a payload for the
// bus. Two are equal when their texts are; a fixed hash makes different texts collide.
//
//     auto data = std::make_shared<CTextMessage>("backup");   // GetTypeName() == "Text:backup"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/kernel/IMessage.h"

namespace Zent::Testing {

class CTextMessage : public Common::Kernel::IMessage {
public:
    // A type number no real message uses.
    static constexpr std::int32_t kType = 9000;

    explicit CTextMessage(std::string text, std::optional<std::size_t> hash = std::nullopt,
                          std::int32_t type = kType)
        : text_(std::move(text)), hash_(hash), type_(type) {}
    std::int32_t GetType() const override { return type_; }
    std::string GetTypeName() const override { return "Text:" + text_; }
    std::size_t GetHash() const override {
        return hash_ ? *hash_ : std::hash<std::string>{}(text_);
    }
    bool IsEqual(const std::shared_ptr<IMessage>& other) const override {
        const auto* text = dynamic_cast<const CTextMessage*>(other.get());
        return text != nullptr && text->type_ == type_ && text->text_ == text_;
    }
    const std::string& Text() const { return text_; }

private:
    std::string text_;
    std::optional<std::size_t> hash_;
    std::int32_t type_;
};

}  // namespace Zent::Testing
