#include "Keychain.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include "FileDescriptor.h"
#include "Paths.h"
#include "ScopeGuard.h"

namespace orvex {
namespace {

// Items live in the desktop's Secret Service (GNOME Keyring, KWallet) when the session has one;
// otherwise in a file only the user can read, under the user's config folder. The Secret
// Service has no per-application access rules, so both access kinds are stored the same way.
class SecretServiceKeychain : public Keychain {
public:
    std::optional<std::string> read(const std::string& service, const std::string& account) override;
    void remove(const std::string& service, const std::string& account) override;
    bool add(const std::string& service, const std::string& account, const std::string& data,
             Access access) override;
};

const SecretSchema* schema() {
    static const SecretSchema value = [] {
        SecretSchema s{};
        s.name = "net.orvex.vpn.Password";
        s.flags = SECRET_SCHEMA_NONE;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &value;
}

// Without a session bus GIO would try to autolaunch one through dbus-launch, a side effect
// no keychain read should have, so the Secret Service is only asked when a bus is known.
// The bus connection must not end the application when the session bus goes away either
// (GIO's default for the shared connection): the file fallback takes over instead.
bool sessionBusReachable() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    bool known = address != nullptr && address[0] != '\0';
    if (!known) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        struct stat status {};
        known = runtime != nullptr && runtime[0] == '/' &&
                stat((std::string(runtime) + "/bus").c_str(), &status) == 0 && S_ISSOCK(status.st_mode);
    }
    if (!known) return false;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return false;
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    g_object_unref(bus);
    return true;
}

// A dismissed unlock prompt is the user's refusal, not a missing service: the token must not
// then land in a plain file behind the user's back.
bool refusedByUser(const GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

// The file for `account`, or nothing when the name could escape the folder.
std::optional<std::string> fallbackFile(const std::string& account) {
    if (account.empty() || account == "." || account == ".." || account.find('/') != std::string::npos ||
        account.find('\0') != std::string::npos)
        return std::nullopt;
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    std::string folder =
        configHome != nullptr && configHome[0] == '/' ? std::string(configHome) : Paths::home() + "/.config";
    return folder + "/orvex/" + account;
}

std::optional<std::string> readFallback(const std::string& account) {
    auto path = fallbackFile(account);
    if (!path) return std::nullopt;
    FileDescriptor fd(::open(path->c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string data;
    char buffer[4096];
    for (;;) {
        ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) return data;
        data.append(buffer, static_cast<size_t>(count));
    }
}

// Written to a private temporary file and renamed over the old one, so a reader never sees a
// half-written token and the file never exists with wider permissions than 0600.
bool writeFallback(const std::string& account, const std::string& data) {
    auto path = fallbackFile(account);
    if (!path) return false;
    std::string folder = path->substr(0, path->rfind('/'));
    Paths::ensureDir(folder.substr(0, folder.rfind('/')));
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    std::string temporary = *path + ".XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) return false;
    ScopeGuard removeTemporary([&] { ::unlink(temporary.c_str()); });
    if (::fchmod(fd.get(), 0600) != 0) return false;
    for (size_t written = 0; written < data.size();) {
        ssize_t count = ::write(fd.get(), data.data() + written, data.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        written += static_cast<size_t>(count);
    }
    if (::fsync(fd.get()) != 0) return false;
    fd.reset();
    if (::rename(temporary.c_str(), path->c_str()) != 0) return false;
    removeTemporary.dismiss();
    return true;
}

std::optional<std::string> SecretServiceKeychain::read(const std::string& service,
                                                       const std::string& account) {
    if (sessionBusReachable()) {
        GError* error = nullptr;
        SecretValue* value = secret_password_lookup_binary_sync(
            schema(), nullptr, &error, "service", service.c_str(), "account", account.c_str(), nullptr);
        if (value != nullptr) {
            gsize length = 0;
            const gchar* bytes = secret_value_get(value, &length);
            std::string data(bytes, length);
            secret_value_unref(value);
            return data;
        }
        bool refused = refusedByUser(error);
        g_clear_error(&error);
        if (refused) return std::nullopt;
    }
    // Also when the service answered without the item: the token may have been saved while
    // no Secret Service was running.
    return readFallback(account);
}

void SecretServiceKeychain::remove(const std::string& service, const std::string& account) {
    if (sessionBusReachable()) {
        GError* error = nullptr;
        secret_password_clear_sync(schema(), nullptr, &error, "service", service.c_str(), "account",
                                   account.c_str(), nullptr);
        g_clear_error(&error);
    }
    if (auto path = fallbackFile(account)) ::unlink(path->c_str());
}

bool SecretServiceKeychain::add(const std::string& service, const std::string& account,
                                const std::string& data, Access) {
    if (sessionBusReachable()) {
        GError* error = nullptr;
        SecretValue* value = secret_value_new(data.data(), static_cast<gssize>(data.size()), "text/plain");
        gboolean stored = secret_password_store_binary_sync(
            schema(), SECRET_COLLECTION_DEFAULT, service.c_str(), value, nullptr, &error, "service",
            service.c_str(), "account", account.c_str(), nullptr);
        secret_value_unref(value);
        bool refused = refusedByUser(error);
        g_clear_error(&error);
        if (stored) return true;
        if (refused) return false;
    }
    return writeFallback(account, data);
}

} // namespace

Keychain& Keychain::system() {
    static SecretServiceKeychain keychain;
    return keychain;
}

} // namespace orvex
