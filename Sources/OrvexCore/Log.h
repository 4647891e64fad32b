#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace orvex {

// The line logger. Lines go to <dir>/<name>.log as "yyyy-MM-dd HH:mm:ss.SSS [name] message";
// nothing is written until the flag file <dir>/logging.on exists, since the log holds server
// addresses. Each instance writes on its own thread in the order of the write calls, so
// callers never wait for the disk and no failure ever reaches them. Every line is one
// append to a freshly opened file, which keeps the lines of several instances (and processes)
// on one file whole.
class Log {
public:
    Log(std::string dir, std::string name);
    // Writes what is still queued, then ends the writer thread.
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    // Whether the flag file exists in `dir`.
    static bool loadEnabled(const std::string& dir);

    const std::string& dir() const { return dir_; }
    const std::string& name() const { return name_; }
    std::string filePath() const;

    // Both run after every earlier write of this instance, so a write issued before
    // setEnabled(false) still sees the old setting and isEnabled() returns only when the
    // lines written before it are on disk.
    bool isEnabled();
    void setEnabled(bool enabled);

    // Returns at once; the line is formatted with the time of this call.
    void write(std::string message);

    // Returns once every earlier write of this instance is on disk, for a process that is
    // about to end itself.
    void flush();

    // The last `maxBytes` bytes of the log file as text, read on the caller's thread; the
    // empty text when the file is missing or not UTF-8. A cut through a multi-byte character
    // drops that character's remaining bytes rather than the whole text.
    std::string tail(size_t maxBytes) const;

private:
    void post(std::function<void()> task);
    void runSynchronously(const std::function<void()>& task);
    void serve();
    void append(const std::string& line);

    const std::string dir_;
    const std::string name_;
    bool enabled_; // touched only on the writer thread after construction

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool closing_ = false;
    std::thread writer_;
};

} // namespace orvex
