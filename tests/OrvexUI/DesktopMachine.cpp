#include "DesktopMachine.h"

#include <QByteArray>

#include <filesystem>
#include <stdexcept>

#include "Paths.h"
#include "TokenStore.h"

namespace orvex::test {

DesktopMachine::DesktopMachine(std::string executable)
    : executable_(std::move(executable)), platform_("ORVEX_PLATFORM", "macos"),
      config_("XDG_CONFIG_HOME", service_.root() + "/config"),
      data_("XDG_DATA_HOME", service_.root() + "/data"), state_("XDG_STATE_HOME", service_.root() + "/state"),
      runtime_("XDG_RUNTIME_DIR", service_.root() + "/run"),
      bus_("DBUS_SESSION_BUS_ADDRESS", std::nullopt), // the token stays in the scratch home
      server_(servers_.start()), bases_("ORVEX_API_BASES", server_->baseURL()),
      mirrors_("ORVEX_UPDATE_MIRRORS", server_->baseURL() + "," + server_->baseURL()) {
    std::string link = ServiceMachine::link() + "\n";
    server_->setOverride("/api/config", {.body = R"({"subscription":")" +
                                                 QByteArray::fromStdString(link).toBase64().toStdString() +
                                                 R"(","server_name":"Нидерланды"})"});
    std::filesystem::create_directories(root() + "/run");
    std::filesystem::permissions(root() + "/run", std::filesystem::perms::owner_all);
    if (!TokenStore::save(server_->token()))
        throw std::runtime_error("the account's token could not be saved");
    writeFile(Paths::daemonPlist(), "job");
    service_.start();
}

ChildProcess DesktopMachine::launchApp() const { return ChildProcess::spawn(executable_, {}); }

bool DesktopMachine::appListening() const {
    for (const auto& entry : std::filesystem::directory_iterator(root() + "/run"))
        if (entry.path().filename().string().starts_with("net.orvex.app-")) return true;
    return false;
}

} // namespace orvex::test
