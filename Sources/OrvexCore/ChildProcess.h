#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace orvex {

// Owns one child process. It starts with an empty signal mask and default signal dispositions,
// whatever the starting thread blocks or ignores, so SIGTERM always reaches it; it inherits
// only the standard streams and the descriptors named in its redirections. The destructor
// stops the child (SIGTERM, a grace period, SIGKILL) and reaps it, so no child outlives its
// owner and no zombie is left behind. Move-only; the methods may be called from any thread.
class ChildProcess {
public:
    using Clock = std::chrono::steady_clock;

    // Where one of the child's output streams goes.
    struct Redirect {
        enum class Kind { inherit, descriptor, file };
        Kind kind = Kind::inherit;
        int fd = -1;           // for `descriptor`: duplicated into the child, still owned by the caller
        std::string path;      // for `file`: created when missing, mode 0644
        bool truncate = false; // for `file`: emptied first instead of appended to

        static Redirect inherit() { return {}; }
        static Redirect toDescriptor(int fd) { return {Kind::descriptor, fd, {}, false}; }
        static Redirect toFile(std::string path, bool truncate = false) {
            return {Kind::file, -1, std::move(path), truncate};
        }
    };

    struct Options {
        std::string workingDirectory; // empty: the caller's
        Redirect output;              // standard output
        Redirect error;               // standard error; the same file as `output` shares its opening
        // The child waits, before it becomes `program`, until proceed() is called: its id is
        // known and can be recorded before it does anything. Should this object or its whole
        // process go away first, the child ends without ever running `program`. A program that
        // cannot be run then shows as a child that ends at once, not as an exception.
        bool held = false;
        // "NAME=value" entries the child gets on top of the caller's environment.
        std::vector<std::string> environment = {};
    };

    // The grace the destructor gives a child between SIGTERM and SIGKILL.
    static constexpr std::chrono::milliseconds defaultGrace{200};

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (a path, not searched in PATH) with `arguments` after it and the caller's
    // environment. Throws std::system_error with the platform's reason when it cannot start.
    static ChildProcess spawn(const std::string& program, const std::vector<std::string>& arguments);
    static ChildProcess spawn(const std::string& program, const std::vector<std::string>& arguments,
                              const Options& options);

    explicit operator bool() const { return state_ != nullptr; }
    pid_t pid() const;
    bool running() const;

    // The exit status once the child has ended: its exit code, or 128 plus the signal number
    // when a signal ended it (as shells report it); -1 if the status could not be collected.
    std::optional<int> exitCode() const;

    // Block until the child has ended (and is reaped) or the deadline passes; true when ended.
    // The exit wakes the caller at once: there is no polling interval.
    bool waitUntil(Clock::time_point deadline);
    bool waitFor(Clock::duration limit) { return waitUntil(Clock::now() + limit); }
    // Blocks until the child has ended and returns exitCode().
    int wait();

    // Lets a held child become its program; no effect on any other.
    void proceed();

    // Signals the child while it is running; no effect once it has ended.
    void terminate(); // SIGTERM
    void kill();      // SIGKILL

    // SIGTERM, up to `grace` for the child to end, then SIGKILL; returns once the child is
    // reaped. True when it ended within the grace (or had already ended).
    bool stop(std::chrono::milliseconds grace = defaultGrace);

private:
    struct State;
    explicit ChildProcess(std::unique_ptr<State> state);
    void release();

    std::unique_ptr<State> state_;
};

} // namespace orvex
