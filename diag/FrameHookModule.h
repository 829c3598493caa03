/* diag/FrameHookModule.h — what an external frame-hook module exports.
 *
 * A module is a shared object with the C entry points below: "Process" is
 * required, "Configure" and "Release" are optional. Configure receives the
 * address of the module's context pointer and the hook's arguments (the
 * first is the module's own file name) and returns 0 on success. Process is
 * called for every decoded picture, before scaling, and may change it in
 * place. Release is called once when the run cleans up.
 */
#ifndef TARNWICK_FRAME_HOOK_MODULE_H
#define TARNWICK_FRAME_HOOK_MODULE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Four plane pointers and four line sizes, as the decoder hands them out. */
typedef struct TwHookPicture {
    uint8_t* data[4];
    int linesize[4];
} TwHookPicture;

typedef int (*TwFrameHookConfigure)(void** ctxp, int argc, char* argv[]);
typedef void (*TwFrameHookProcess)(void* ctx, TwHookPicture* picture, int pix_fmt, int width,
                                   int height, int64_t pts);
typedef void (*TwFrameHookRelease)(void* ctx);

#ifdef __cplusplus
}
#endif

#endif
