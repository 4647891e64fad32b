#pragma once

#include "Error.h"

#include <string>
#include <utility>

namespace orvex {

// Why the proxy engine could not be brought up.
class EngineError : public Error {
public:
    enum class Case { missingBinary, engineExited, noFreePort, portNotReady, needsXray, missingGeoData };

    static EngineError missingBinary(const std::string& path) {
        return EngineError(Case::missingBinary, path, "не найден файл движка: " + path);
    }
    static EngineError engineExited(const std::string& detail) {
        return EngineError(Case::engineExited, detail, "движок завершился сразу после запуска: " + detail);
    }
    static EngineError noFreePort() {
        return EngineError(Case::noFreePort, {}, "не удалось выбрать локальный порт");
    }
    static EngineError portNotReady() {
        return EngineError(Case::portNotReady, {}, "движок не поднял локальный порт");
    }
    // The system's v2ray stands in for xray but cannot do `feature`; `folder` is where xray goes.
    static EngineError needsXray(const std::string& feature, const std::string& folder) {
        return EngineError(Case::needsXray, folder,
                           "Этому серверу нужен движок xray (" + feature +
                               "), а системный v2ray так не умеет. Положите программу xray в " + folder);
    }
    static EngineError missingGeoData(const std::string& folder) {
        return EngineError(Case::missingGeoData, folder,
                           "Для раздельной маршрутизации нужны geoip.dat и geosite.dat рядом с движком. "
                           "Положите их в " +
                               folder);
    }

    Case which() const { return case_; }
    // The missing file's path, the engine's own last words or the folder the missing files
    // belong in; empty for the other cases.
    const std::string& detail() const { return detail_; }

private:
    EngineError(Case which, std::string detail, const std::string& text)
        : Error(text), case_(which), detail_(std::move(detail)) {}

    Case case_;
    std::string detail_;
};

} // namespace orvex
