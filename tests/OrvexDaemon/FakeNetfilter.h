#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace orvex::test {

// The fake nft and ip of tests/fixtures, installed under an ORVEX_ROOT folder where
// Paths::relocate finds them, and the kernel state they keep in <root>/fake-linux. Set
// ORVEX_ROOT to the same folder for the code under test.
class FakeNetfilter {
public:
    explicit FakeNetfilter(std::string root);

    // The body of the table `inet orvex`; empty when there is none.
    std::string table() const;
    // {"rule": [...], "route": [...]}, each entry the words that describe it.
    nlohmann::json ip() const;
    void setRoutes(const std::vector<std::string>& routes);

    // Every call so far: the tool's name and its arguments separated by blanks.
    std::vector<std::string> calls() const;
    // The tool's call number `number` (counted per tool, from 1) fails.
    void failAt(const std::string& tool, long number) const;
    // Forgets the state, the calls and the failures.
    void reset() const;

private:
    std::string folder() const;
    std::string read(const std::string& name) const;

    std::string root_;
};

} // namespace orvex::test
