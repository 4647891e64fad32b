#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <sys/types.h>
#include <vector>

namespace orvex::test {

// An engine folder holding the fake xray and tun2socks of tests/fixtures (as links, so they
// find their helper module) and empty geoip.dat and geosite.dat. The fakes read their orders
// from and record every start in <root>/fake-engine; set ORVEX_ROOT to `root` for them.
class FakeEngine {
public:
    enum class XrayMode { listen, exitAtOnce, neverListen, ignoreTerm };

    FakeEngine(std::string root, std::string folder);

    const std::string& folder() const { return folder_; }

    // Applies to the next start.
    void setXrayMode(XrayMode mode);
    void setBridgeExitsAtOnce(bool exits);

    // One record per start of "xray" or "tun2socks", in order: pid, args, cwd and the
    // descriptors it started with (fds).
    std::vector<nlohmann::json> runs(const std::string& program) const;

    // Whether a process with that id exists and has not ended (a zombie counts as ended).
    static bool alive(pid_t pid);

private:
    std::string control() const;

    std::string root_;
    std::string folder_;
};

} // namespace orvex::test
