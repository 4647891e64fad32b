#include "Workspace.h"

#include "SessionBus.h"

#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QUrl>

namespace orvex {
namespace {

// The freedesktop desktop: default applications through Qt's desktop services, and the file
// manager through its org.freedesktop.FileManager1 interface where one offers it. Call on
// the thread that made the workspace.
class FreedesktopWorkspace : public Workspace {
public:
    void openURL(const std::string& url) override {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
    }

    void openFile(const std::string& path) override {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    }

    void revealFile(const std::string& path) override {
        QString file = QString::fromStdString(path);
        QDBusMessage call =
            QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                           "org.freedesktop.FileManager1", "ShowItems");
        call << QStringList{QUrl::fromLocalFile(file).toString()} << QString(); // no startup id
        // Without such a file manager the folder itself is the next best thing.
        QUrl folder = QUrl::fromLocalFile(QFileInfo(file).absolutePath());
        SessionBus::send(call, calls_, [folder](const std::string&) { QDesktopServices::openUrl(folder); });
    }

private:
    QObject calls_; // owns the calls in flight, so an answer after the workspace's end reaches nobody
};

} // namespace

std::shared_ptr<Workspace> Workspace::system() { return std::make_shared<FreedesktopWorkspace>(); }

} // namespace orvex
