/* What a frame-hook module exports. A module is a shared object with three C
 * functions: "Configure" (optional unless arguments are given), "Process" and
 * "Release" (optional). Modules may be written in C or C++. */
#ifndef QUILLON_FRAME_HOOK_MODULE_H
#define QUILLON_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One picture: up to four planes and their line sizes in bytes. The layout is
 * that of the pixel format passed along (a library AVPixelFormat number). */
typedef struct FrameHookPicture {
    uint8_t* data[4];
    int linesize[4];
} FrameHookPicture;

/* Creates the module's instance context in *context from the words of the
 * "vhook" option (argv[0] is the module's file name). Returns 0 on success. */
typedef int (*FrameHookConfigure)(void** context, int argc, char* argv[]);

/* Works on one picture in place; pts is in microseconds. */
typedef void (*FrameHookProcess)(void* context, FrameHookPicture* picture, int pixel_format, int width, int height,
                                 int64_t pts);

/* Frees the instance context. */
typedef void (*FrameHookRelease)(void* context);

#ifdef __cplusplus
}
#endif

#endif
