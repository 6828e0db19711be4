// The process-wide lock around preview flags and the preview step.
#pragma once

#include <mutex>

namespace quillon {
std::mutex& preview_lock();
}
