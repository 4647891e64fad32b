#include "Workspace.h"

#import <AppKit/AppKit.h>

namespace orvex {
namespace {

NSURL* fileURL(const std::string& path) {
    NSString* text = [NSString stringWithUTF8String:path.c_str()];
    return text != nil ? [NSURL fileURLWithPath:text] : nil;
}

// NSWorkspace: the user's default applications and the Finder. Call on the main thread.
class AppKitWorkspace : public Workspace {
public:
    void openURL(const std::string& url) override {
        @autoreleasepool {
            NSString* text = [NSString stringWithUTF8String:url.c_str()];
            NSURL* address = text != nil ? [NSURL URLWithString:text] : nil;
            if (address != nil) [[NSWorkspace sharedWorkspace] openURL:address];
        }
    }

    void revealFile(const std::string& path) override {
        @autoreleasepool {
            if (NSURL* file = fileURL(path))
                [[NSWorkspace sharedWorkspace] activateFileViewerSelectingURLs:@[ file ]];
        }
    }

    void openFile(const std::string& path) override {
        @autoreleasepool {
            if (NSURL* file = fileURL(path)) [[NSWorkspace sharedWorkspace] openURL:file];
        }
    }
};

} // namespace

std::shared_ptr<Workspace> Workspace::system() { return std::make_shared<AppKitWorkspace>(); }

} // namespace orvex
