// The vector stages compiled for SSE2. Every header comes first: the stages
// are included into a namespace of this level's own.
#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "vector_levels.h"

namespace vector_level_sse2 {
#include "lanes_sse2.inc"
#include "positions_lanes.inc"
#include "lanczos_lanes.inc"
#include "kernels_lanes.inc"
#include "reach_lanes.inc"
#include "ewa_edges.inc"
#include "ewa_sse2.inc"
}  // namespace vector_level_sse2

const vector_functions vector_sse2 = {VECTOR_SSE2,
                                      vector_level_sse2::row_positions,
                                      vector_level_sse2::row_reach,
                                      vector_level_sse2::lanczos_weights,
                                      vector_level_sse2::kernel_for,
                                      vector_level_sse2::ewa_rows4};
