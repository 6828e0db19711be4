#include "Component/component_registry.h"

#include <algorithm>

namespace quillon {

namespace {

struct Registry {
    std::mutex lock;
    std::vector<TCustomConversionComponent*> components;
};

// Made on first use and never freed: the libraries may log from their own
// threads until the process ends.
Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

} // namespace

void ComponentRegistry::Add(TCustomConversionComponent* component)
{
    std::lock_guard guard(registry().lock);
    registry().components.push_back(component);
}

void ComponentRegistry::Remove(TCustomConversionComponent* component)
{
    std::lock_guard guard(registry().lock);
    auto& components = registry().components;
    components.erase(std::remove(components.begin(), components.end(), component), components.end());
}

void ComponentRegistry::ForEach(const std::function<void(TCustomConversionComponent&)>& action)
{
    for (TCustomConversionComponent* component : registry().components) action(*component);
}

std::mutex& ComponentRegistry::Lock() { return registry().lock; }

} // namespace quillon
