// The model's side of support: the problem report with its diagnostics and the conversation
// with support, files both ways included.
#include "AppModel.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "APIClient.h"
#include "FileDescriptor.h"
#include "Io.h"
#include "Paths.h"
#include "SupportFiles.h"
#include "SystemInfo.h"
#include "Text.h"
#include "Version.h"
#include "Workspace.h"

namespace orvex {

namespace {

constexpr size_t logTailBytes = 20000;
constexpr std::int64_t conversationPage = 50;

std::string lastComponent(const std::string& path) { return std::filesystem::path(path).filename().string(); }

} // namespace

std::optional<std::string> AppModel::serviceLogTail(size_t maxBytes) {
    FileDescriptor file(::open((Paths::daemonLogDir() + "/service.log").c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) return std::nullopt;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) return std::nullopt;
    if (static_cast<size_t>(info.st_size) > maxBytes &&
        ::lseek(file.get(), static_cast<off_t>(static_cast<size_t>(info.st_size) - maxBytes), SEEK_SET) < 0)
        return std::nullopt;
    std::string bytes = Io::readToEnd(file.get());
    if (bytes.size() > maxBytes) bytes.erase(0, bytes.size() - maxBytes); // it grew meanwhile
    if (!Text::isValidUTF8(bytes)) return std::nullopt;
    return bytes;
}

void AppModel::sendReport(const std::string& text) {
    std::string clean = Text::trim(text);
    if (clean.empty()) return;
    runForAccount([this, clean](std::uint64_t generation) {
        SupportReportRequest report;
        report.appVersion = Version::current();
        report.osVersion = SystemInfo::version();
        report.lastError = clean; // the only field the server has for the user's words
        bool withLogs = onMain([&] {
            report.status = std::string(wireText(status_.state));
            report.server = status_.serverName;
            return loggingEnabled_;
        });
        if (withLogs) {
            report.appLog = log_->tail(logTailBytes);
            report.serviceLog = serviceLogTail(logTailBytes);
        }
        env_.api->supportReport(bearer(), report);
        onAccount(generation, [&] {
            setNotice(std::string("Обращение отправлено. Ответ придёт сюда и в бот."));
            loadSupportMessages();
        });
    });
}

void AppModel::loadSupportMessages() {
    std::int64_t afterId = supportMessages_.empty() ? 0 : supportMessages_.back().id;
    readAccount("переписка с поддержкой: ", [this, afterId]() -> std::function<void()> {
        SupportMessageList page = env_.api->supportMessages(bearer(), afterId, conversationPage).messages;
        return [this, page] { appendSupportMessages(page); };
    });
}

void AppModel::appendSupportMessages(const SupportMessageList& page) {
    // Loads overlap (a refresh beside the one after sending), so a page may repeat messages
    // another load has added since it left.
    SupportMessageList list = supportMessages_;
    size_t known = list.size();
    for (const SupportMessageItem& item : page)
        if (list.empty() || item.id > list.back().id) list.push_back(item);
    if (list.size() != known) setSupportMessages(std::move(list));
}

void AppModel::sendSupportMessage(const std::string& text) {
    std::string clean = Text::trim(text);
    if (clean.empty()) return;
    runForAccount([this, clean](std::uint64_t generation) {
        env_.api->sendSupportMessage(bearer(), clean);
        onAccount(generation, [&] { loadSupportMessages(); });
    });
}

void AppModel::attachSupportFile(const std::string& path) {
    runForAccount([this, path](std::uint64_t generation) {
        std::string data = SupportFiles::readAttachment(path);
        env_.api->uploadSupportFile(bearer(), lastComponent(path), data);
        onAccount(generation, [&] { loadSupportMessages(); });
    });
}

void AppModel::saveSupportFile(const SupportMessageItem& item) {
    runForAccount([this, item](std::uint64_t) {
        std::string data = env_.api->supportFile(bearer(), item.id);
        std::string folder = env_.downloadsDir();
        Paths::ensureDir(folder);
        std::string target =
            SupportFiles::saveNew(folder + "/" + SupportFiles::fileName(item.fileName, item.id), data);
        // The file is the user's now, whoever is signed in.
        onMain([&] {
            env_.workspace->revealFile(target);
            setNotice("Сохранено: " + lastComponent(target));
        });
    });
}

} // namespace orvex
