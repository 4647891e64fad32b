#pragma once

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "AccountServer.h"
#include "FileDescriptor.h"
#include "TestCertificates.h"
#include "TestSupport.h"

namespace orvex::test {

// Certificates made once per test program; each test starts its own servers with them and
// trusts the CA through ORVEX_CA_FILE for its duration.
class APIServerFixture {
public:
    APIServerFixture() : certificates_(certificates()), trust_("ORVEX_CA_FILE", certificates_.caFile) {}

    // `seed` picks the account: its token, and the ids of everything in it.
    std::unique_ptr<AccountServer> start(bool tls = true, int port = 0, std::int64_t seed = 1) {
        AccountServer::Options options;
        options.tls = tls;
        options.certificateFile = certificates_.certificateFile;
        options.keyFile = certificates_.keyFile;
        options.port = port;
        options.seed = seed;
        return std::make_unique<AccountServer>(options);
    }

    // A loopback port that nothing listens on, so connecting is refused at once.
    static int closedPort() {
        FileDescriptor probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(probe.get(), reinterpret_cast<sockaddr*>(&address), length);
        getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length);
        return ntohs(address.sin_port);
    }

    const TestCertificates& files() const { return certificates_; }

private:
    static const TestCertificates& certificates() {
        static TempDir folder;
        static TestCertificates files = TestCertificates::generate(folder.path());
        return files;
    }

    TestCertificates certificates_;
    ScopedEnv trust_;
};

} // namespace orvex::test
