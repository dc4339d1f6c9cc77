// Rectification's estimate from one view: the rectangle's aspect ratio from
// the two vanishing points of its photographed sides, with the principal
// point at the photograph's centre and square pixels (Zhang and He,
// "Whiteboard scanning and image enhancement", 2007), the corners put in
// the rectangle's order, and the output's size.
#include "rectify.h"

#include <algorithm>
#include <cmath>

namespace {

struct vec3 {
  double x, y, z;
};

vec3 cross3(vec3 a, vec3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double dot3(vec3 a, vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// A vanishing point farther than this many diagonals from the centre counts
// as at infinity: the sides are taken as parallel. Clicked corners a pixel
// off turn a side by about a thousandth of a radian, which puts a true
// infinity hundreds of diagonals away, where the focal length it would give
// is noise; and a view tilted so little that its vanishing points lie this
// far changes the ratio by under half a percent when the focal length
// assumed is four times too long or too short.
constexpr double FAR_DIAGONALS = 20.0;

// The focal length assumed where the photograph does not give one, in
// diagonals.
constexpr double FOCAL_ASSUMED = 0.6;

}  // namespace

const char *rectify_estimate_init(rectify_estimate *e, const point quad[4],
                                  const GeglRectangle &photo) {
  for (int i = 0; i < 4; ++i)
    if (!(std::fabs(quad[i].x) <= WARP_COORD_LIMIT) ||
        !(std::fabs(quad[i].y) <= WARP_COORD_LIMIT))
      return "the corners must be finite and at most 8388608 in magnitude";
  switch (quad_shape_of(quad)) {
    case QUAD_CONVEX: break;
    case QUAD_FLAT: return "three of the four corners lie on a line";
    case QUAD_CONCAVE:
      return "one corner lies inside the triangle of the other three: the "
             "four corners of a photographed rectangle make a convex "
             "quadrangle";
    case QUAD_CROSSED:
      return "the corners must be given in order round the rectangle (these "
             "make its sides cross)";
  }

  // Round as on the screen (y grows downward), from the corner nearest the
  // top-left of the quadrangle's box. (Nearest the photograph's own corner
  // would turn a page photographed right of the centre on its side.)
  double area = 0.0;
  for (int i = 0; i < 4; ++i) area += point_cross(quad[i], quad[(i + 1) % 4]);
  point round[4];
  point top_left = quad[0];
  for (int i = 0; i < 4; ++i) {
    round[i] = quad[area > 0.0 ? i : (4 - i) % 4];
    top_left = point_init(std::min(top_left.x, quad[i].x),
                          std::min(top_left.y, quad[i].y));
  }
  int first = 0;
  for (int i = 1; i < 4; ++i)
    if (point_length(point_from2(top_left, round[i])) <
        point_length(point_from2(top_left, round[first])))
      first = i;
  for (int i = 0; i < 4; ++i) e->corners[i] = round[(first + i) % 4];
  const point *c = e->corners;
  e->mean_width = 0.5 * (point_length(point_from2(c[0], c[1])) +
                         point_length(point_from2(c[3], c[2])));
  e->mean_height = 0.5 * (point_length(point_from2(c[0], c[3])) +
                          point_length(point_from2(c[1], c[2])));

  // Homogeneous corners about the principal point, in diagonals.
  const double diagonal =
      std::max(1.0, std::hypot(double(photo.width), double(photo.height)));
  const point centre =
      point_init(photo.x + 0.5 * photo.width, photo.y + 0.5 * photo.height);
  vec3 m[4];
  for (int i = 0; i < 4; ++i) {
    const point p = point_scale(point_from2(centre, c[i]), 1.0 / diagonal);
    m[i] = {p.x, p.y, 1.0};
  }
  // The rectangle's corners (0, 0), (w, 0), (0, h), (w, h).
  const vec3 m1 = m[0], m2 = m[1], m3 = m[3], m4 = m[2];
  const vec3 d14 = cross3(m1, m4);
  const double k2 = dot3(d14, m3) / dot3(cross3(m2, m4), m3);
  const double k3 = dot3(d14, m2) / dot3(cross3(m3, m4), m2);
  // The images of the sides' directions: their vanishing points.
  const vec3 n2 = {k2 * m2.x - m1.x, k2 * m2.y - m1.y, k2 * m2.z - m1.z};
  const vec3 n3 = {k3 * m3.x - m1.x, k3 * m3.y - m1.y, k3 * m3.z - m1.z};
  const double plane2 = n2.x * n2.x + n2.y * n2.y;
  const double plane3 = n3.x * n3.x + n3.y * n3.y;
  const bool far2 = std::fabs(n2.z) * FAR_DIAGONALS <= std::sqrt(plane2);
  const bool far3 = std::fabs(n3.z) * FAR_DIAGONALS <= std::sqrt(plane3);

  // Without a focal length of its own, the view is taken as a phone
  // camera's (26 mm in 35 mm terms): 0.6 of the photograph's diagonal. In a
  // view tilted about one axis the ratio depends on it, and no guess fits
  // every lens: against focal lengths of 0.3 to 1.2 diagonals, tilts of 10
  // to 60 degrees, this one is 0 to 51 % off, the diagonal 0 to 66 %.
  double f = FOCAL_ASSUMED;
  if (far2 && far3) {
    e->method = RECTIFY_BOTH_PAIRS_PARALLEL;
  } else if (far2 || far3) {
    e->method = RECTIFY_ONE_PAIR_PARALLEL;
  } else {
    // The two sides' directions are at right angles in space.
    const double f2 = -(n2.x * n3.x + n2.y * n3.y) / (n2.z * n3.z);
    if (f2 > 0.0 && std::isfinite(f2)) {
      e->method = RECTIFY_VANISHING_POINTS;
      f = std::sqrt(f2);
    } else {
      e->method = RECTIFY_NOT_REAL;
    }
  }
  e->focal = f * diagonal;
  // The lengths of the two directions back in space, through that camera.
  const double f2 = f * f;
  e->aspect = std::sqrt((plane2 + f2 * n2.z * n2.z) / (plane3 + f2 * n3.z * n3.z));
  if (!std::isfinite(e->aspect) || e->aspect <= 0.0)
    return "the corners give no aspect ratio";
  return nullptr;
}

namespace {

int32_t side_of(double length) {
  return int32_t(std::clamp(std::round(length), 1.0, double(int64_t(1) << 30)));
}

}  // namespace

void rectify_size(const rectify_estimate *e, double aspect, int32_t width,
                  int32_t height, int32_t *out_width, int32_t *out_height) {
  if (width > 0 && height > 0) {
    *out_width = width;
    *out_height = height;
  } else if (width > 0) {
    *out_width = width;
    *out_height = side_of(width / aspect);
  } else if (height > 0) {
    *out_width = side_of(height * aspect);
    *out_height = height;
  } else {
    const double longer = std::max(e->mean_width, e->mean_height);
    *out_width = side_of(aspect >= 1.0 ? longer : longer * aspect);
    *out_height = side_of(aspect >= 1.0 ? longer / aspect : longer);
  }
}

void rectify_vals(const rectify_estimate *e, int32_t width, int32_t height,
                  warp_vals *vals) {
  const float w = float(width), h = float(height);
  const float to[8] = {0, 0, w, 0, w, h, 0, h};
  float *const s[8] = {&vals->sx0, &vals->sy0, &vals->sx1, &vals->sy1,
                       &vals->sx2, &vals->sy2, &vals->sx3, &vals->sy3};
  float *const d[8] = {&vals->dx0, &vals->dy0, &vals->dx1, &vals->dy1,
                       &vals->dx2, &vals->dy2, &vals->dx3, &vals->dy3};
  for (int i = 0; i < 4; ++i) {
    *s[2 * i] = float(e->corners[i].x);
    *s[2 * i + 1] = float(e->corners[i].y);
  }
  for (int i = 0; i < 8; ++i) *d[i] = to[i];
  vals->mapping = WARP_PERSPECTIVE;
}

void rectify_describe(const rectify_estimate *e, char *out, size_t size) {
  char ratio[64];
  if (e->aspect >= 1.0)
    g_snprintf(ratio, sizeof ratio, "%.3f : 1", e->aspect);
  else
    g_snprintf(ratio, sizeof ratio, "1 : %.3f", 1.0 / e->aspect);
  const int focal = int(std::lround(std::min(e->focal, 1e9)));
  switch (e->method) {
    case RECTIFY_VANISHING_POINTS:
      g_snprintf(out, size,
                 "aspect ratio %s (width : height), from the two vanishing "
                 "points: focal length %d px",
                 ratio, focal);
      break;
    case RECTIFY_ONE_PAIR_PARALLEL:
      g_snprintf(out, size,
                 "aspect ratio %s (width : height), from one vanishing point: "
                 "two opposite sides are parallel in the photograph, so the "
                 "focal length is not determined; assumed %d px (a phone "
                 "camera's: 0.6 of the photograph's diagonal)",
                 ratio, focal);
      break;
    case RECTIFY_BOTH_PAIRS_PARALLEL:
      g_snprintf(out, size,
                 "aspect ratio %s (width : height), from the side lengths: both "
                 "pairs of opposite sides are parallel in the photograph (a "
                 "view square on)",
                 ratio);
      break;
    case RECTIFY_NOT_REAL:
      g_snprintf(out, size,
                 "aspect ratio %s (width : height): the vanishing points give "
                 "no real focal length (corners a little off, a photograph "
                 "cropped off-centre, or not a rectangle); assumed %d px (a "
                 "phone camera's: 0.6 of the photograph's diagonal)",
                 ratio, focal);
      break;
  }
}
