#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "FileDescriptor.h"
#include "ScopeGuard.h"
#include "SocketPlatform.h"
#include "SpawnPlatform.h"

extern char** environ;

namespace orvex {

// Shared by the owner and the waiter thread. The waiter blocks until the child ends without
// reaping it (WNOWAIT), then reaps it under the mutex; signals are sent under the same mutex
// only while it is not yet reaped, so a signal can never reach a recycled process ID.
struct ChildProcess::State {
    pid_t pid = -1;
    mutable std::mutex mutex;
    std::condition_variable ended;
    bool reaped = false;
    int code = -1;
    FileDescriptor gate; // our end of a held child's line
    std::thread waiter;

    void watch();
    void signal(int number) {
        std::lock_guard lock(mutex);
        if (!reaped) ::kill(pid, number);
    }
};

namespace {

// A held child starts as this shell script with its end of the gate on descriptor 3. It waits
// for one line and then becomes the program (the same process and id) without the gate. When
// the owner has gone, the read meets the end of the stream and the script leaves instead.
constexpr const char* gateShell = "/bin/sh";
constexpr const char* gateScript = "read go <&3 || exit; exec \"$0\" \"$@\" 3<&-";
constexpr int gateDescriptor = 3;

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

pid_t reap(pid_t pid, int& status) {
    pid_t result;
    do {
        result = ::waitpid(pid, &status, 0);
    } while (result < 0 && errno == EINTR);
    return result;
}

void check(int error, const char* what) {
    if (error != 0) throw std::system_error(error, std::generic_category(), what);
}

void addRedirect(posix_spawn_file_actions_t* actions, int target, const ChildProcess::Redirect& redirect) {
    using Kind = ChildProcess::Redirect::Kind;
    switch (redirect.kind) {
    case Kind::inherit:
        check(SpawnPlatform::keepStandardStream(actions, target), "posix_spawn_file_actions");
        break;
    case Kind::descriptor:
        check(posix_spawn_file_actions_adddup2(actions, redirect.fd, target),
              "posix_spawn_file_actions_adddup2");
        break;
    case Kind::file:
        check(posix_spawn_file_actions_addopen(actions, target, redirect.path.c_str(),
                                               O_WRONLY | O_CREAT | (redirect.truncate ? O_TRUNC : O_APPEND),
                                               0644),
              "posix_spawn_file_actions_addopen");
        break;
    }
}

} // namespace

void ChildProcess::State::watch() {
    siginfo_t info{};
    int result;
    do {
        result = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    } while (result < 0 && errno == EINTR);
    int status = 0;
    if (result < 0) {
        // Without WNOWAIT support the child can only be reaped blind; it is gone either way.
        pid_t reapedPid = reap(pid, status);
        std::lock_guard lock(mutex);
        code = reapedPid == pid ? decodeStatus(status) : -1;
        reaped = true;
    } else {
        std::lock_guard lock(mutex);
        code = reap(pid, status) == pid ? decodeStatus(status) : -1;
        reaped = true;
    }
    ended.notify_all();
}

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}

ChildProcess::~ChildProcess() { release(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : state_(std::move(other.state_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        release();
        state_ = std::move(other.state_);
    }
    return *this;
}

void ChildProcess::release() {
    if (!state_) return;
    stop();
    state_->waiter.join();
    state_.reset();
}

ChildProcess ChildProcess::spawn(const std::string& program, const std::vector<std::string>& arguments) {
    return spawn(program, arguments, Options{});
}

ChildProcess ChildProcess::spawn(const std::string& program, const std::vector<std::string>& arguments,
                                 const Options& options) {
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 5);
    if (options.held) {
        argv.push_back(const_cast<char*>(gateShell));
        argv.push_back(const_cast<char*>("-c"));
        argv.push_back(const_cast<char*>(gateScript));
    }
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    check(posix_spawnattr_init(&attributes), "posix_spawnattr_init");
    ScopeGuard destroyAttributes([&] { posix_spawnattr_destroy(&attributes); });
    posix_spawn_file_actions_t actions;
    check(posix_spawn_file_actions_init(&actions), "posix_spawn_file_actions_init");
    ScopeGuard destroyActions([&] { posix_spawn_file_actions_destroy(&actions); });

    sigset_t none;
    sigemptyset(&none);
    check(posix_spawnattr_setsigmask(&attributes, &none), "posix_spawnattr_setsigmask");
    sigset_t all;
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    check(posix_spawnattr_setsigdefault(&attributes, &all), "posix_spawnattr_setsigdefault");
    check(posix_spawnattr_setflags(&attributes,
                                   static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                      SpawnPlatform::extraFlags())),
          "posix_spawnattr_setflags");

    check(SpawnPlatform::keepStandardStream(&actions, STDIN_FILENO), "posix_spawn_file_actions");
    addRedirect(&actions, STDOUT_FILENO, options.output);
    if (options.error.kind == Redirect::Kind::file && options.output.kind == Redirect::Kind::file &&
        options.error.path == options.output.path)
        check(posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO),
              "posix_spawn_file_actions_adddup2");
    else
        addRedirect(&actions, STDERR_FILENO, options.error);
    FileDescriptor ours;
    FileDescriptor theirs;
    if (options.held) {
        int ends[2];
        if (SocketPlatform::openPair(ends) != 0)
            throw std::system_error(errno, std::generic_category(), "socketpair");
        ours.reset(ends[0]);
        theirs.reset(ends[1]);
        check(posix_spawn_file_actions_adddup2(&actions, theirs.get(), gateDescriptor),
              "posix_spawn_file_actions_adddup2");
    }
    check(SpawnPlatform::closeTheRest(&actions, options.held ? gateDescriptor + 1 : STDERR_FILENO + 1),
          "posix_spawn_file_actions_addclosefrom_np");
    // The folder change comes last so that relative redirection paths mean the caller's folder.
    if (!options.workingDirectory.empty())
        check(posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str()),
              "posix_spawn_file_actions_addchdir_np");

    // An added entry replaces the caller's one of the same name rather than standing beside it.
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view name(*entry, std::strcspn(*entry, "="));
        bool replaced =
            std::any_of(options.environment.begin(), options.environment.end(),
                        [&](const std::string& added) { return added.starts_with(std::string(name) + "="); });
        if (!replaced) envp.push_back(*entry);
    }
    for (const std::string& added : options.environment) envp.push_back(const_cast<char*>(added.c_str()));
    envp.push_back(nullptr);

    auto state = std::make_unique<State>();
    state->gate = std::move(ours);
    int error = posix_spawn(&state->pid, argv.front(), &actions, &attributes, argv.data(), envp.data());
    if (error != 0) throw std::system_error(error, std::generic_category(), program);

    try {
        state->waiter = std::thread([raw = state.get()] { raw->watch(); });
    } catch (...) {
        ::kill(state->pid, SIGKILL);
        int status;
        reap(state->pid, status);
        throw;
    }
    return ChildProcess(std::move(state));
}

pid_t ChildProcess::pid() const { return state_ ? state_->pid : -1; }

bool ChildProcess::running() const {
    if (!state_) return false;
    std::lock_guard lock(state_->mutex);
    return !state_->reaped;
}

std::optional<int> ChildProcess::exitCode() const {
    if (!state_) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    if (!state_->reaped) return std::nullopt;
    return state_->code;
}

bool ChildProcess::waitUntil(Clock::time_point deadline) {
    if (!state_) return true;
    std::unique_lock lock(state_->mutex);
    return state_->ended.wait_until(lock, deadline, [&] { return state_->reaped; });
}

int ChildProcess::wait() {
    if (!state_) return -1;
    std::unique_lock lock(state_->mutex);
    state_->ended.wait(lock, [&] { return state_->reaped; });
    return state_->code;
}

void ChildProcess::proceed() {
    if (!state_) return;
    std::lock_guard lock(state_->mutex);
    if (!state_->gate) return;
    // A child that has ended meanwhile only fails the send.
    (void)::send(state_->gate.get(), "\n", 1, SocketPlatform::sendFlags());
    state_->gate.reset();
}

void ChildProcess::terminate() {
    if (state_) state_->signal(SIGTERM);
}

void ChildProcess::kill() {
    if (state_) state_->signal(SIGKILL);
}

bool ChildProcess::stop(std::chrono::milliseconds grace) {
    if (!state_) return true;
    terminate();
    if (waitFor(grace)) return true;
    kill();
    wait();
    return false;
}

} // namespace orvex
