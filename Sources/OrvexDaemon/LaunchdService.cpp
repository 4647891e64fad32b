#include "LaunchdService.h"

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "AtomicFile.h"
#include "LaunchdError.h"
#include "Paths.h"
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

void throwErrno(const std::string& path) { throw std::system_error(errno, std::generic_category(), path); }

// Root owns everything the service runs, so no other user can swap a program that launchd
// starts as root. Symbolic links are changed themselves, never what they point to.
void giveToRoot(const std::string& path) {
    if (::lchown(path.c_str(), 0, 0) != 0) throwErrno(path);
}

void setMode(const std::string& path, mode_t mode) {
    if (::chmod(path.c_str(), mode) != 0) throwErrno(path);
}

void installFiles(const std::string& source, const std::string& engineSource) {
    Paths::ensureDir(Paths::daemonHome());
    std::string binary = Paths::daemonBinary();
    std::error_code ignored;
    // Whatever stands there goes, a dangling link included: the copy must not fail on it or
    // write through it.
    fs::remove(binary, ignored);
    fs::copy_file(source, binary);
    giveToRoot(binary);
    setMode(binary, 0755);

    std::string engine = engineSource.empty() ? Paths::engineDir() : engineSource;
    if (!fs::exists(engine, ignored))
        throw LaunchdError::failed("не найден движок рядом с приложением: " + engine);
    std::string destination = Paths::daemonHome() + "/engine";
    if (fs::exists(fs::symlink_status(destination, ignored))) fs::remove_all(destination, ignored);
    // An engine folder that is itself a link is copied as the folder it names: a copied link
    // would leave root running programs from a place the user can change.
    fs::copy(fs::canonical(engine), destination,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    giveToRoot(destination);

    for (const char* required : {"xray", "tun2socks"}) {
        if (!fs::exists(destination + "/" + required, ignored))
            throw LaunchdError::failed(std::string("в движке нет ") + required);
    }
    std::error_code listing;
    for (fs::directory_iterator entry(destination, listing), end; !listing && entry != end;
         entry.increment(listing)) {
        std::string path = entry->path().string();
        std::string name = entry->path().filename().string();
        giveToRoot(path);
        if (entry->is_symlink()) continue;
        setMode(path, name == "xray" || name == "tun2socks" ? 0755 : 0644);
    }
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
    installFiles(Paths::executable(), "");

    std::string plist = Paths::daemonPlist();
    Paths::ensureDir(fs::path(plist).parent_path().string());
    if (!AtomicFile::write(plist, jobDefinition(), 0644)) throwErrno(plist);
    giveToRoot(plist);
    setMode(plist, 0644);

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
    installFiles(newExecutable, (bundleContents / "Resources" / "engine").string());
}

void restartService() {
    if (!launchctl({"kill", "TERM", serviceTarget()}).ok()) launchctl({"kickstart", "-k", serviceTarget()});
}

} // namespace orvex::LaunchdService
