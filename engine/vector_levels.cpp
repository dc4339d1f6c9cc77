// Chooses the vector level once per render.
#include "vector_levels.h"

const vector_functions &vector_functions_for(vector_level wanted) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (wanted == VECTOR_SSE2 || !avx2) return vector_sse2;
  return vector_avx2;
}
