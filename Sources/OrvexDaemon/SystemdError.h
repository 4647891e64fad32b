#pragma once

#include "Error.h"

#include <string>

namespace orvex {

// The service could not be installed or started as a systemd unit; the text says why, with
// systemctl's own words where there are any.
class SystemdError : public Error {
public:
    enum class Case { notRunning, failed };

    static SystemdError notRunning(const std::string& marker) {
        return SystemdError(Case::notRunning, "systemd не запущен на этой машине (нет " + marker +
                                                  "): службу ORVEX некому запускать");
    }
    static SystemdError failed(const std::string& text) { return SystemdError(Case::failed, text); }

    Case which() const { return case_; }

private:
    SystemdError(Case which, const std::string& text) : Error(text), case_(which) {}

    Case case_;
};

} // namespace orvex
