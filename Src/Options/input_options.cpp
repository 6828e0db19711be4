// A task's input options: extra lines first, then the fields in record order.
#include "FFmpeg/custom_ffmpeg.h"
#include "Options/options_apply.h"

namespace quillon {

void ApplyInputOptions(TCustomFFmpeg& engine, const TInputOptions& options)
{
    ApplyExtOptions(engine, options.ExtOptions, false);
    engine.set_input_format(options.FileFormat);
    if (options.StartTimeMS > 0) engine.set_start_time(int64_t(options.StartTimeMS) * 1000);
    if (options.StartTimeUS > 0) engine.set_start_time(options.StartTimeUS);
    if (options.ProgramID >= 0) engine.set_program_id(options.ProgramID);
}

} // namespace quillon
