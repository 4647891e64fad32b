#include "Keychain.h"

#include <CoreFoundation/CoreFoundation.h>
#include <Security/Security.h>

namespace orvex {
namespace {

// Holds one Core Foundation reference and releases it once.
template <typename T> class CFOwned {
public:
    explicit CFOwned(T ref = nullptr) : ref_(ref) {}
    ~CFOwned() {
        if (ref_ != nullptr) CFRelease(ref_);
    }
    CFOwned(const CFOwned&) = delete;
    CFOwned& operator=(const CFOwned&) = delete;
    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    T ref_;
};

CFStringRef makeString(const std::string& text) {
    return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8*>(text.data()),
                                   static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false);
}

// The user's login keychain through the Security framework.
class SecurityKeychain : public Keychain {
public:
    std::optional<std::string> read(const std::string& service, const std::string& account) override;
    void remove(const std::string& service, const std::string& account) override;
    bool add(const std::string& service, const std::string& account, const std::string& data,
             Access access) override;
};

CFMutableDictionaryRef baseQuery(CFStringRef service, CFStringRef account) {
    CFMutableDictionaryRef query = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                             &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(query, kSecClass, kSecClassGenericPassword);
    CFDictionarySetValue(query, kSecAttrService, service);
    CFDictionarySetValue(query, kSecAttrAccount, account);
    return query;
}

// Access lists belong to the file-based login keychain, whose interface Apple has deprecated
// without a replacement that lets a re-signed build read its own older items silently.
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wdeprecated-declarations"

// An access object under which any application may decrypt the item with no prompt; nothing
// when the keychain cannot build one.
SecAccessRef openAccess(CFStringRef description) {
    SecAccessRef access = nullptr;
    if (SecAccessCreate(description, nullptr, &access) != errSecSuccess || access == nullptr) return nullptr;
    CFOwned<SecAccessRef> owned(access);
    CFOwned<CFArrayRef> entries(SecAccessCopyMatchingACLList(access, kSecACLAuthorizationDecrypt));
    if (!entries) return nullptr;
    for (CFIndex i = 0; i < CFArrayGetCount(entries.get()); ++i) {
        auto entry = static_cast<SecACLRef>(const_cast<void*>(CFArrayGetValueAtIndex(entries.get(), i)));
        if (SecACLSetContents(entry, nullptr, CFSTR(""), 0) != errSecSuccess) return nullptr;
    }
    CFRetain(access);
    return access;
}

std::optional<std::string> SecurityKeychain::read(const std::string& service, const std::string& account) {
    CFOwned<CFStringRef> serviceName(makeString(service));
    CFOwned<CFStringRef> accountName(makeString(account));
    if (!serviceName || !accountName) return std::nullopt;
    CFOwned<CFMutableDictionaryRef> query(baseQuery(serviceName.get(), accountName.get()));
    CFDictionarySetValue(query.get(), kSecReturnData, kCFBooleanTrue);
    CFDictionarySetValue(query.get(), kSecMatchLimit, kSecMatchLimitOne);
    CFTypeRef result = nullptr;
    OSStatus status = SecItemCopyMatching(query.get(), &result);
    CFOwned<CFTypeRef> owned(result);
    if (status != errSecSuccess || result == nullptr || CFGetTypeID(result) != CFDataGetTypeID())
        return std::nullopt;
    auto data = static_cast<CFDataRef>(result);
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                       static_cast<size_t>(CFDataGetLength(data)));
}

void SecurityKeychain::remove(const std::string& service, const std::string& account) {
    CFOwned<CFStringRef> serviceName(makeString(service));
    CFOwned<CFStringRef> accountName(makeString(account));
    if (!serviceName || !accountName) return;
    CFOwned<CFMutableDictionaryRef> query(baseQuery(serviceName.get(), accountName.get()));
    SecItemDelete(query.get());
}

bool SecurityKeychain::add(const std::string& service, const std::string& account, const std::string& data,
                           Access access) {
    CFOwned<CFStringRef> serviceName(makeString(service));
    CFOwned<CFStringRef> accountName(makeString(account));
    if (!serviceName || !accountName) return false;
    CFOwned<CFMutableDictionaryRef> item(baseQuery(serviceName.get(), accountName.get()));
    CFOwned<CFDataRef> value(CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(data.data()),
                                          static_cast<CFIndex>(data.size())));
    if (!value) return false;
    CFDictionarySetValue(item.get(), kSecValueData, value.get());
    // The access object's description is the name the keychain shows for the item's owner.
    CFOwned<SecAccessRef> rule(access == Access::anyApplication ? openAccess(serviceName.get()) : nullptr);
    if (access == Access::anyApplication) {
        if (!rule) return false;
        CFDictionarySetValue(item.get(), kSecAttrAccess, rule.get());
    } else {
        CFDictionarySetValue(item.get(), kSecAttrAccessible,
                             kSecAttrAccessibleAfterFirstUnlockThisDeviceOnly);
    }
    return SecItemAdd(item.get(), nullptr) == errSecSuccess;
}

#pragma clang diagnostic pop

} // namespace

Keychain& Keychain::system() {
    static SecurityKeychain keychain;
    return keychain;
}

} // namespace orvex
