#include "LaunchdService.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "LaunchdError.h"
#include "Paths.h"
#include "ServiceFiles.h"
#include "Shell.h"

namespace fs = std::filesystem;

namespace orvex::LaunchdService {
namespace {

constexpr double launchctlLimit = 15;
constexpr int bootstrapAttempts = 3;
constexpr auto bootstrapPause = std::chrono::seconds(1);
constexpr auto goneCheckPause = std::chrono::milliseconds(250);
constexpr double goneLimit = 5;

Shell::Result launchctl(const std::vector<std::string>& arguments) {
    return Shell::run(Paths::relocate("/bin/launchctl"), arguments, launchctlLimit);
}

std::string serviceTarget() { return "system/" + Paths::daemonLabel(); }

// The fixed texts need no escaping; a relocated path might.
std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

std::string jobDefinition() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n"
           "<dict>\n"
           "    <key>Label</key>\n"
           "    <string>" +
           xmlEscaped(Paths::daemonLabel()) +
           "</string>\n"
           "    <key>ProgramArguments</key>\n"
           "    <array>\n"
           "        <string>" +
           xmlEscaped(Paths::daemonBinary()) +
           "</string>\n"
           "        <string>-service</string>\n"
           "    </array>\n"
           "    <key>RunAtLoad</key>\n"
           "    <true/>\n"
           "    <key>KeepAlive</key>\n"
           "    <true/>\n"
           "</dict>\n"
           "</plist>";
}

bool bootout() {
    if (launchctl({"bootout", serviceTarget()}).ok()) return true;
    return launchctl({"unload", "-w", Paths::daemonPlist()}).ok();
}

void waitUntilGone(double timeout) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!launchctl({"print", serviceTarget()}).ok()) return;
        std::this_thread::sleep_for(goneCheckPause);
    }
}

} // namespace

void install() {
    ServiceFiles::install(Paths::executable(), Paths::engineDir(), true);

    std::string plist = Paths::daemonPlist();
    ServiceFiles::writeRootFile(plist, jobDefinition(), 0644);

    bootout();
    waitUntilGone(goneLimit);

    Shell::Result bootstrap;
    for (int attempt = 1; attempt <= bootstrapAttempts; ++attempt) {
        if (attempt > 1) std::this_thread::sleep_for(bootstrapPause);
        bootstrap = launchctl({"bootstrap", "system", plist});
        if (bootstrap.ok()) return;
    }
    Shell::Result load = launchctl({"load", "-w", plist});
    if (!load.ok())
        throw LaunchdError::failed("launchctl не принял задание: " + bootstrap.output + " / " + load.output);
}

void uninstall() {
    bootout();
    std::string plist = Paths::daemonPlist();
    if (fs::exists(fs::symlink_status(plist))) fs::remove(plist);
    std::error_code ignored;
    fs::remove_all(Paths::daemonHome(), ignored);
}

void refreshBinaries(const std::string& newExecutable) {
    fs::path bundleContents = fs::path(newExecutable).parent_path().parent_path();
    ServiceFiles::install(newExecutable, (bundleContents / "Resources" / "engine").string(), true);
}

void restartService() {
    if (!launchctl({"kill", "TERM", serviceTarget()}).ok()) launchctl({"kickstart", "-k", serviceTarget()});
}

} // namespace orvex::LaunchdService
