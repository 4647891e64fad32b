#pragma once

#include "Error.h"

#include <string>
#include <utility>

namespace orvex {

// Why the proxy engine could not be brought up.
class EngineError : public Error {
public:
    enum class Case { missingBinary, engineExited, noFreePort, portNotReady };

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

    Case which() const { return case_; }
    // The missing file's path or the engine's own last words; empty for the other cases.
    const std::string& detail() const { return detail_; }

private:
    EngineError(Case which, std::string detail, const std::string& text)
        : Error(text), case_(which), detail_(std::move(detail)) {}

    Case case_;
    std::string detail_;
};

} // namespace orvex
