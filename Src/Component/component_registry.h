// ComponentRegistry: every live component of the process, in creation order.
// The library log callback offers each complete line to all of them; its lock
// is the first in the lock order (registry, task list, event lock).
#pragma once

#include <functional>
#include <mutex>
#include <vector>

namespace quillon {

class TCustomConversionComponent;

class ComponentRegistry {
public:
    static void Add(TCustomConversionComponent* component);
    // Returns once no log delivery walks the registry any more.
    static void Remove(TCustomConversionComponent* component);
    // Walks the components in order; the caller holds Lock().
    static void ForEach(const std::function<void(TCustomConversionComponent&)>& action);
    static std::mutex& Lock();
};

} // namespace quillon
