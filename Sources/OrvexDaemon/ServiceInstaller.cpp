#include "ServiceInstaller.h"

#include "LaunchdService.h"
#include "Platform.h"
#include "SystemdService.h"

namespace orvex::ServiceInstaller {
namespace {

bool systemd() { return Platform::current().serviceManager == Platform::ServiceManager::systemd; }

} // namespace

void install() { systemd() ? SystemdService::install() : LaunchdService::install(); }

void uninstall() { systemd() ? SystemdService::uninstall() : LaunchdService::uninstall(); }

} // namespace orvex::ServiceInstaller
