// Runs the application model headless with its status poll against the service that
// ORVEX_ROOT leads to, and prints the process's CPU share and private memory over the run.
//
//   model-idle [seconds]      (60 unless told)
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "AppModel.h"
#include "MemoryKeychain.h"
#include "ProcessFigures.h"

using namespace orvex::bench;

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    int seconds = argc > 1 ? std::atoi(argv[1]) : 60;

    orvex::AppEnvironment environment;
    environment.keychain = std::make_shared<orvex::MemoryKeychain>(); // the user's keychain stays untouched
    orvex::AppModel model(environment);
    int polls = 0;
    QObject::connect(&model, &orvex::AppModel::statusChanged, [&] { ++polls; });

    double cpuBefore = cpuSeconds();
    auto started = std::chrono::steady_clock::now();
    model.startPolling();
    QTimer::singleShot(std::chrono::seconds(seconds), &application, &QCoreApplication::quit);
    application.exec();
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    double cpu = cpuSeconds() - cpuBefore;
    model.stopPolling();

    std::printf("model-idle: %.0f s, %d statuses applied (%s)\n", wall, polls,
                std::string(orvex::wireText(model.status().state)).c_str());
    std::printf("cpu: %.3f s = %.3f %% of one core\n", cpu, 100 * cpu / wall);
    std::printf("private memory: %.1f MiB\n", privateKiB() / 1024.0);
    return 0;
}
