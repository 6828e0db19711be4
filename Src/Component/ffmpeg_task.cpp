#include "Component/ffmpeg_task.h"

namespace quillon {

TFFmpeg::~TFFmpeg() { stop_job(); }

} // namespace quillon
