#include "Shell.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <poll.h>
#include <system_error>
#include <thread>

#include "ChildProcess.h"
#include "Io.h"
#include "Paths.h"
#include "Pipe.h"
#include "Text.h"

namespace orvex::Shell {
namespace {

using Clock = std::chrono::steady_clock;

// After SIGTERM at the time limit, how long the child may take to end before SIGKILL.
constexpr std::chrono::milliseconds terminateGrace{200};
// After the child ends, how long its output may take to reach end of file. A grandchild that
// inherited the pipe can keep it open indefinitely; its output is then given up.
constexpr std::chrono::milliseconds readerGrace{500};
// Longer limits are as good as none and would overflow the clock.
constexpr double longestLimit = 100.0 * 365 * 24 * 3600;

// Drains the child's merged output on a thread of its own, so a child that fills the pipe
// never stalls while the caller waits for its exit. The thread always ends before the reader
// is destroyed: when a grandchild keeps the pipe open, the destructor wakes it through a
// second pipe instead of leaving it blocked behind.
class OutputReader {
public:
    explicit OutputReader(FileDescriptor source) : source_(std::move(source)), wake_(Pipe::create()) {
        thread_ = std::thread([this] { collect(); });
    }

    ~OutputReader() {
        wake_.writeEnd.reset();
        thread_.join();
    }

    OutputReader(const OutputReader&) = delete;
    OutputReader& operator=(const OutputReader&) = delete;

    // True when the output reached end of file before the deadline.
    bool waitUntilComplete(Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        return finished_.wait_until(lock, deadline, [&] { return complete_; });
    }

    std::string take() {
        std::lock_guard lock(mutex_);
        return std::move(buffer_);
    }

private:
    void collect() {
        std::string bytes;
        bool endOfFile = false;
        pollfd watched[2] = {{source_.get(), POLLIN, 0}, {wake_.readEnd.get(), POLLIN, 0}};
        char chunk[16384];
        while (!endOfFile) {
            if (::poll(watched, 2, -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (watched[1].revents != 0) break;
            if (watched[0].revents == 0) continue;
            ssize_t count = Io::read(source_.get(), chunk, sizeof chunk);
            if (count > 0)
                bytes.append(chunk, static_cast<size_t>(count));
            else
                endOfFile = true;
        }
        {
            std::lock_guard lock(mutex_);
            buffer_ = std::move(bytes);
            complete_ = endOfFile;
        }
        finished_.notify_all();
    }

    FileDescriptor source_;
    Pipe wake_;
    std::mutex mutex_;
    std::condition_variable finished_;
    std::string buffer_;
    bool complete_ = false;
    std::thread thread_;
};

std::string wholeSeconds(double seconds) {
    if (!(seconds > 0)) return "0";
    return std::to_string(static_cast<long long>(std::trunc(std::min(seconds, longestLimit))));
}

Clock::time_point deadlineAfter(double seconds) {
    if (!(seconds > 0)) return Clock::now();
    auto limit = std::chrono::duration<double>(std::min(seconds, longestLimit));
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
}

Result cannotStart(const std::string& program, const std::string& reason) {
    return {-1, "не удалось запустить " + program + ": " + reason};
}

} // namespace

Result run(const std::string& program, const std::vector<std::string>& arguments, double timeout) {
    auto deadline = deadlineAfter(timeout);
    try {
        Pipe pipe = Pipe::create();
        ChildProcess::Options options;
        options.output = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
        options.error = ChildProcess::Redirect::toDescriptor(pipe.writeEnd.get());
        ChildProcess child = ChildProcess::spawn(program, arguments, options);
        // Only the child may hold the writing end, or the reader would never see end of file.
        pipe.writeEnd.reset();
        OutputReader reader(std::move(pipe.readEnd));

        if (!child.waitUntil(deadline)) {
            child.stop(terminateGrace);
            return {-1, program + ": команда не завершилась за " + wholeSeconds(timeout) + " с"};
        }
        int code = child.wait();
        std::string output;
        if (reader.waitUntilComplete(Clock::now() + readerGrace))
            output = Text::trim(Text::utf8OrEmpty(reader.take()));
        return {code, output};
    } catch (const std::system_error& error) {
        return cannotStart(program, error.code().message());
    } catch (const std::exception& error) {
        return cannotStart(program, error.what());
    }
}

Result route(const std::vector<std::string>& arguments, double timeout) {
    return run(Paths::relocate("/sbin/route"), arguments, timeout);
}

Result ifconfig(const std::vector<std::string>& arguments, double timeout) {
    return run(Paths::relocate("/sbin/ifconfig"), arguments, timeout);
}

Result networksetup(const std::vector<std::string>& arguments, double timeout) {
    return run(Paths::relocate("/usr/sbin/networksetup"), arguments, timeout);
}

} // namespace orvex::Shell
