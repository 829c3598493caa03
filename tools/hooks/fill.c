/* tools/hooks/fill.c — an example frame-hook module: paints the first plane
 * of every picture (the luma of YUV pictures) with one value.
 *
 * Arguments: [value] (0..255, default 235). Without arguments no Configure
 * call is needed, but one is made anyway and keeps the default. The module
 * counts its calls so that a caller can see what happened.
 */
#include <stdlib.h>
#include <string.h>

#include "diag/FrameHookModule.h"

typedef struct FillContext {
    int value;
} FillContext;

/* Calls of each entry point since the module was loaded. */
int tw_hook_configure_calls = 0;
int tw_hook_process_calls = 0;
int tw_hook_release_calls = 0;

int Configure(void** ctxp, int argc, char* argv[]) {
    FillContext* ctx = calloc(1, sizeof *ctx);
    if (!ctx) return -1;
    ctx->value = 235;
    if (argc > 1) {
        char* end = NULL;
        long v = strtol(argv[1], &end, 10);
        if (!end || *end || v < 0 || v > 255) {
            free(ctx);
            return -1;
        }
        ctx->value = (int)v;
    }
    *ctxp = ctx;
    ++tw_hook_configure_calls;
    return 0;
}

void Process(void* ctx, TwHookPicture* picture, int pix_fmt, int width, int height, int64_t pts) {
    (void)pix_fmt;
    (void)pts;
    ++tw_hook_process_calls;
    int value = ctx ? ((FillContext*)ctx)->value : 235;
    for (int y = 0; y < height; ++y)
        memset(picture->data[0] + (size_t)y * picture->linesize[0], value, (size_t)width);
}

void Release(void* ctx) {
    ++tw_hook_release_calls;
    free(ctx);
}
