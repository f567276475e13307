// Helpers for tests on the stand-in kernel: expecting a broken rule, reading registry and debug text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Kernel.h"

namespace testsupport {

// While alive, reports of the rule are recorded instead of failing the test; at its end the rule must have
// been reported at least once since it began.
class ExpectViolation {
public:
    ExpectViolation(host::Kernel& kernel, std::string rule) : kernel_(kernel), rule_(std::move(rule)) {
        before_ = CountOf();
        kernel_.Rules().Expect(rule_);
    }
    ~ExpectViolation() {
        kernel_.Rules().StopExpecting(rule_);
        EXPECT_GT(CountOf(), before_) << "the verifier did not report " << rule_;
    }
    ExpectViolation(const ExpectViolation&) = delete;
    ExpectViolation& operator=(const ExpectViolation&) = delete;

private:
    std::size_t CountOf() const {
        std::size_t count = 0;
        for (const auto& violation : kernel_.Rules().Violations()) {
            count += violation.rule == rule_ ? 1 : 0;
        }
        return count;
    }
    host::Kernel& kernel_;
    std::string rule_;
    std::size_t before_ = 0;
};

}  // namespace testsupport
