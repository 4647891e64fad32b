// Which engine a connect starts under each personality, and what the Linux one refuses before
// anything runs.
#include "Engine.h"

#include <filesystem>
#include <gtest/gtest.h>

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

// An engine folder holding `files`, and the system's v2ray under ORVEX_ROOT when `v2ray`.
struct Machine {
    test::TempDir dir;
    test::ScopedEnv root{"ORVEX_ROOT", dir.path()};
    std::string folder = dir / "engine";

    Machine(const std::vector<std::string>& files, bool v2ray) {
        fs::create_directories(folder);
        for (const std::string& name : files) test::writeFile(folder + "/" + name, name, 0755);
        if (v2ray) test::writeFile(dir / "usr/bin/v2ray", "v2ray", 0755);
    }
};

// What locating and checking gives: the program and its command line, or the error.
std::string outcome(const Engine& engine, const std::string& link, bool split) {
    try {
        engine.checkCanServe(Vless::parse(link), split);
    } catch (const EngineError& error) {
        return error.what();
    }
    std::string line = engine.program;
    for (const std::string& argument : engine.arguments("/c.json")) line += " " + argument;
    for (const std::string& variable : engine.environment) line = variable + " " + line;
    return line;
}

} // namespace

TEST(Engine, EachPersonalityFindsItsEngineAndRefusesWhatItCannotServe) {
    const std::vector<std::string> all{"xray", "tun2socks", "geoip.dat", "geosite.dat"};
    struct Row {
        const char* platform;
        std::vector<std::string> files;
        bool v2ray;
        std::string link;
        bool split;
        std::string expected; // with ROOT and ENGINE standing for the two folders
    };
    const std::string needsXray = "Этому серверу нужен движок xray (";
    const std::vector<Row> rows{
        {"macos", all, true, plainLink, true, "ENGINE/xray run -config /c.json"},
        {"macos",
         {"xray", "geoip.dat", "geosite.dat"},
         true,
         plainLink,
         false,
         "не найден файл движка: ENGINE/tun2socks"},
        {"linux", {"xray"}, true, realityLink, false, "ENGINE/xray run -config /c.json"},
        {"linux",
         {},
         true,
         plainLink,
         false,
         "V2RAY_LOCATION_ASSET=ENGINE ROOT/usr/bin/v2ray -config /c.json"},
        {"linux",
         {"geoip.dat", "geosite.dat"},
         true,
         plainLink,
         true,
         "V2RAY_LOCATION_ASSET=ENGINE ROOT/usr/bin/v2ray -config /c.json"},
        {"linux",
         {},
         true,
         realityLink,
         false,
         needsXray + "REALITY), а системный v2ray так не умеет. Положите программу xray в ENGINE"},
        {"linux",
         {},
         true,
         flowLink,
         false,
         needsXray +
             "flow xtls-rprx-vision), а системный v2ray так не умеет. Положите программу xray в ENGINE"},
        {"linux",
         {"xray", "geoip.dat"},
         false,
         plainLink,
         true,
         "Для раздельной маршрутизации нужны geoip.dat и geosite.dat рядом с движком. Положите их в ENGINE"},
        {"linux", {}, false, plainLink, false, "не найден файл движка: ENGINE/xray"},
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
            got = outcome(Engine::locate(machine.folder), row.link, row.split);
        } catch (const EngineError& error) {
            got = error.what();
        }
        EXPECT_EQ(got, expected) << row.platform << " " << row.link;
    }
}

// The refusal is the connect's own answer, and a Linux connect that could start its engine
// goes on to the network, which this machine's root has no tools to read.
TEST(Engine, ALinuxConnectChecksTheEngineBeforeTheNetwork) {
    test::ScopedEnv platform("ORVEX_PLATFORM", "linux");
    Machine machine({"geoip.dat", "geosite.dat"}, true); // split routing is on unless turned off
    test::ScopedEnv home("HOME", machine.dir / "home");
    Log log(machine.dir / "logs", "service");
    Tunnel::Environment environment = Tunnel::Environment::production();
    environment.engineDir = [&] { return machine.folder; };
    auto tunnel = std::make_shared<Tunnel>(log, environment);
    EXPECT_THROW(tunnel->connect(realityLink, "Нидерланды", false), EngineError);
    EXPECT_EQ(tunnel->currentStatus().state, TunnelState::error);

    try {
        tunnel->connect(plainLink, "Нидерланды", false);
        FAIL() << "connected without a default route";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()),
                  "не удалось определить текущий шлюз — проверьте подключение к сети");
    }
    EXPECT_FALSE(fs::exists(machine.dir / "var/lib/orvex/config.gen.json"));
}
