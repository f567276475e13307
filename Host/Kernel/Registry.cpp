// The in-memory registry behind RtlWriteRegistryValue.
#include "Registry.h"

#include <cstring>

#include "Text.h"

namespace host {

std::u16string RegistryValue::AsString() const {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0) {
            break;
        }
        text.push_back(c);
    }
    return text;
}

uint32_t RegistryValue::AsDword() const {
    uint32_t value = 0;
    std::memcpy(&value, data.data(), std::min<std::size_t>(data.size(), sizeof value));
    return value;
}

void Registry::CreateKey(std::u16string_view path) {
    std::lock_guard lock(mutex_);
    keys_[UpperAscii(path)];
}

bool Registry::SetValue(std::u16string_view path, std::u16string_view name, uint32_t type, const void* data,
                        uint32_t length) {
    std::lock_guard lock(mutex_);
    auto key = keys_.find(UpperAscii(path));
    if (key == keys_.end()) {
        return false;
    }
    RegistryValue value{type, {}};
    const auto* bytes = static_cast<const uint8_t*>(data);
    value.data.assign(bytes, bytes + length);
    key->second[UpperAscii(name)] = std::move(value);
    return true;
}

std::optional<RegistryValue> Registry::Value(std::u16string_view path, std::u16string_view name) const {
    std::lock_guard lock(mutex_);
    auto key = keys_.find(UpperAscii(path));
    if (key == keys_.end()) {
        return std::nullopt;
    }
    auto value = key->second.find(UpperAscii(name));
    if (value == key->second.end()) {
        return std::nullopt;
    }
    return value->second;
}

}  // namespace host
