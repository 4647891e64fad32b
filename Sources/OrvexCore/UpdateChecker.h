#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// New versions of ORVEX: the manifest on the two update mirrors, version comparison, the
// small decisions of the update interface, and the download, verification and installation
// of a new application. Shared by the application and the root service. Failures are
// UpdateError unless said otherwise.
namespace orvex::UpdateChecker {

// What the manifest offers, as the interface and the installers need it.
struct Info {
    std::string version;
    std::string dmgURL; // the download, on the mirror that answered
    std::string changelog;
    bool mandatory = false; // the running version is older than the oldest still supported

    bool operator==(const Info&) const = default;
};

// The manifest document as published.
struct Manifest {
    std::string version;
    std::string installerUrl;
    std::optional<std::string> changelog;
    std::optional<std::string> minSupportedVersion;
};

// Receives the downloaded fraction, 0 to 1.
using Progress = std::function<void(double fraction)>;

// ---- manifest and check

// The manifest on each mirror (ORVEX_UPDATE_MIRRORS), in the order they are tried.
std::vector<std::string> manifestURLs();

// The manifest in `body`; nothing when it is not a JSON object with text values for
// "version" and "installerUrl" (and text or null for the optional keys).
std::optional<Manifest> decodeManifest(std::string_view body);

// Asks the mirrors in order (5 s for the first, 15 s for the second); the first manifest that
// decodes decides. Nothing when it offers nothing newer than `current`. When every mirror
// failed: with `reportFailure` the last failure is thrown (an UpdateError or an
// Http::TransportError), without it the answer is nothing. Blocking.
std::optional<Info> check(const std::string& current, bool reportFailure = false);

// `installerUrl` moved onto the scheme, host and port of `manifestURL`, so the download comes
// from the mirror that answered; unchanged when either address lacks a scheme or host.
std::string sameHost(const std::string& manifestURL, const std::string& installerUrl);

// The three numbers of a dotted version: a "-suffix" is ignored, letters inside a piece are
// dropped, a piece with other digits than 0 to 9 or too large for 64 bits counts as 0, missing
// pieces are 0 and a fourth and later piece is ignored.
std::array<std::int64_t, 3> parts(std::string_view version);
bool isNewer(std::string_view a, std::string_view than);

bool shouldShowDialog(const std::string& version, bool mandatory,
                      const std::optional<std::string>& dismissed);
inline bool blocksConnect(bool mandatory, bool installed) { return mandatory && !installed; }
inline bool shouldPoll(bool downloading, bool ready) { return !downloading && !ready; }

// ---- download and install

// The disk image of `info` into the default download folder; its path. A file of 1,000,000
// bytes or less is deleted as damaged. Transport failures are Http::TransportError. Blocking.
std::string download(const Info& info, const Progress& progress);

// The installer package that belongs to `info`'s image, into `into` or the default folder.
std::string downloadPackage(const Info& info, const std::optional<std::string>& into,
                            const Progress& progress);

// The package address beside an image address: ".dmg" at the end becomes ".pkg".
std::string packageURL(const std::string& dmgURL);

// The user's private folder for downloads: "ORVEX-update" in the temporary folder.
std::string defaultDownloadFolder();

// Installs the application in the image `dmg` over `bundle`, after checking that it is
// version `expecting` and validly signed; its location. The image is detached on every way
// out. needsManualCopy when the system refuses to let `bundle` be replaced. Blocking.
std::string install(const std::string& dmg, const std::string& expecting, const std::string& bundle);

// Runs the system installer on `package` with administrator rights and refreshes the service
// from the installed application; the installed application's location. The elevation's
// errors come through as they are (a dismissed prompt is ElevationError::cancelled). Blocking.
std::string installPackage(const std::string& package, const std::string& expecting);

// The mount point in the image tool's attach output; empty when none is named.
std::string mountPoint(std::string_view attachOutput);

// "CFBundleShortVersionString" of the application at `application`, or the empty text.
std::string bundleVersion(const std::string& application);

// Whether a tool's output or a platform error says that the system denied the access.
bool isPermissionDenied(std::string_view output);
bool isPermissionDenied(const std::error_code& error);

} // namespace orvex::UpdateChecker
