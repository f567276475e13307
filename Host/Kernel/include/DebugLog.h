// Captures the text the driver sends to the kernel debugger, one entry per DbgPrint call.
#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace host {

class DebugLog {
public:
    void Append(std::string message);
    std::vector<std::string> Messages() const;
    void Clear();
    void EchoTo(bool toStderr) { echo_ = toStderr; }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
    bool echo_ = false;
};

}  // namespace host
