#pragma once

#include <functional>

class QObject;

namespace orvex {
class AppModel;
}

// How the panels' forms hand their typed text to the model.
namespace orvex::Forms {

// Runs `call` (a model operation taking the typed text) and, if that started an action which
// then ends without an error, runs `clear` once. A call the model dropped or ignored keeps the
// text, and so does a failure, so that the user can correct it and try again.
void submit(AppModel& model, QObject* context, const std::function<void()>& call,
            std::function<void()> clear);

} // namespace orvex::Forms
