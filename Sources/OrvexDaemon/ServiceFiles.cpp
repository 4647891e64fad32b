#include "ServiceFiles.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "AtomicFile.h"
#include "LaunchdError.h"
#include "Paths.h"

namespace fs = std::filesystem;

namespace orvex::ServiceFiles {
namespace {

void throwErrno(const std::string& path) { throw std::system_error(errno, std::generic_category(), path); }

// Root owns everything the service runs, so no other user can swap a program that the
// service manager starts as root. Symbolic links are changed themselves, never what they
// point to.
void giveToRoot(const std::string& path) {
    if (::lchown(path.c_str(), 0, 0) != 0) throwErrno(path);
}

void setMode(const std::string& path, mode_t mode) {
    if (::chmod(path.c_str(), mode) != 0) throwErrno(path);
}

// The source already is the installed copy (a package put the program and its engine folder
// there): replacing it would delete what is being copied. A link there never counts, so the
// service cannot end up running from a place the user can change.
bool alreadyInPlace(const std::string& source, const std::string& destination) {
    std::error_code ignored;
    return !fs::is_symlink(destination, ignored) && fs::equivalent(source, destination, ignored);
}

} // namespace

void install(const std::string& program, const std::string& engine, bool engineRequired) {
    Paths::ensureDir(Paths::daemonHome());
    std::string binary = Paths::daemonBinary();
    std::error_code ignored;
    if (!alreadyInPlace(program, binary)) {
        // Whatever stands there goes, a dangling link included: the copy must not fail on it
        // or write through it.
        fs::remove(binary, ignored);
        fs::copy_file(program, binary);
    }
    giveToRoot(binary);
    setMode(binary, 0755);

    bool present = fs::exists(engine, ignored);
    if (!present && engineRequired)
        throw LaunchdError::failed("не найден движок рядом с приложением: " + engine);
    std::string destination = Paths::daemonHome() + "/engine";
    if (!present || !alreadyInPlace(engine, destination)) {
        if (fs::exists(fs::symlink_status(destination, ignored))) fs::remove_all(destination, ignored);
        if (!present) return;
        // An engine folder that is itself a link is copied as the folder it names: a copied
        // link would leave root running programs from a place the user can change.
        fs::copy(fs::canonical(engine), destination,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    giveToRoot(destination);

    if (engineRequired) {
        for (const char* required : {"xray", "tun2socks"}) {
            if (!fs::exists(destination + "/" + required, ignored))
                throw LaunchdError::failed(std::string("в движке нет ") + required);
        }
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

void writeRootFile(const std::string& path, const std::string& text, mode_t mode) {
    Paths::ensureDir(fs::path(path).parent_path().string());
    if (!AtomicFile::write(path, text, mode)) throwErrno(path);
    giveToRoot(path);
    setMode(path, mode);
}

} // namespace orvex::ServiceFiles
