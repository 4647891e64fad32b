#include "Forms.h"

#include "AppModel.h"

namespace orvex::Forms {

void submit(AppModel& model, QObject* context, const std::function<void()>& call,
            std::function<void()> clear) {
    bool wasBusy = model.busy();
    call();
    if (wasBusy || !model.busy()) return;
    QObject::connect(
        &model, &AppModel::actionFinished, context,
        [&model, clear = std::move(clear)] {
            if (!model.message()) clear();
        },
        Qt::SingleShotConnection);
}

} // namespace orvex::Forms
