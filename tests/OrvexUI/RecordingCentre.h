#pragma once

#include "Notices.h"
#include "NotificationCentre.h"

#include <string>
#include <vector>

namespace orvex::test {

// A notification centre that records what would have reached the user, on the thread that
// posts. With `refusal` set it refuses every post with that description at once; `permission`
// is its answer to the permission request.
class RecordingCentre : public NotificationCentre {
public:
    void post(const std::string& title, const std::string& body, Failure failed) override {
        posted.push_back({title, body});
        if (!refusal.empty()) failed(refusal);
    }
    void requestPermission(PermissionAnswer answered) override {
        answered(permission.first, permission.second);
    }

    std::vector<Notices::Notice> posted;
    std::string refusal;
    std::pair<bool, std::string> permission{true, {}};
};

} // namespace orvex::test
