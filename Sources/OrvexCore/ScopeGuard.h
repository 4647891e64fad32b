#pragma once

#include <utility>

namespace orvex {

// Runs a clean-up on every way out of a scope unless dismissed.
template <typename F> class ScopeGuard {
public:
    explicit ScopeGuard(F action) : action_(std::move(action)) {}
    ~ScopeGuard() {
        if (active_) action_();
    }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;
    void dismiss() { active_ = false; }

private:
    F action_;
    bool active_ = true;
};

} // namespace orvex
