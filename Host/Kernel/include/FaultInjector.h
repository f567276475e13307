// Tells any fail-able stand-in routine to fail: once, on its Nth call, or always, with a chosen status.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host {

class FaultInjector {
public:
    // Calls are counted from 1 per routine, from the moment the kernel starts or Reset() runs.
    void FailNext(std::string_view routine, int32_t status);
    void FailCall(std::string_view routine, uint64_t callIndex, int32_t status);
    void FailAlways(std::string_view routine, int32_t status);
    void Clear(std::string_view routine);
    void Reset();  // forget every rule and every count

    // Called by the fail-able routine itself: counts the call and gives 0 (success) or the status to fail with.
    int32_t Check(std::string_view routine);

    uint64_t Calls(std::string_view routine) const;
    std::vector<std::string> RoutinesCalled() const;  // in name order
    // How many injected failures have been handed out so far.
    uint64_t Fired() const;

private:
    struct Rule {
        enum class When { Next, OnCall, Always } when;
        uint64_t callIndex;
        int32_t status;
    };
    // Looked up by a routine's name without building a string: fail-able routines sit on hot paths.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const noexcept { return std::hash<std::string_view>{}(name); }
    };
    mutable std::mutex mutex_;
    std::unordered_map<std::string, uint64_t, NameHash, std::equal_to<>> calls_;
    std::multimap<std::string, Rule, std::less<>> rules_;
    uint64_t fired_ = 0;
};

}  // namespace host
