/* A frame-hook module for tests. Arguments: MODE X Y SIZE, where MODE is
 * "marker" (a black square) or "comb" (white even rows and black odd rows, the
 * look of two fields from different moments); "fail" as MODE makes Configure
 * fail. It draws on 8-bit planar YUV pictures and records every call, which
 * tests read through the marker_* functions. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <libavutil/pixfmt.h>

#include "FrameHooks/frame_hook_module.h"

#define MAX_CALLS 8192

typedef struct MarkerContext {
    int instance;
    int comb;
    int x, y, size;
} MarkerContext;

static int instances;
static int calls;
static int call_instance[MAX_CALLS];
static int64_t call_pts[MAX_CALLS];
static int releases;

int Configure(void** context, int argc, char* argv[])
{
    if (argc != 5 || strcmp(argv[1], "fail") == 0) return -1;
    MarkerContext* marker = calloc(1, sizeof *marker);
    if (!marker) return -1;
    marker->instance = ++instances;
    marker->comb = strcmp(argv[1], "comb") == 0;
    marker->x = atoi(argv[2]);
    marker->y = atoi(argv[3]);
    marker->size = atoi(argv[4]);
    *context = marker;
    return 0;
}

static void fill(FrameHookPicture* picture, int plane, int x, int y, int width, int height, uint8_t value)
{
    for (int row = y; row < y + height; ++row) memset(picture->data[plane] + row * picture->linesize[plane] + x, value, width);
}

void Process(void* context, FrameHookPicture* picture, int pixel_format, int width, int height, int64_t pts)
{
    MarkerContext* marker = context;
    if (calls < MAX_CALLS) {
        call_instance[calls] = marker->instance;
        call_pts[calls] = pts;
    }
    ++calls;
    if (pixel_format != AV_PIX_FMT_YUV420P || marker->x + marker->size > width || marker->y + marker->size > height)
        return;
    if (marker->comb) {
        for (int row = 0; row < marker->size; ++row)
            fill(picture, 0, marker->x, marker->y + row, marker->size, 1, row % 2 ? 16 : 235);
    } else {
        fill(picture, 0, marker->x, marker->y, marker->size, marker->size, 16);
    }
    fill(picture, 1, marker->x / 2, marker->y / 2, marker->size / 2, marker->size / 2, 128);
    fill(picture, 2, marker->x / 2, marker->y / 2, marker->size / 2, marker->size / 2, 128);
}

void Release(void* context)
{
    free(context);
    ++releases;
}

/* What the tests read. */
int marker_calls(void) { return calls; }
int marker_call_instance(int i) { return i < MAX_CALLS ? call_instance[i] : 0; }
int64_t marker_call_pts(int i) { return i < MAX_CALLS ? call_pts[i] : 0; }
int marker_releases(void) { return releases; }
int marker_instances(void) { return instances; }
void marker_reset(void) { calls = releases = instances = 0; }
