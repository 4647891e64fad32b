#include "Snapshot.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace orvex::widget {

namespace {

// 2001-01-01 00:00:00 UTC in seconds since 1970: the application dates its files from there.
constexpr double referenceDate = 978307200;
// The first instant of year 1, as the application's platform dates "no time at all".
constexpr double distantPast = -63114076800;

// An optional key: missing and null both mean absent; a value of another type spoils the record.
bool optionalKey(const QJsonObject& object, const char* key, QJsonValue::Type type, QJsonValue& value) {
    value = object.value(QLatin1String(key));
    return value.isUndefined() || value.isNull() || value.type() == type;
}

} // namespace

std::optional<Snapshot> Snapshot::decode(std::string_view bytes) {
    QJsonParseError error{};
    QJsonDocument document =
        QJsonDocument::fromJson(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    QJsonObject object = document.object();
    QJsonValue state = object.value(QLatin1String("state"));
    QJsonValue server = object.value(QLatin1String("server"));
    QJsonValue blocked = object.value(QLatin1String("blocked"));
    QJsonValue updated = object.value(QLatin1String("updated"));
    if (!state.isString() || !server.isString() || !blocked.isBool() || !updated.isDouble())
        return std::nullopt;
    QJsonValue pending, alive;
    if (!optionalKey(object, "pending", QJsonValue::String, pending) ||
        !optionalKey(object, "alive", QJsonValue::Bool, alive))
        return std::nullopt;

    Snapshot snapshot{state.toString().toStdString(),
                      server.toString().toStdString(),
                      blocked.toBool(),
                      updated.toDouble(),
                      std::nullopt,
                      std::nullopt};
    if (pending.isString()) snapshot.pending = pending.toString().toStdString();
    if (alive.isBool()) snapshot.alive = alive.toBool();
    return snapshot;
}

Snapshot Snapshot::unknown() { return {"unknown", "", false, distantPast, std::nullopt, std::nullopt}; }

double Snapshot::age(TimePoint now) const { return secondsSince2001(now) - updated; }

double secondsSince2001(TimePoint time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count() - referenceDate;
}

} // namespace orvex::widget
