// Which engine a connect starts under each personality, and what the Linux one refuses before
// anything runs.
#include "Engine.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

#include "EngineError.h"
#include "Log.h"
#include "TestSupport.h"
#include "Tunnel.h"
#include "Vless.h"

using namespace orvex;
namespace fs = std::filesystem;

namespace {

const std::string plainLink = "vless://b831381d-6324-4d53-ad4f-8cda48b30811@203.0.113.9:443?type=tcp#A";
const std::string realityLink = "vless://b831381d-6324-4d53-ad4f-8cda48b30811@203.0.113.9:443"
                                "?type=tcp&security=reality&sni=example.com&pbk=key&sid=ab#B";
const std::string flowLink =
    "vless://"
    "b831381d-6324-4d53-ad4f-8cda48b30811@203.0.113.9:443?type=tcp&flow=xtls-rprx-vision&security=tls#C";

// An engine folder holding `files` (names separated by blanks), and the system's v2ray under
// ORVEX_ROOT when `v2ray`.
struct Machine {
    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    std::string folder = dir / "engine";

    Machine(const std::string& files, bool v2ray) {
        fs::create_directories(folder);
        std::istringstream names(files);
        for (std::string name; names >> name;) test::writeFile(folder + "/" + name, name, 0755);
        if (v2ray) test::writeFile(dir / "usr/bin/v2ray", "v2ray", 0755);
    }
};

} // namespace

// What locating and checking give: the program and its command line, or the error.
TEST(Engine, EachPersonalityFindsItsEngineAndRefusesWhatItCannotServe) {
    struct Row {
        const char* platform;
        std::string files;
        bool v2ray;
        std::string link;
        bool split;
        std::string expected; // with ROOT and ENGINE standing for the two folders
    };
    const std::string all = "xray tun2socks geoip.dat geosite.dat", geo = "geoip.dat geosite.dat";
    const std::string v2rayLine = "V2RAY_LOCATION_ASSET=ENGINE ROOT/usr/bin/v2ray -config /c.json";
    const std::string needsXray = "Этому серверу нужен движок xray (";
    const std::string putXray = "), а системный v2ray так не умеет. Положите программу xray в ENGINE";
    const std::vector<Row> rows{
        {"macos", all, true, plainLink, true, "ENGINE/xray run -config /c.json"},
        {"macos", "xray " + geo, true, plainLink, false, "не найден файл движка: ENGINE/tun2socks"},
        {"linux", "xray", true, realityLink, false, "ENGINE/xray run -config /c.json"},
        {"linux", "", true, plainLink, false, v2rayLine},
        {"linux", geo, true, plainLink, true, v2rayLine},
        {"linux", "", true, realityLink, false, needsXray + "REALITY" + putXray},
        {"linux", "", true, flowLink, false, needsXray + "flow xtls-rprx-vision" + putXray},
        {"linux", "xray geoip.dat", false, plainLink, true,
         "Для раздельной маршрутизации нужны geoip.dat и geosite.dat рядом с движком. Положите их в ENGINE"},
        {"linux", "", false, plainLink, false, "не найден файл движка: ENGINE/xray"},
    };
    for (const Row& row : rows) {
        test::ScopedEnv platform("ORVEX_PLATFORM", row.platform);
        Machine machine(row.files, row.v2ray);
        std::string expected = row.expected;
        for (auto [word, folder] : {std::pair{"ENGINE", machine.folder}, {"ROOT", machine.dir.path()}})
            for (size_t at; (at = expected.find(word)) != std::string::npos;)
                expected.replace(at, std::string(word).size(), folder);
        std::string got;
        try {
            Engine engine = Engine::locate(machine.folder);
            engine.checkCanServe(Vless::parse(row.link), row.split);
            got = engine.program;
            for (const std::string& argument : engine.arguments("/c.json")) got += " " + argument;
            for (const std::string& variable : engine.environment) got = variable + " " + got;
        } catch (const EngineError& error) {
            got = error.what();
        }
        EXPECT_EQ(got, expected) << row.platform << " " << row.link;
    }
}

// The refusal is the connect's own answer: a server the system's v2ray cannot serve is never
// handed to it.
TEST(Engine, ALinuxConnectIsRefusedBeforeTheEngineRuns) {
    test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
    Machine machine("geoip.dat geosite.dat", true);
    test::ScopedEnv home("HOME", machine.dir / "home");
    Log log(machine.dir / "logs", "service");
    Tunnel::Environment environment = Tunnel::Environment::production();
    environment.engineDir = [&] { return machine.folder; };
    auto tunnel = std::make_shared<Tunnel>(log, environment);
    EXPECT_THROW(tunnel->connect(realityLink, "Нидерланды", false), EngineError);
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::error);
    EXPECT_FALSE(fs::exists(machine.dir / "var/lib/orvex/config.gen.json"));
}
