#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>

namespace orvex {

// Threads that already exist and wait for work. A task is handed to a waiting worker; when
// every worker is busy a new one starts, so a task that blocks (a silent client, a long
// connect) holds its own worker and never the others. Workers beyond `kept` end after
// `idleLimit` without work. At most `limit` tasks run or wait at once.
class WorkerPool {
public:
    using Millis = std::chrono::milliseconds;

    explicit WorkerPool(std::size_t limit, std::size_t kept = 2, Millis idleLimit = std::chrono::seconds(10));
    // Returns once every task posted has run and every worker has ended.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Blocks while `limit` tasks are running or waiting.
    void waitForRoom();
    // Returns when a task has finished, or after `pause` when none did.
    void rest(Millis pause);
    // Queues the task for a waiting worker or a new one. When no worker exists and none can be
    // started the task is dropped, which is how it learns the pool is out of threads.
    void post(std::function<void()> task);

    // Workers alive now, busy or waiting.
    std::size_t workers() const;

private:
    struct State;
    static void work(std::shared_ptr<State> state);

    // Shared with the workers, which are detached: the last one out may still be unlocking it
    // when the destructor returns.
    std::shared_ptr<State> state_;
};

} // namespace orvex
