#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace orvex {

// One running application per user. The first start listens on a per-user local socket; a
// later start hands its message (a URL, or the empty text for "show the window") to it and
// ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name` distinguishes users (and tests); the default is per user id.
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);

    static QString defaultName();

    // Hands `message` to a running instance; true when one took it.
    bool handOver(const QString& message);

    // Becomes the running instance: `received` gets every later start's message. False when
    // the socket cannot be taken.
    bool listen(std::function<void(const QString& message)> received);

private:
    QString name_;
    std::unique_ptr<QLocalServer> server_;
};

} // namespace orvex
