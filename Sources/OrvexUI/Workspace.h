#pragma once

#include <memory>
#include <string>

namespace orvex {

// The desktop's shell: opening addresses and files, showing a file in the file manager.
// Nothing here blocks for long or throws; a request the desktop cannot carry out is dropped.
class Workspace {
public:
    virtual ~Workspace() = default;

    virtual void openURL(const std::string& url) = 0;
    // Shows the file selected in a file-manager window of its folder.
    virtual void revealFile(const std::string& path) = 0;
    // Opens the file with its default application (a disk image is mounted and shown).
    virtual void openFile(const std::string& path) = 0;

    static std::shared_ptr<Workspace> system();
};

} // namespace orvex
