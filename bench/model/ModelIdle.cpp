// Runs the application model headless with its status poll against the service that
// ORVEX_ROOT leads to, and prints the process's CPU share and private memory over the run.
//
//   model-idle [seconds]      (60 unless told)
#include <QCoreApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>

#include "AppModel.h"
#include "MemoryKeychain.h"

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Private_Clean + Private_Dirty of the whole process, in KiB.
long privateKiB() {
    std::ifstream rollup("/proc/self/smaps_rollup");
    std::string line;
    long total = 0;
    while (std::getline(rollup, line)) {
        std::istringstream fields(line);
        std::string key;
        long value = 0;
        fields >> key >> value;
        if (key == "Private_Clean:" || key == "Private_Dirty:") total += value;
    }
    return total;
}

} // namespace

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
