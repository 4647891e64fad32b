#pragma once

#include <chrono>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FileDescriptor.h"

namespace orvex::test {

// A fresh folder under the system temp folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Sets (or with nothing, unsets) one environment variable for the guard's lifetime.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// Polls `condition` until it holds or `limit` passes; tests wait this way, never by a bare sleep.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents, unsigned mode = 0644);

// A client of the Unix socket at `path` that has written nothing; empty when connecting
// fails or, unless `waitForRoom`, when the server's queue of unaccepted connections is full.
FileDescriptor idleClient(const std::string& path, bool waitForRoom = true);

// Path of a file under tests/fixtures in the source tree.
std::string fixture(const std::string& name);

// One machine of the fake system tools of tests/fixtures (see fake_tools.py there): the tools
// linked where Paths::relocate finds them under an ORVEX_ROOT folder, and the folder under it
// where they keep their state, their call log and the failures to inject.
class FakeTools {
public:
    // Links each {fixture, absolute system path} under `root`; `machine` names the state folder.
    FakeTools(std::string root, const std::string& machine,
              std::initializer_list<std::pair<const char*, const char*>> tools);

    const std::string& root() const { return root_; }
    const std::string& folder() const { return folder_; }

    // Every call so far as "tool arg arg ..."; only `tool`'s when one is named.
    std::vector<std::string> calls(const std::string& tool = "") const;
    // `tool`'s k-th call (from 1) fails as the real tool fails.
    void failAt(const std::string& tool, size_t k);
    // `tool` answers as without the rights it needs; only on calls containing `matching` when given.
    void deny(const std::string& tool, const std::string& matching = "");
    // Takes back every failure set so far.
    void clearFailures();

protected:
    // The non-empty lines of a file in the state folder.
    std::vector<std::string> lines(const std::string& name) const;

private:
    std::string root_;
    std::string folder_;
};

} // namespace orvex::test
