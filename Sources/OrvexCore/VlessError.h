#pragma once

#include "Error.h"

namespace orvex {

// Why a link or a subscription text could not be read.
class VlessError : public Error {
public:
    enum class Case { notVless, noUUID, noAddress, badPort, emptySubscription, badBase64 };

    explicit VlessError(Case which) : Error(describe(which)), case_(which) {}

    Case which() const { return case_; }

    static const char* describe(Case which) {
        switch (which) {
        case Case::notVless:
            return "это не vless:// ссылка";
        case Case::noUUID:
            return "в ссылке нет идентификатора пользователя";
        case Case::noAddress:
            return "в ссылке нет адреса сервера";
        case Case::badPort:
            return "в ссылке некорректный порт";
        case Case::emptySubscription:
            return "подписка пуста";
        case Case::badBase64:
            return "подписка не читается";
        }
        return "";
    }

private:
    Case case_;
};

} // namespace orvex
