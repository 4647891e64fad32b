#pragma once

#include <memory>
#include <string>

#include "AccountServer.h"
#include "TestCertificates.h"
#include "TestSupport.h"

namespace orvex::test {

// Certificates made once per test program; servers started with them are trusted through
// ORVEX_CA_FILE while the fixture lives.
class APIServerFixture {
public:
    APIServerFixture() : trust_("ORVEX_CA_FILE", certificates().caFile) {}

    // `seed` picks the account: its token, and the ids of everything in it.
    std::unique_ptr<AccountServer> start(bool tls = true, int port = 0, std::int64_t seed = 1) {
        AccountServer::Options options;
        options.tls = tls;
        options.certificateFile = certificates().certificateFile;
        options.keyFile = certificates().keyFile;
        options.port = port;
        options.seed = seed;
        return std::make_unique<AccountServer>(options);
    }

private:
    static const TestCertificates& certificates() {
        static TempDir folder;
        static TestCertificates files = TestCertificates::generate(folder.path());
        return files;
    }

    ScopedEnv trust_;
};

} // namespace orvex::test
