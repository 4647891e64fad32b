#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

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

} // namespace orvex::test
