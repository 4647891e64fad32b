// Runs the desktop application (window, tray, model with its status poll) against the service
// that ORVEX_ROOT leads to, on the X display in DISPLAY, and prints how long the process took
// to its first painted window, then its CPU share and private memory over the idle run.
//
//   app-idle [seconds]      (60 unless told)
#include <QApplication>
#include <QMainWindow>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "AppDelegate.h"
#include "MemoryKeychain.h"
#include "ProcessFigures.h"

using namespace orvex::bench;

namespace {

// Notes the moment the main window first paints.
class FirstPaint : public QObject {
public:
    double seconds = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && seconds < 0) seconds = secondsSinceStart();
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    int seconds = argc > 1 ? std::atoi(argv[1]) : 60;

    orvex::AppEnvironment environment;
    environment.keychain = std::make_shared<orvex::MemoryKeychain>(); // the user's keychain stays untouched
    orvex::AppDelegate delegate(std::move(environment));
    FirstPaint firstPaint;
    delegate.launch();
    delegate.window()->installEventFilter(&firstPaint);
    for (QObject* child : delegate.window()->findChildren<QWidget*>()) child->installEventFilter(&firstPaint);

    // The idle figure starts once start-up is over.
    double cpuBefore = 0;
    auto idleStart = std::chrono::steady_clock::now();
    QTimer::singleShot(std::chrono::seconds(2), [&] {
        cpuBefore = cpuSeconds();
        idleStart = std::chrono::steady_clock::now();
    });
    QTimer::singleShot(std::chrono::seconds(2 + seconds), &application, &QCoreApplication::quit);
    application.exec();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - idleStart).count();
    double cpu = cpuSeconds() - cpuBefore;

    std::printf("app-idle: first painted window %.0f ms after the process started\n",
                1000 * firstPaint.seconds);
    std::printf("idle %.0f s: cpu %.3f s = %.3f %% of one core\n", wall, cpu, 100 * cpu / wall);
    std::printf("private memory: %.1f MiB\n", privateKiB() / 1024.0);
    return 0;
}
