#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <string>

namespace orvex::test {

// The error of type E that `action` throws; a test failure, and nothing, when it throws none.
template <typename E, typename F> std::optional<E> thrown(F&& action) {
    try {
        action();
    } catch (const E& error) {
        return error;
    }
    ADD_FAILURE() << "nothing thrown";
    return std::nullopt;
}

// What the user would read of the error `action` throws; empty when it throws nothing.
template <typename F> std::string whatOf(F&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

} // namespace orvex::test
