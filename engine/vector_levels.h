// The engine's vector code at each instruction-set level: the same
// arithmetic, hence the same bytes, on SSE2 (every x86-64) and AVX2.
#pragma once

#include "kernels.h"
#include "positions.h"

enum vector_level { VECTOR_BEST = 0, VECTOR_SSE2 = 1, VECTOR_AVX2 = 2 };

struct vector_functions {
  vector_level level;
  row_positions_function row_positions;
  row_reach_function row_reach;
  // Lanczos-3 weights of n axes, out[k][i] for offset d[i] as lanczos_axis
  // gives them; d and each out[k] hold n rounded up to a multiple of 4.
  void (*lanczos_weights)(const float *d, int32_t n, float *const *out);
  // Null where the level has no kernel for the shape.
  kernel_row_function (*kernel_for)(const kernel_shape &shape);
  // The elliptical average's rows of four-float texels.
  ewa_rows_function ewa_rows4;
};

extern const vector_functions vector_sse2;
extern const vector_functions vector_avx2;

// The functions of `wanted`, or of the best level this processor runs when
// it is VECTOR_BEST or beyond the processor.
const vector_functions &vector_functions_for(vector_level wanted);
