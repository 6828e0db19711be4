#include "Previewer/previewer.h"

#include <mutex>

namespace quillon {

namespace {
std::mutex factory_lock;
PreviewerFactory& factory()
{
    static PreviewerFactory registered;
    return registered;
}
} // namespace

void SetPreviewerFactory(PreviewerFactory f)
{
    std::lock_guard guard(factory_lock);
    factory() = std::move(f);
}

std::unique_ptr<TPreviewer> CreatePreviewer()
{
    PreviewerFactory make;
    {
        std::lock_guard guard(factory_lock);
        make = factory();
    }
    return make ? make() : nullptr;
}

} // namespace quillon
