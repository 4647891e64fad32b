#include "NotificationCentre.h"

#import <Foundation/Foundation.h>
#import <UserNotifications/UserNotifications.h>

namespace orvex {
namespace {

NSString* toNSString(const std::string& text) { return [NSString stringWithUTF8String:text.c_str()] ?: @""; }

std::string describe(NSError* error) {
    const char* text = error.localizedDescription.UTF8String;
    return text != nullptr ? text : "";
}

// The system's user-notification centre. Its completion handlers run on a queue of its own
// choosing; they only hand the answer on.
class UserNotificationCentre : public NotificationCentre {
public:
    void post(const std::string& title, const std::string& body, Failure failed) override {
        @autoreleasepool {
            UNMutableNotificationContent* content = [[UNMutableNotificationContent alloc] init];
            content.title = toNSString(title);
            content.body = toNSString(body);
            content.sound = [UNNotificationSound defaultSound];
            // A fresh identifier each time, so no notification replaces another; no trigger: at once.
            UNNotificationRequest* request =
                [UNNotificationRequest requestWithIdentifier:[NSUUID UUID].UUIDString
                                                     content:content
                                                     trigger:nil];
#if !__has_feature(objc_arc)
            [content release];
#endif
            [[UNUserNotificationCenter currentNotificationCenter] addNotificationRequest:request
                                                                   withCompletionHandler:^(NSError* error) {
                                                                     if (error != nil && failed)
                                                                         failed(describe(error));
                                                                   }];
        }
    }

    void requestPermission(PermissionAnswer answered) override {
        [[UNUserNotificationCenter currentNotificationCenter]
            requestAuthorizationWithOptions:(UNAuthorizationOptionAlert | UNAuthorizationOptionSound)
                          completionHandler:^(BOOL granted, NSError* error) {
                            answered(granted, error != nil ? describe(error) : std::string());
                          }];
    }
};

} // namespace

std::shared_ptr<NotificationCentre> NotificationCentre::system() {
    return std::make_shared<UserNotificationCentre>();
}

} // namespace orvex
