// Records broken kernel rules and escalates the unexpected ones.
#include "Verifier.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace host {
namespace {

void AbortOnViolation(const Violation& violation) {
    std::fprintf(stderr, "VERIFIER: %s: %s\n", violation.rule.c_str(), violation.detail.c_str());
    std::abort();
}

Verifier::Handler& GlobalHandler() {
    static Verifier::Handler handler = AbortOnViolation;
    return handler;
}

}  // namespace

void Verifier::Report(std::string_view rule, std::string detail) {
    Violation violation{std::string(rule), std::move(detail)};
    bool expected = false;
    {
        std::lock_guard lock(mutex_);
        violations_.push_back(violation);
        expected = std::find(expected_.begin(), expected_.end(), rule) != expected_.end();
    }
    if (!expected) {
        GlobalHandler()(violation);
    }
}

std::vector<Violation> Verifier::Violations() const {
    std::lock_guard lock(mutex_);
    return violations_;
}

std::size_t Verifier::Count() const {
    std::lock_guard lock(mutex_);
    return violations_.size();
}

void Verifier::Expect(std::string_view rule) {
    std::lock_guard lock(mutex_);
    expected_.emplace_back(rule);
}

void Verifier::StopExpecting(std::string_view rule) {
    std::lock_guard lock(mutex_);
    auto it = std::find(expected_.begin(), expected_.end(), rule);
    if (it != expected_.end()) {
        expected_.erase(it);
    }
}

void Verifier::SetHandler(Handler handler) { GlobalHandler() = handler ? std::move(handler) : AbortOnViolation; }

}  // namespace host
