#include "UnixSocket.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include "SocketPlatform.h"

namespace orvex::UnixSocket {

namespace {

std::string describe(SocketError::Kind kind, int errorNumber) {
    switch (kind) {
    case SocketError::Kind::create:
        return std::string("не удалось создать сокет: ") + std::strerror(errorNumber);
    case SocketError::Kind::connect:
        return std::string("не удалось подключиться к службе: ") + std::strerror(errorNumber);
    case SocketError::Kind::bind:
        return std::string("не удалось занять сокет: ") + std::strerror(errorNumber);
    case SocketError::Kind::listen:
        return std::string("не удалось слушать сокет: ") + std::strerror(errorNumber);
    case SocketError::Kind::tooLongPath:
        return "слишком длинный путь к сокету";
    }
    return {};
}

struct Address {
    sockaddr_un record{};
    socklen_t length = 0;
};

Address makeAddr(const std::string& path) {
    if (path.size() > maxPathBytes) throw SocketError(SocketError::Kind::tooLongPath);
    Address address;
    address.record.sun_family = AF_UNIX;
    std::memcpy(address.record.sun_path, path.data(), path.size());
    address.length = SocketPlatform::finishAddress(address.record);
    return address;
}

// The limit is applied in whole seconds. A zero would switch the limit off altogether, so
// anything shorter than a second (or not a number) waits one second instead.
timeval wholeSeconds(double timeout) {
    double seconds = std::floor(timeout);
    if (!(seconds >= 1)) seconds = 1;
    seconds = std::min(seconds, 1e8);
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    return limit;
}

} // namespace

SocketError::SocketError(Kind kind, int errorNumber)
    : Error(describe(kind, errorNumber)), kind(kind), errorNumber(errorNumber) {}

FileDescriptor listen(const std::string& path) {
    // The length is checked before the stale file is removed, so a refused path never costs
    // whatever lies at it.
    Address address = makeAddr(path);
    ::unlink(path.c_str());
    FileDescriptor fd(SocketPlatform::openStream());
    if (!fd) throw SocketError(SocketError::Kind::create, errno);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address.record), address.length) != 0)
        throw SocketError(SocketError::Kind::bind, errno);
    if (::listen(fd.get(), backlog) != 0) throw SocketError(SocketError::Kind::listen, errno);
    ::chmod(path.c_str(), 0666);
    return fd;
}

AcceptFailure classifyAccept(int errorNumber) {
    switch (errorNumber) {
    case EBADF:
    case EINVAL: // Linux: the socket was shut down or never listened
    case ENOTSOCK:
    case EOPNOTSUPP:
    case EFAULT:
        return AcceptFailure::listening;
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
        return AcceptFailure::resources;
    default:
        // A client that gave up between connecting and being accepted (ECONNABORTED), an
        // interrupted call, errors Linux passes on from the new connection: none is a fault
        // of the listening socket, and ending an accept loop over them would be.
        return AcceptFailure::connection;
    }
}

FileDescriptor accept(int listening) {
    for (;;) {
        int fd = SocketPlatform::acceptStream(listening);
        if (fd < 0) {
            if (classifyAccept(errno) == AcceptFailure::connection) continue;
            return FileDescriptor();
        }
        FileDescriptor connection(fd);
        if (SocketPlatform::prepare(fd) == 0) return connection;
    }
}

namespace {

using Clock = std::chrono::steady_clock;

std::string readLine(int fd, std::size_t limit, const Clock::time_point* deadline) {
    std::string result;
    char buffer[readChunk];
    while (result.size() < limit) {
        if (deadline) {
            // Each read may wait only for what is left of the whole: a per-read limit alone
            // would let a client that sends a byte now and then hold the connection for ever.
            auto left = std::chrono::ceil<std::chrono::microseconds>(*deadline - Clock::now()).count();
            if (left <= 0) break;
            timeval wait{};
            wait.tv_sec = static_cast<time_t>(left / 1'000'000);
            wait.tv_usec = static_cast<suseconds_t>(left % 1'000'000);
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        }
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (count == 0) break;
        std::string_view chunk(buffer, static_cast<std::size_t>(count));
        std::size_t lineFeed = chunk.find('\n');
        result.append(chunk.substr(0, lineFeed));
        if (lineFeed != std::string_view::npos) break;
    }
    return result;
}

} // namespace

std::string readUntilNewline(int fd, std::size_t limit) { return readLine(fd, limit, nullptr); }

std::string readUntilNewline(int fd, std::size_t limit, Clock::time_point deadline) {
    return readLine(fd, limit, &deadline);
}

void writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t count = ::send(fd, data.data(), data.size(), SocketPlatform::sendFlags());
        if (count > 0) {
            data.remove_prefix(static_cast<std::size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        throw SocketError(SocketError::Kind::connect, count < 0 ? errno : EPIPE);
    }
}

namespace {

// The time limits go on before the connect: Linux makes a connect wait while the service's
// queue of unaccepted connections is full, and only the send limit bounds that wait.
FileDescriptor connectWithin(const std::string& path, const timeval* limit) {
    FileDescriptor fd(SocketPlatform::openStream());
    if (!fd) throw SocketError(SocketError::Kind::create, errno);
    if (limit) {
        ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, limit, sizeof *limit);
        ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, limit, sizeof *limit);
    }
    Address address = makeAddr(path);
    while (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address.record), address.length) != 0) {
        if (errno == EINTR) continue;
        // An interrupted attempt may have completed meanwhile.
        if (errno == EISCONN) break;
        throw SocketError(SocketError::Kind::connect, errno);
    }
    return fd;
}

} // namespace

FileDescriptor connect(const std::string& path) { return connectWithin(path, nullptr); }

std::string request(const std::string& path, std::string_view payload, double timeout) {
    timeval limit = wholeSeconds(timeout);
    FileDescriptor fd = connectWithin(path, &limit);
    // One send for the line and its line feed: the common case costs one system call.
    std::string line;
    line.reserve(payload.size() + 1);
    line.append(payload);
    line.push_back('\n');
    writeAll(fd.get(), line);
    return readUntilNewline(fd.get(), messageLimit);
}

} // namespace orvex::UnixSocket
