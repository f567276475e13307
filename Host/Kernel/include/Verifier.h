// Rule checks of the stand-in kernel: what Windows would punish with a bug check fails the test that broke it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace host {

struct Violation {
    std::string rule;
    std::string detail;
};

class Verifier {
public:
    using Handler = std::function<void(const Violation&)>;

    // Records a broken rule. Unless an expectation covers it, the process-wide handler runs:
    // by default it prints the rule and aborts; test programs install one that fails the test.
    void Report(std::string_view rule, std::string detail);

    std::vector<Violation> Violations() const;
    std::size_t Count() const;
    // While an expectation for a rule is active, reports of that rule are only recorded.
    void Expect(std::string_view rule);
    void StopExpecting(std::string_view rule);

    static void SetHandler(Handler handler);

private:
    mutable std::mutex mutex_;
    std::vector<Violation> violations_;
    std::vector<std::string> expected_;
};

}  // namespace host
