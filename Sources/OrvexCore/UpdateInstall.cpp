// The download, verification and installation half of UpdateChecker.
#include "UpdateChecker.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "BundleInfo.h"
#include "Elevation.h"
#include "FileDescriptor.h"
#include "FileSwap.h"
#include "Http.h"
#include "Io.h"
#include "Paths.h"
#include "ScopeGuard.h"
#include "Shell.h"
#include "Text.h"
#include "Unicode.h"
#include "UpdateError.h"

namespace fs = std::filesystem;

namespace orvex::UpdateChecker {
namespace {

constexpr double downloadLimit = 600;
// Anything this small is an error page or a cut-off transfer, never an installer.
constexpr std::uintmax_t largestDamagedFile = 1'000'000;
constexpr double attachLimit = 300;
constexpr double detachLimit = 60;
constexpr double signatureLimit = 120;
constexpr double copyLimit = 300;

std::string hdiutil() { return Paths::relocate("/usr/bin/hdiutil"); }
std::string codesign() { return Paths::relocate("/usr/bin/codesign"); }
std::string ditto() { return Paths::relocate("/usr/bin/ditto"); }
std::string installedExecutable() { return Paths::applicationBundle() + "/Contents/MacOS/ORVEX"; }

// Hands the fraction to the callback once per whole percent, and only when the total is known.
class ProgressGate {
public:
    explicit ProgressGate(const Progress& progress) : progress_(progress) {}

    void written(std::uint64_t bytes, std::uint64_t expected) {
        if (!progress_ || expected == 0) return;
        double fraction = static_cast<double>(bytes) / static_cast<double>(expected);
        auto percent = static_cast<std::int64_t>(fraction * 100);
        if (reported_ && percent == lastPercent_) return;
        reported_ = true;
        lastPercent_ = percent;
        progress_(fraction);
    }

private:
    const Progress& progress_;
    bool reported_ = false;
    std::int64_t lastPercent_ = 0;
};

// The default folder lies in the temporary folder, which other users may share: one that is
// not this user's own directory could let them swap the file before it is installed with
// administrator rights.
void preparePrivateFolder(const std::string& folder) {
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        throw UpdateError::download("папка загрузки принадлежит не вам: " + folder);
    ::chmod(folder.c_str(), 0700);
}

std::string fetchFile(const std::string& url, const std::string& fileName,
                      const std::optional<std::string>& into, const Progress& progress) {
    if (!Http::isValidURL(url)) throw UpdateError::badManifest();
    // The name carries the manifest's version, which must not lead the file out of the folder.
    if (fileName.find('/') != std::string::npos || fileName.find('\0') != std::string::npos)
        throw UpdateError::badManifest();
    std::string folder;
    if (into) {
        folder = *into;
        Paths::ensureDir(folder);
    } else {
        folder = defaultDownloadFolder();
        preparePrivateFolder(folder);
    }
    std::string destination = folder + "/" + fileName;
    std::error_code ignored;
    fs::remove(destination, ignored);

    std::string partial = folder + "/." + fileName + ".XXXXXX";
    FileDescriptor file(::mkostemp(partial.data(), O_CLOEXEC));
    if (!file) throw std::system_error(errno, std::generic_category(), partial);
    ScopeGuard dropPartial([&] { ::unlink(partial.c_str()); });

    ProgressGate gate(progress);
    long status = 0;
    std::uint64_t expected = 0;
    std::uint64_t written = 0;
    Http::Request request;
    request.url = url;
    request.timeout = downloadLimit;
    request.onBodyStart = [&](long answerStatus, std::uint64_t length) {
        status = answerStatus;
        expected = length;
    };
    request.onData = [&](std::string_view chunk) {
        if (!Io::writeAll(file.get(), chunk))
            throw std::system_error(errno, std::generic_category(), partial);
        written += chunk.size();
        if (status == 200) gate.written(written, expected);
    };
    Http::Response response = Http::perform(request);
    if (response.status != 200)
        throw UpdateError::download("сервер не отдал файл (код " + std::to_string(response.status) + ")");
    file.reset();
    if (std::rename(partial.c_str(), destination.c_str()) != 0)
        throw std::system_error(errno, std::generic_category(), destination);
    dropPartial.dismiss();

    struct stat info {};
    std::uintmax_t size =
        ::stat(destination.c_str(), &info) == 0 ? static_cast<std::uintmax_t>(info.st_size) : 0;
    if (size <= largestDamagedFile) {
        fs::remove(destination, ignored);
        throw UpdateError::download("файл повреждён (" + std::to_string(size) + " байт)");
    }
    return destination;
}

std::string newUUID() {
    std::random_device source;
    unsigned char bytes[16];
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(source());
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += hex[bytes[i] >> 4];
        text += hex[bytes[i] & 0x0F];
    }
    return text;
}

// The first application at the top of the mounted image, by name.
std::optional<std::string> applicationIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.ends_with(".app")) names.push_back(name);
    }
    if (names.empty()) return std::nullopt;
    return folder + "/" + *std::min_element(names.begin(), names.end());
}

// `bundle` replaced by `staged` in one step; the old application goes away afterwards.
std::error_code replaceBundle(const std::string& bundle, const std::string& staged) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(bundle, error))) {
        fs::rename(staged, bundle, error);
        return error;
    }
    try {
        FileSwap::exchange(bundle, staged);
    } catch (const std::system_error& failure) {
        return failure.code();
    }
    std::error_code ignored;
    fs::remove_all(staged, ignored);
    return {};
}

std::string installFromMount(const std::string& dmg, const std::string& mount, const std::string& expecting,
                             const std::string& bundle) {
    std::optional<std::string> application = applicationIn(mount);
    if (!application) throw UpdateError::install("в образе нет приложения");
    std::string found = bundleVersion(*application);
    if (found != expecting)
        throw UpdateError::install("в образе версия " + found + ", а обещана " + expecting);

    std::error_code ignored;
    if (fs::exists(codesign(), ignored)) {
        Shell::Result verified =
            Shell::run(codesign(), {"--verify", "--deep", "--strict", *application}, signatureLimit);
        if (!verified.ok())
            throw UpdateError::install("подпись образа не проходит проверку: " + verified.output);
    }

    std::string folder = fs::path(bundle).parent_path().string();
    if (::access(folder.c_str(), W_OK) != 0) throw UpdateError::needsManualCopy(dmg);

    std::string staged = folder + "/.ORVEX-update-" + newUUID() + ".app";
    Shell::Result copied = Shell::run(ditto(), {*application, staged}, copyLimit);
    if (!copied.ok()) {
        if (isPermissionDenied(copied.output)) throw UpdateError::needsManualCopy(dmg);
        throw UpdateError::install("не удалось распаковать: " + copied.output);
    }
    if (std::error_code error = replaceBundle(bundle, staged)) {
        if (isPermissionDenied(error)) throw UpdateError::needsManualCopy(dmg);
        throw UpdateError::install("не удалось заменить приложение: " + error.message());
    }
    return bundle;
}

} // namespace

std::string defaultDownloadFolder() { return (fs::temp_directory_path() / "ORVEX-update").string(); }

std::string download(const Info& info, const Progress& progress) {
    return fetchFile(info.dmgURL, "ORVEX-" + info.version + ".dmg", std::nullopt, progress);
}

std::string downloadPackage(const Info& info, const std::optional<std::string>& into,
                            const Progress& progress) {
    return fetchFile(packageURL(info.dmgURL), "ORVEX-" + info.version + ".pkg", into, progress);
}

std::string packageURL(const std::string& dmgURL) {
    if (!dmgURL.ends_with(".dmg")) return dmgURL;
    return dmgURL.substr(0, dmgURL.size() - 4) + ".pkg";
}

std::string mountPoint(std::string_view attachOutput) {
    size_t start = 0;
    while (start < attachOutput.size()) {
        size_t end = attachOutput.find('\n', start);
        if (end == std::string_view::npos) end = attachOutput.size();
        std::string_view line = attachOutput.substr(start, end - start);
        if (size_t volumes = line.find("/Volumes/"); volumes != std::string_view::npos) {
            std::string point = Text::trimSpacesAndTabs(line.substr(volumes));
            if (!point.empty()) return point;
        }
        start = end + 1;
    }
    return {};
}

std::string install(const std::string& dmg, const std::string& expecting, const std::string& bundle) {
    Shell::Result attached =
        Shell::run(hdiutil(), {"attach", dmg, "-nobrowse", "-readonly", "-noverify"}, attachLimit);
    if (!attached.ok()) throw UpdateError::install("не удалось смонтировать образ: " + attached.output);
    std::string named = mountPoint(attached.output);
    if (named.empty()) throw UpdateError::install("образ смонтирован, но точка монтирования не найдена");
    std::string mount = Paths::relocate(named);
    ScopeGuard detach([&] {
        if (!Shell::run(hdiutil(), {"detach", mount}, detachLimit).ok())
            Shell::run(hdiutil(), {"detach", mount, "-force"}, detachLimit);
    });
    return installFromMount(dmg, mount, expecting, bundle);
}

std::string installPackage(const std::string& package, const std::string& expecting) {
    std::string command = Paths::relocate("/usr/sbin/installer") + " -pkg " +
                          Elevation::shellQuoted(package) + " -target" + " / " + "&& " +
                          Elevation::shellQuoted(installedExecutable()) + " -install-service";
    Elevation::run(command);
    std::string found = bundleVersion(Paths::applicationBundle());
    if (found == expecting) return Paths::applicationBundle();
    if (found.empty()) throw UpdateError::install("установщик отработал, но приложения в «Программах» нет");
    throw UpdateError::install("установилась версия " + found + ", а ожидалась " + expecting);
}

std::string bundleVersion(const std::string& application) {
    return BundleInfo::string(application + "/Contents/Info.plist", "CFBundleShortVersionString")
        .value_or("");
}

bool isPermissionDenied(std::string_view output) {
    std::string lowered = Unicode::lowerLatinAndCyrillic(output);
    return lowered.find("permission denied") != std::string::npos ||
           lowered.find("not permitted") != std::string::npos ||
           lowered.find("отказано в доступе") != std::string::npos;
}

bool isPermissionDenied(const std::error_code& error) {
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted ||
           error == std::errc::read_only_file_system;
}

} // namespace orvex::UpdateChecker
