#include "IPCTestServer.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>

#include "SocketPlatform.h"
#include "UnixSocket.h"

namespace orvex::test {

IPCTestServer::IPCTestServer(std::string path, Handler handler)
    : path_(std::move(path)), handler_(std::move(handler)), listening_(UnixSocket::listen(path_)),
      thread_([this] { serve(); }) {}

IPCTestServer::IPCTestServer(std::string path, std::string responseLine)
    : IPCTestServer(std::move(path), [this, responseLine = std::move(responseLine)](int fd) {
          std::string request = UnixSocket::readUntilNewline(fd);
          {
              std::lock_guard lock(mutex_);
              requests_.push_back(request);
          }
          UnixSocket::writeAll(fd, responseLine + "\n");
      }) {}

IPCTestServer::~IPCTestServer() {
    stopping_ = true;
    FileDescriptor wake(SocketPlatform::openStream());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    ::connect(wake.get(), reinterpret_cast<const sockaddr*>(&address),
              SocketPlatform::finishAddress(address));
    thread_.join();
}

std::vector<std::string> IPCTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void IPCTestServer::serve() {
    for (;;) {
        FileDescriptor connection = UnixSocket::accept(listening_.get());
        if (!connection || stopping_) return;
        try {
            handler_(connection.get());
        } catch (const std::exception&) {
            // A client that went away mid-answer is part of what these tests provoke.
        }
    }
}

} // namespace orvex::test
