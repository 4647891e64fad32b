#pragma once

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "FileDescriptor.h"

namespace orvex::test {

// A loopback TCP socket bound to a free port (listening, it completes connections itself).
inline FileDescriptor loopbackSocket(bool listening, int& port) {
    FileDescriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && listen(fd.get(), 8) != 0) ||
        getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    port = ntohs(address.sin_port);
    return fd;
}

// A loopback port that nothing listens on, so connecting is refused at once.
inline int closedLoopbackPort() {
    int port = 0;
    loopbackSocket(false, port);
    return port;
}

// A bare HTTP listener on 127.0.0.1 that keeps each request as it arrived on the wire (header
// order included, which a parsing server forgets) and answers each with `reply`: never, when
// empty; with a `bodyPace`, the head at once and the body a byte per pace, like a slow line.
class HttpRawListener {
public:
    explicit HttpRawListener(std::string reply, std::chrono::milliseconds bodyPace = {})
        : reply_(std::move(reply)), bodyPace_(bodyPace), listener_(loopbackSocket(true, port_)),
          thread_([this] { serve(); }) {}
    ~HttpRawListener() {
        stopping_ = true;
        thread_.join();
    }

    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    std::vector<std::string> requests() const {
        std::lock_guard lock(lock_);
        return requests_;
    }

private:
    static bool readable(int fd) {
        pollfd entry{fd, POLLIN, 0};
        return poll(&entry, 1, 20) > 0;
    }
    void serve() {
        std::vector<FileDescriptor> held; // unanswered connections stay open until the end
        while (!stopping_) {
            if (!readable(listener_.get())) continue;
            FileDescriptor connection(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!connection) continue;
            std::string request;
            char buffer[4096];
            // The head, then as many body bytes as it announces.
            for (size_t end = std::string::npos;
                 !stopping_ && (end == std::string::npos || request.size() < end);) {
                if (!readable(connection.get())) continue;
                ssize_t count = read(connection.get(), buffer, sizeof buffer);
                if (count <= 0) break;
                request.append(buffer, static_cast<size_t>(count));
                size_t head = request.find("\r\n\r\n"), field = request.find("Content-Length: ");
                if (head != std::string::npos)
                    end = head + 4 + (field < head ? std::stoul(request.substr(field + 16)) : 0);
            }
            {
                std::lock_guard lock(lock_);
                requests_.push_back(request);
            }
            if (reply_.empty()) held.push_back(std::move(connection));
            if (!connection) continue;
            size_t head = bodyPace_.count() == 0 ? reply_.size() : reply_.find("\r\n\r\n") + 4;
            (void)!write(connection.get(), reply_.data(), head);
            for (size_t at = head; at < reply_.size() && !stopping_; ++at) {
                std::this_thread::sleep_for(bodyPace_);
                if (write(connection.get(), reply_.data() + at, 1) != 1) break;
            }
        }
    }

    std::string reply_;
    std::chrono::milliseconds bodyPace_;
    int port_ = 0;
    FileDescriptor listener_;
    std::atomic<bool> stopping_ = false;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace orvex::test
