// Handing a call to the main thread and waiting for it. The component owns no
// event loop: the program supplies one of these. Every wait of the main thread
// inside the component keeps calling Serve(), so a worker that is handing a
// call over never blocks a stop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace quillon {

class TMainThreadHandoff {
public:
    virtual ~TMainThreadHandoff() = default;
    // True on the thread that hand-offs go to.
    virtual bool IsMainThread() const = 0;
    // Runs the call on the main thread; the caller waits until it has returned
    // (an exception it raises comes back to the caller). Called on the main
    // thread itself, it runs the call directly.
    virtual void RunOnMain(const std::function<void()>& call) = 0;
    // Called on the main thread while it waits: runs the calls handed over so far.
    virtual void Serve() = 0;
};

// For programs without a main loop: the "main thread" is the one that created
// the object, and a call handed over from another thread runs on that thread,
// one call at a time, so two deliveries never overlap.
class TDirectHandoff : public TMainThreadHandoff {
public:
    bool IsMainThread() const override { return std::this_thread::get_id() == main_; }
    void RunOnMain(const std::function<void()>& call) override;
    void Serve() override {}

private:
    const std::thread::id main_ = std::this_thread::get_id();
    std::mutex serial_;
};

// A queue served by the main thread: from its own loop (ServeFor), from the
// component's waits (Serve), or from a toolkit's event loop that Pending()
// wakes up (override it to post an event that calls Serve).
class TQueuedHandoff : public TMainThreadHandoff {
public:
    bool IsMainThread() const override { return std::this_thread::get_id() == main_; }
    void RunOnMain(const std::function<void()>& call) override;
    void Serve() override;
    // Waits up to the given time for hand-offs and runs them; true when one ran.
    bool ServeFor(std::chrono::milliseconds time);

protected:
    // A call was queued; runs on the handing thread.
    virtual void Pending() {}

private:
    struct Call {
        const std::function<void()>* call;
        bool done = false;
        std::exception_ptr failure; // rethrown on the handing thread
    };
    bool run_queued(std::unique_lock<std::mutex>& lock);

    const std::thread::id main_ = std::this_thread::get_id();
    std::mutex lock_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<Call*> calls_;
};

} // namespace quillon
