/* A frame-hook module with "Process" only: no "Configure", no "Release". */
#include <stdint.h>

#include "FrameHooks/frame_hook_module.h"

static int calls;

void Process(void* context, FrameHookPicture* picture, int pixel_format, int width, int height, int64_t pts)
{
    (void)context, (void)picture, (void)pixel_format, (void)width, (void)height, (void)pts;
    ++calls;
}

int plain_calls(void) { return calls; }
