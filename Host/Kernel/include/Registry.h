// The in-memory registry: keys by absolute path (case-insensitive), each with named typed values.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct RegistryValue {
    uint32_t type = 0;
    std::vector<uint8_t> data;

    std::u16string AsString() const;  // REG_SZ data up to its terminating zero
    uint32_t AsDword() const;
};

class Registry {
public:
    void CreateKey(std::u16string_view path);
    // Fails (returns false) when the key does not exist, as the kernel's routine does.
    bool SetValue(std::u16string_view path, std::u16string_view name, uint32_t type, const void* data, uint32_t length);
    std::optional<RegistryValue> Value(std::u16string_view path, std::u16string_view name) const;

private:
    mutable std::mutex mutex_;
    std::map<std::u16string, std::map<std::u16string, RegistryValue>> keys_;
};

}  // namespace host
