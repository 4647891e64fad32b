#include "AppEnvironment.h"

#include "APIClient.h"
#include "Autostart.h"
#include "Clock.h"
#include "Elevation.h"
#include "Keychain.h"
#include "NotificationCentre.h"
#include "Paths.h"
#include "Ping.h"
#include "ServiceClient.h"
#include "SupportFiles.h"
#include "Workspace.h"

namespace orvex {

AppEnvironment::AppEnvironment()
    : service(ServiceClient::system()), api(std::make_shared<APIClient>()),
      // The system keychain lives for the whole process; nothing owns it.
      keychain(&Keychain::system(), [](Keychain*) {}), clock(Clock::system()),
      notifications(NotificationCentre::system()), workspace(Workspace::system()),
      elevateSelf(Elevation::runSelf), ping(Ping::measure), autostartEnabled(Autostart::isEnabled),
      setAutostart(Autostart::setEnabled), downloadsDir(SupportFiles::downloadsFolder),
      appLogDir(Paths::appLogDir()), noticesFile(Paths::appSupportDir() + "/notices.json") {}

} // namespace orvex
