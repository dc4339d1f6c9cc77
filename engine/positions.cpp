// The mapping's constants, taken once from the warp.
#include "positions.h"

static void edges_init(quad_edge edges[4], const point quad[4]) {
  for (int i = 0; i < 4; ++i) {
    const point prev = quad[(i + 3) % 4], cur = quad[i];
    // The even-odd test's own division: the same operands, the same slope.
    edges[i] = {prev.x, prev.y, cur.x, cur.y,
                (cur.y - prev.y) / (cur.x - prev.x)};
  }
}

void position_plan_init(position_plan *p, const warp *w) {
  edges_init(p->dst, w->dst->areal);
  edges_init(p->src, w->src->areal);
  const bounds *sb = w->src->bounds;
  p->src_left = sb->x0 - 1.0;
  p->src_right = sb->x1 + 1.0;
  p->src_top = sb->y0 - 1.0;
  p->src_bottom = sb->y1 + 1.0;
  p->u = *w->dst->coord_u;
  p->v = *w->dst->coord_v;
  p->c0 = w->c0;
  p->c3 = w->c3;
  p->e01 = w->e01;
  p->e32 = w->e32;
  p->c1 = w->c1;
  p->e03 = w->e03;
  p->e12 = w->e12;
}
