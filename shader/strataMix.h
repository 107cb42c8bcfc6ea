/* strataMix: the shader's parameter and result records, as the renderer lays
 * them out, and the exported entry points. Plain C, so that a renderer or a
 * scene tool can include it as it is. */
#ifndef STRATAMIX_H
#define STRATAMIX_H

#include <stdint.h>

#include "strataMix_types.h"

/* The one export mark. The plug-in is built with hidden visibility and marks
 * the entry points for export where they are declared, under plain C names;
 * to a renderer or tool that includes this header they are plain
 * declarations, found by name at run time. */
#if !defined(STRATAMIX_BUILDING_PLUGIN)
#define STRATAMIX_API
#elif defined(_WIN32)
#define STRATAMIX_API __declspec(dllexport)
#else
#define STRATAMIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 304 bytes, every field on a multiple of 4, no padding, native byte order.
 * Switches are on when non-zero; the two gates are on only when exactly 1. */
typedef struct strataMix_params {
  strataMix_color baseColor;       /*   0 */
  int32_t normalEnable;            /*  16 */
  int32_t layerCount;              /*  20 */
  int32_t layerEnable[8];          /*  24 */
  strataMix_vector layerNormal[8]; /*  56 */
  float normalMix;                 /* 152 */
  float layerWeight[8];            /* 156 */
  float layerBalance[8];           /* 188 */
  float normalScale;               /* 220 */
  int32_t skipPhotons;             /* 224 */
  int32_t skipReflections;         /* 228 */
  int32_t normalAsColor;           /* 232 */
  int32_t normalizeNormal;         /* 236 */
  int32_t blendEnable;             /* 240 */
  strataMix_color layerColor;      /* 244 */
  float blendAmount;               /* 260 */
  int32_t blendMode;               /* 264 */
  int32_t useLayerAlpha;           /* 268 */
  float hueAdjust;                 /* 272 */
  float saturationAdjust;          /* 276 */
  float valueAdjust;               /* 280 */
  float gamma;                     /* 284 */
  float offset;                    /* 288 */
  float contrast;                  /* 292 */
  int32_t correctEnable;           /* 296 */
  int32_t outputNormal;            /* 300 */
} strataMix_params;

typedef struct strataMix_result {
  strataMix_color outColor;   /*  0 */
  strataMix_vector outNormal; /* 16 */
} strataMix_result;

#define STRATAMIX_LAYER_SLOTS 8

/* The renderer's shading state; its layout is known only to the renderer
 * interface (renderer.h). */
struct mi_state;

/* The shader: fills one field of *result as its exit decides, may replace the
 * state's surface normal, never writes *params. Returns 1 on every path. */
STRATAMIX_API int32_t strataMix(strataMix_result* result, struct mi_state* state,
                                strataMix_params* params);

/* The interface version the library follows, which a renderer checks
 * before it calls anything else. */
#define STRATAMIX_INTERFACE_VERSION 1

/* Returns STRATAMIX_INTERFACE_VERSION. */
STRATAMIX_API int32_t strataMix_version(void);
/* Stores 0 through *init_req when params is null (and init_req is not);
 * otherwise touches nothing. */
STRATAMIX_API void strataMix_init(struct mi_state* state, strataMix_params* params,
                                  int32_t* init_req);
STRATAMIX_API void strataMix_exit(void);

#if defined(_WIN32)
/* The renderer's module handle (an HMODULE), where the library looks up the
 * renderer's mi_phen_eval at the first connected parameter. A new handle
 * forgets every function found through the previous one. */
STRATAMIX_API void miSetModuleHandle(void* module);
#endif

#ifdef __cplusplus
}

/* The renderer lays the records out from its declaration of the shader; a
 * field out of place would read another parameter's bits. */
#include <cstddef>
static_assert(offsetof(strataMix_params, baseColor) == 0, "baseColor");
static_assert(offsetof(strataMix_params, normalEnable) == 16, "normalEnable");
static_assert(offsetof(strataMix_params, layerCount) == 20, "layerCount");
static_assert(offsetof(strataMix_params, layerEnable) == 24, "layerEnable");
static_assert(offsetof(strataMix_params, layerNormal) == 56, "layerNormal");
static_assert(offsetof(strataMix_params, normalMix) == 152, "normalMix");
static_assert(offsetof(strataMix_params, layerWeight) == 156, "layerWeight");
static_assert(offsetof(strataMix_params, layerBalance) == 188, "layerBalance");
static_assert(offsetof(strataMix_params, normalScale) == 220, "normalScale");
static_assert(offsetof(strataMix_params, skipPhotons) == 224, "skipPhotons");
static_assert(offsetof(strataMix_params, skipReflections) == 228, "skipReflections");
static_assert(offsetof(strataMix_params, normalAsColor) == 232, "normalAsColor");
static_assert(offsetof(strataMix_params, normalizeNormal) == 236, "normalizeNormal");
static_assert(offsetof(strataMix_params, blendEnable) == 240, "blendEnable");
static_assert(offsetof(strataMix_params, layerColor) == 244, "layerColor");
static_assert(offsetof(strataMix_params, blendAmount) == 260, "blendAmount");
static_assert(offsetof(strataMix_params, blendMode) == 264, "blendMode");
static_assert(offsetof(strataMix_params, useLayerAlpha) == 268, "useLayerAlpha");
static_assert(offsetof(strataMix_params, hueAdjust) == 272, "hueAdjust");
static_assert(offsetof(strataMix_params, saturationAdjust) == 276, "saturationAdjust");
static_assert(offsetof(strataMix_params, valueAdjust) == 280, "valueAdjust");
static_assert(offsetof(strataMix_params, gamma) == 284, "gamma");
static_assert(offsetof(strataMix_params, offset) == 288, "offset");
static_assert(offsetof(strataMix_params, contrast) == 292, "contrast");
static_assert(offsetof(strataMix_params, correctEnable) == 296, "correctEnable");
static_assert(offsetof(strataMix_params, outputNormal) == 300, "outputNormal");
static_assert(sizeof(strataMix_params) == 304, "strataMix_params size");
static_assert(offsetof(strataMix_result, outColor) == 0, "outColor");
static_assert(offsetof(strataMix_result, outNormal) == 16, "outNormal");
static_assert(sizeof(strataMix_result) == 28, "strataMix_result size");
#endif

#endif /* STRATAMIX_H */
