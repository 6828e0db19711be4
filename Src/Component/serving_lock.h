// Taking one of the component's locks. On the main thread the wait keeps
// serving hand-offs, so a worker that holds the lock while it waits for the
// main thread can always finish.
#pragma once

#include <chrono>
#include <thread>

#include "Component/conversion_component.h"

namespace quillon {

template <typename Mutex>
class ServingLock {
public:
    ServingLock(TCustomConversionComponent& component, Mutex& mutex) : mutex_(mutex)
    {
        if (!component.IsMainThread()) {
            mutex_.lock();
            return;
        }
        while (!mutex_.try_lock()) {
            component.ServeMainThread();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~ServingLock() { mutex_.unlock(); }
    ServingLock(const ServingLock&) = delete;
    ServingLock& operator=(const ServingLock&) = delete;

private:
    Mutex& mutex_;
};

} // namespace quillon
