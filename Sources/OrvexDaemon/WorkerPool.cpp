#include "WorkerPool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace orvex {

struct WorkerPool::State {
    const std::size_t limit;
    const std::size_t kept;
    const Millis idleLimit;

    mutable std::mutex mutex;
    std::condition_variable work;    // a task was queued, or the pool is closing
    std::condition_variable settled; // a task finished or a worker ended
    std::deque<std::function<void()>> tasks;
    std::size_t inFlight = 0; // tasks queued or running
    std::size_t workers = 0;
    std::size_t waiting = 0; // workers blocked in wait for a task
    bool closing = false;
};

WorkerPool::WorkerPool(std::size_t limit, std::size_t kept, Millis idleLimit)
    : state_(std::make_shared<State>(limit, kept, idleLimit)) {}

WorkerPool::~WorkerPool() {
    std::unique_lock lock(state_->mutex);
    state_->closing = true;
    state_->work.notify_all();
    state_->settled.wait(lock, [&] { return state_->workers == 0; });
}

void WorkerPool::waitForRoom() {
    std::unique_lock lock(state_->mutex);
    state_->settled.wait(lock, [&] { return state_->inFlight < state_->limit; });
}

void WorkerPool::rest(Millis pause) {
    std::unique_lock lock(state_->mutex);
    state_->settled.wait_for(lock, pause);
}

void WorkerPool::post(std::function<void()> task) {
    std::unique_lock lock(state_->mutex);
    state_->tasks.push_back(std::move(task));
    ++state_->inFlight;
    // Every queued task needs a worker of its own that is free to take it.
    if (state_->tasks.size() <= state_->waiting) {
        state_->work.notify_one();
        return;
    }
    try {
        std::thread(work, state_).detach();
        ++state_->workers;
    } catch (const std::system_error&) {
        // Out of threads: a busy worker takes the task when it is done, unless there is none.
        if (state_->workers > 0) return;
        auto dropped = std::move(state_->tasks.back());
        state_->tasks.pop_back();
        --state_->inFlight;
        lock.unlock();
    }
}

std::size_t WorkerPool::workers() const {
    std::lock_guard lock(state_->mutex);
    return state_->workers;
}

void WorkerPool::work(std::shared_ptr<State> state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        if (!state->tasks.empty()) {
            auto task = std::move(state->tasks.front());
            state->tasks.pop_front();
            lock.unlock();
            task();
            // Whatever the task holds (a connection) is released before it counts as done.
            task = nullptr;
            lock.lock();
            --state->inFlight;
            state->settled.notify_all();
            continue;
        }
        if (state->closing) break;
        ++state->waiting;
        bool woken = state->work.wait_for(lock, state->idleLimit,
                                          [&] { return !state->tasks.empty() || state->closing; });
        --state->waiting;
        if (!woken && state->workers > state->kept) break;
    }
    --state->workers;
    state->settled.notify_all();
}

} // namespace orvex
