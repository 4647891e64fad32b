#include "ToggleIntent.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>

#include <sys/stat.h>
#include <unistd.h>

#include "WidgetFiles.h"

namespace orvex::widget {

namespace {

constexpr const char* fallbackURL = "orvexvpn://toggle";

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

} // namespace

struct ToggleIntent::Press {
    std::string path;
    int checks = 0;
    std::function<void()> finished;
};

ToggleIntent::ToggleIntent(Seams seams) : seams_(std::move(seams)) {}

void ToggleIntent::perform(std::function<void()> finished) {
    std::optional<std::string> path = WidgetFiles::commandURL();
    // No shared folder, or a command nobody could read: the link is the only way left, and a
    // press must never come to nothing.
    if (!path || !WidgetFiles::writeAtomically(*path, command(seams_.now()))) {
        fallBack(finished);
        return;
    }
    auto press = std::make_shared<Press>(Press{*path, 0, std::move(finished)});
    seams_.after(waitStep, [this, press] { check(press); });
}

void ToggleIntent::check(const std::shared_ptr<Press>& press) {
    if (!exists(press->path)) {
        if (press->finished) press->finished();
        return;
    }
    if (++press->checks < maxChecks) {
        seams_.after(waitStep, [this, press] { check(press); });
        return;
    }
    // Withdrawn first, so that an application that wakes up late does not toggle twice.
    ::unlink(press->path.c_str());
    fallBack(press->finished);
}

void ToggleIntent::fallBack(const std::function<void()>& finished) {
    seams_.openURL(fallbackURL);
    if (finished) finished();
}

std::string ToggleIntent::command(TimePoint now) {
    QJsonObject object{
        {QStringLiteral("action"), QStringLiteral("toggle")},
        {QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
        {QStringLiteral("at"), std::chrono::duration<double>(now.time_since_epoch()).count()},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

void ToggleIntent::openWithDesktop(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

} // namespace orvex::widget
