/* The colour and vector types that the renderer and the shader's records
 * share. Plain C, with nothing of the project's below it. */
#ifndef STRATAMIX_TYPES_H
#define STRATAMIX_TYPES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct strataMix_color {
  float r, g, b, a;
} strataMix_color;

typedef struct strataMix_vector {
  float x, y, z;
} strataMix_vector;

#ifdef __cplusplus
}
#endif

#endif /* STRATAMIX_TYPES_H */
