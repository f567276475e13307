// Counts the calls of fail-able routines and answers with the failure a test asked for.
#include "FaultInjector.h"

#include <algorithm>

namespace host {

void FaultInjector::FailNext(std::string_view routine, int32_t status) {
    std::lock_guard lock(mutex_);
    rules_.emplace(std::string(routine), Rule{Rule::When::Next, 0, status});
}

void FaultInjector::FailCall(std::string_view routine, uint64_t callIndex, int32_t status) {
    std::lock_guard lock(mutex_);
    rules_.emplace(std::string(routine), Rule{Rule::When::OnCall, callIndex, status});
}

void FaultInjector::FailAlways(std::string_view routine, int32_t status) {
    std::lock_guard lock(mutex_);
    rules_.emplace(std::string(routine), Rule{Rule::When::Always, 0, status});
}

void FaultInjector::Clear(std::string_view routine) {
    std::lock_guard lock(mutex_);
    auto [first, last] = rules_.equal_range(routine);
    rules_.erase(first, last);
}

void FaultInjector::Reset() {
    std::lock_guard lock(mutex_);
    rules_.clear();
    calls_.clear();
    fired_ = 0;
}

uint64_t FaultInjector::Fired() const {
    std::lock_guard lock(mutex_);
    return fired_;
}

int32_t FaultInjector::Check(std::string_view routine) {
    std::lock_guard lock(mutex_);
    auto counted = calls_.find(routine);
    if (counted == calls_.end()) {
        counted = calls_.emplace(std::string(routine), 0).first;
    }
    const uint64_t call = ++counted->second;
    if (rules_.empty()) {
        return 0;
    }
    auto [first, last] = rules_.equal_range(routine);
    for (auto it = first; it != last; ++it) {
        const Rule rule = it->second;
        switch (rule.when) {
        case Rule::When::Next:
            rules_.erase(it);
            ++fired_;
            return rule.status;
        case Rule::When::OnCall:
            if (rule.callIndex == call) {
                rules_.erase(it);
                ++fired_;
                return rule.status;
            }
            break;
        case Rule::When::Always:
            ++fired_;
            return rule.status;
        }
    }
    return 0;
}

uint64_t FaultInjector::Calls(std::string_view routine) const {
    std::lock_guard lock(mutex_);
    auto it = calls_.find(routine);
    return it == calls_.end() ? 0 : it->second;
}

std::vector<std::string> FaultInjector::RoutinesCalled() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, count] : calls_) {
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace host
