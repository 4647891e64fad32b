#pragma once

#include "Error.h"

#include <string>
#include <utility>

namespace orvex {

// Why checking, downloading or installing an update failed; what() is the user's line.
class UpdateError : public Error {
public:
    enum class Case { download, install, needsManualCopy, unavailable, badManifest };

    static UpdateError download(const std::string& detail) {
        return UpdateError(Case::download, "Не удалось скачать обновление: " + detail, detail);
    }
    static UpdateError install(const std::string& detail) {
        return UpdateError(Case::install, "Не удалось установить обновление: " + detail, detail);
    }
    // The system would not let ORVEX replace itself; the image at `imagePath` is for the user
    // to open and copy from by hand.
    static UpdateError needsManualCopy(const std::string& imagePath) {
        return UpdateError(
            Case::needsManualCopy,
            "Заменить приложение не дала система. Образ открыт: закройте ORVEX (⌘Q), перетащите его в "
            "«Программы» и подтвердите замену — запущенное приложение заменить нельзя. Если не поможет: "
            "Системные настройки → Конфиденциальность и безопасность → Управление приложениями → "
            "включить ORVEX.",
            imagePath);
    }
    static UpdateError unavailable() {
        return UpdateError(Case::unavailable, "Не удалось проверить обновления — сервер недоступен.", {});
    }
    static UpdateError badManifest() {
        return UpdateError(Case::badManifest, "Сервер вернул непонятный ответ об обновлении.", {});
    }

    Case which() const { return case_; }
    // The detail of download and install, the image's location for needsManualCopy, else empty.
    const std::string& payload() const { return payload_; }

private:
    UpdateError(Case which, const std::string& text, std::string payload)
        : Error(text), case_(which), payload_(std::move(payload)) {}

    Case case_;
    std::string payload_;
};

} // namespace orvex
