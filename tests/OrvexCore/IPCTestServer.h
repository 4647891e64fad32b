#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FileDescriptor.h"

namespace orvex::test {

// A real listening Unix socket served on its own thread, one connection at a time. Each
// accepted connection is handed to the handler, and closed when the handler returns. The
// destructor wakes the accept with a connection of its own and joins the thread.
class IPCTestServer {
public:
    using Handler = std::function<void(int fd)>;

    IPCTestServer(std::string path, Handler handler);
    // Reads one request line, keeps it, and answers `responseLine` plus a line feed.
    IPCTestServer(std::string path, std::string responseLine);
    ~IPCTestServer();
    IPCTestServer(const IPCTestServer&) = delete;
    IPCTestServer& operator=(const IPCTestServer&) = delete;

    // The request lines kept by the answering form, oldest first.
    std::vector<std::string> requests() const;

private:
    void serve();

    std::string path_;
    Handler handler_;
    FileDescriptor listening_;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace orvex::test
