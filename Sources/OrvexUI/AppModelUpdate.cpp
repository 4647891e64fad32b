// The model's side of self-update: the user's check and the installation with its three ways.
#include "AppModel.h"

#include "DaemonClient.h"
#include "ElevationError.h"
#include "Paths.h"
#include "Platform.h"
#include "ServiceClient.h"
#include "UnixSocket.h"
#include "UpdateError.h"
#include "Version.h"
#include "Workspace.h"

namespace orvex {

void AppModel::checkUpdate() {
    run([this] {
        std::optional<UpdateChecker::Info> info = UpdateChecker::check(Version::current(), true);
        onMain([&] {
            setUpdate(info);
            setUpdateReady(false);
            if (!info) setMessage(std::string("Установлена последняя версия."));
        });
    });
}

void AppModel::installUpdate() {
    if (!update_) return;
    run([this, info = *update_] { installUpdateSequence(info); });
}

void AppModel::installUpdateSequence(const UpdateChecker::Info& info) {
    const std::string& version = info.version;
    // A Linux package is the package manager's to install: the user gets the download page.
    if (Platform::current().updateInstall == Platform::UpdateInstall::packageManager) {
        env_.workspace->openURL(info.dmgURL);
        onMain([&] {
            setMessage("Версия " + version +
                       " открыта на странице загрузки: установите её менеджером пакетов.");
        });
        return;
    }
    auto finish = [&](const std::string& logLine) {
        onMain([&] {
            setUpdateReady(true);
            setMessage("Версия " + version + " установлена. Перезапустите ORVEX.");
            log_->write(logLine);
            setUpdateProgress(std::nullopt);
        });
    };
    auto giveUp = [&] { onMain([&] { setUpdateProgress(std::nullopt); }); };
    // Progress arrives on the downloading worker; the model hears of it without holding it up.
    UpdateChecker::Progress progress = [this](double fraction) {
        post([this, fraction] { setUpdateProgress(fraction); });
    };

    onMain([&] { setUpdateProgress(0.0); });

    bool serviceAnswers = false;
    try {
        serviceAnswers = env_.service->isRunning();
    } catch (...) {
    }
    if (serviceAnswers) {
        try {
            env_.service->installUpdate(version);
            finish("обновление установлено службой: " + version);
            return;
        } catch (const UnixSocket::SocketError& error) {
            // Gone before the request reached it: nothing is installing, so another way is safe.
            if (error.kind != UnixSocket::SocketError::Kind::connect) {
                giveUp();
                throw;
            }
            log_->write(std::string("служба не поставила обновление (") + error.what() + "), пробую сам");
        } catch (const DaemonError& error) {
            // Only a refusal proves the service is not installing; after a silence it may still
            // be at work, and a second installer beside it would fight it.
            if (error.kind != DaemonError::Kind::refused) {
                giveUp();
                throw;
            }
            log_->write(std::string("служба не поставила обновление (") + error.what() + "), пробую сам");
        }
    }

    try {
        std::string package = UpdateChecker::downloadPackage(info, std::nullopt, progress);
        std::string installed = UpdateChecker::installPackage(package, version);
        finish("обновление установлено установщиком: " + version + " в " + installed);
        return;
    } catch (const ElevationError& error) {
        if (error.which() == ElevationError::Case::cancelled) {
            giveUp();
            throw;
        }
        log_->write(std::string("установщик не сработал (") + error.what() + "), пробую образ");
    } catch (const Gone&) {
        throw;
    } catch (const std::exception& error) {
        log_->write(std::string("установщик не сработал (") + error.what() + "), пробую образ");
    }

    try {
        std::string image = UpdateChecker::download(info, progress);
        std::string bundle = Paths::ownBundle();
        std::string installed =
            UpdateChecker::install(image, version, bundle.empty() ? Paths::applicationBundle() : bundle);
        env_.elevateSelf("-install-service");
        finish("обновление установлено из образа: " + version + " в " + installed);
    } catch (const UpdateError& error) {
        giveUp();
        if (error.which() == UpdateError::Case::needsManualCopy) env_.workspace->openFile(error.payload());
        throw;
    } catch (const Gone&) {
        throw;
    } catch (...) {
        giveUp();
        throw;
    }
}

} // namespace orvex
