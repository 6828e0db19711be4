// What the output choices need of a probed source file.
#pragma once

#include "ChoiceMapping/output_choices.h"

namespace quillon {

class TCustomAVProbe;

// The probe's file and format, and the bit rates and picture shape of the
// given streams (-1: the first of their kind). Streams the file lacks are
// left unknown without asking the probe (which would log their absence).
TChoiceSource ChoiceSourceFromProbe(TCustomAVProbe& probe, int video_stream = -1, int audio_stream = -1);

} // namespace quillon
