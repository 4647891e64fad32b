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

// A bare plain-HTTP listener on 127.0.0.1 that keeps each request exactly as it arrived on
// the wire (the header order included, which a parsing server forgets) and answers every one
// with `reply`; with an empty reply it reads the request and never answers. With a `bodyPace`
// the reply's head goes out at once and its body one byte per pace, like a slow line.
class HttpRawListener {
public:
    explicit HttpRawListener(std::string reply, std::chrono::milliseconds bodyPace = {})
        : reply_(std::move(reply)), bodyPace_(bodyPace) {
        listener_.reset(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (!listener_ || bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(listener_.get(), 8) != 0 ||
            getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("raw listener: cannot listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }

    ~HttpRawListener() {
        stopping_ = true;
        thread_.join();
    }

    int port() const { return port_; }
    std::string baseURL() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

    std::vector<std::string> requests() const {
        std::lock_guard lock(lock_);
        return requests_;
    }

private:
    bool readable(int fd) {
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
            size_t expected = std::string::npos;
            while (!stopping_ && request.size() != expected) {
                if (!readable(connection.get())) continue;
                char buffer[4096];
                ssize_t count = read(connection.get(), buffer, sizeof buffer);
                if (count <= 0) break;
                request.append(buffer, static_cast<size_t>(count));
                size_t end = request.find("\r\n\r\n");
                if (end != std::string::npos && expected == std::string::npos) {
                    size_t length = 0;
                    size_t field = request.find("Content-Length: ");
                    if (field != std::string::npos && field < end)
                        length = std::stoul(request.substr(field + 16));
                    expected = end + 4 + length;
                }
            }
            {
                std::lock_guard lock(lock_);
                requests_.push_back(request);
            }
            if (reply_.empty())
                held.push_back(std::move(connection));
            else
                answer(connection.get());
        }
    }

    void answer(int fd) {
        if (bodyPace_.count() == 0) {
            (void)!write(fd, reply_.data(), reply_.size());
            return;
        }
        size_t head = reply_.find("\r\n\r\n");
        head = head == std::string::npos ? reply_.size() : head + 4;
        (void)!write(fd, reply_.data(), head);
        for (size_t at = head; at < reply_.size() && !stopping_; ++at) {
            std::this_thread::sleep_for(bodyPace_);
            if (write(fd, reply_.data() + at, 1) != 1) return;
        }
    }

    std::string reply_;
    std::chrono::milliseconds bodyPace_;
    FileDescriptor listener_;
    int port_ = 0;
    std::atomic<bool> stopping_ = false;
    mutable std::mutex lock_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace orvex::test
