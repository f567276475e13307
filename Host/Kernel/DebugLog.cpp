// Keeps DbgPrint output for tests, and echoes it when a tool asks.
#include "DebugLog.h"

#include <cstdio>

namespace host {

void DebugLog::Append(std::string message) {
    std::lock_guard lock(mutex_);
    if (echo_) {
        std::fputs(message.c_str(), stderr);
    }
    messages_.push_back(std::move(message));
}

std::vector<std::string> DebugLog::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void DebugLog::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace host
