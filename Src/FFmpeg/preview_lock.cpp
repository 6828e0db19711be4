#include "FFmpeg/preview_lock.h"

namespace quillon {
std::mutex& preview_lock()
{
    static std::mutex lock;
    return lock;
}
} // namespace quillon
