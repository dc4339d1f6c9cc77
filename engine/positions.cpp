// The mapping's constants, taken once from the warp.
#include "positions.h"

#include <algorithm>

static void edges_init(quad_edge edges[4], const point quad[4]) {
  for (int i = 0; i < 4; ++i) {
    const point prev = quad[(i + 3) % 4], cur = quad[i];
    // The even-odd test's own division: the same operands, the same slope.
    edges[i] = {prev.x, prev.y, cur.x, cur.y,
                (cur.y - prev.y) / (cur.x - prev.x)};
  }
}

// Edges alternately flat and upright: only the upright ones can count, and
// both do so over the same rows, so the test is a box (lo < p <= hi).
static bool upright_box(const quad_edge e[4], double box[4]) {
  for (int first = 0; first < 2; ++first) {
    const quad_edge &a = e[first], &b = e[first + 1], &c = e[first + 2],
                    &d = e[(first + 3) % 4];
    if (a.prev_x == a.cur_x && c.prev_x == c.cur_x && b.prev_y == b.cur_y &&
        d.prev_y == d.cur_y) {
      box[0] = std::min(a.cur_x, c.cur_x);
      box[1] = std::max(a.cur_x, c.cur_x);
      box[2] = std::min(a.prev_y, a.cur_y);
      box[3] = std::max(a.prev_y, a.cur_y);
      return true;
    }
  }
  return false;
}

void position_plan_init(position_plan *p, const warp *w) {
  edges_init(p->dst, w->dst->areal);
  edges_init(p->src, w->src->areal);
  double box[4] = {0, 0, 0, 0};
  p->src_upright = upright_box(p->src, box);
  p->src_x_lo = box[0];
  p->src_x_hi = box[1];
  p->src_y_lo = box[2];
  p->src_y_hi = box[3];
  const bounds *sb = w->src->bounds;
  p->src_left = sb->x0 - 1.0;
  p->src_right = sb->x1 + 1.0;
  p->src_top = sb->y0 - 1.0;
  p->src_bottom = sb->y1 + 1.0;
  const double limit = double(2.0e9f);
  p->src_upright_alone = p->src_upright && p->src_x_lo >= p->src_left &&
                         p->src_x_hi < p->src_right && p->src_y_lo >= p->src_top &&
                         p->src_y_hi < p->src_bottom && p->src_x_lo > -limit &&
                         p->src_x_hi < limit && p->src_y_lo > -limit &&
                         p->src_y_hi < limit;
  p->u = *w->dst->coord_u;
  p->v = *w->dst->coord_v;
  p->c0 = w->c0;
  p->c3 = w->c3;
  p->e01 = w->e01;
  p->e32 = w->e32;
  p->c1 = w->c1;
  p->e03 = w->e03;
  p->e12 = w->e12;
  p->perspective = w->mapping == WARP_PERSPECTIVE;
  p->h = w->perspective;
}
