// The vector stages compiled for AVX2 (and no FMA: fused multiply-adds round
// differently). Every header comes before the target switch, so nothing
// shared with other files is compiled for AVX2; the stages live in a
// namespace of this level's own.
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "vector_levels.h"

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace vector_level_avx2 {
#include "lanes_avx2.inc"
#include "positions_lanes.inc"
#include "lanczos_lanes.inc"
#include "kernels_lanes.inc"
#include "reach_lanes.inc"
#include "ewa_edges.inc"
#include "ewa_avx2.inc"
}  // namespace vector_level_avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

const vector_functions vector_avx2 = {VECTOR_AVX2,
                                      vector_level_avx2::row_positions,
                                      vector_level_avx2::row_reach,
                                      vector_level_avx2::lanczos_weights,
                                      vector_level_avx2::kernel_for,
                                      vector_level_avx2::ewa_rows4};
