#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

#include "TestSupport.h"

namespace orvex::widget::test {

using namespace orvex::test;

// Polls `condition` with the event loop running in between, until it holds or `limit` passes.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    return waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return condition();
        },
        limit);
}

} // namespace orvex::widget::test
