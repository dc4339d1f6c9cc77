// Plane geometry: point vectors, quadrangles, the inverse bilinear solver and
// the crossing of two lines. No GIMP or GEGL call lives here.
#include <cmath>
#include <limits>

#include "tessaform.h"

double point_length(point a) { return std::sqrt(a.x * a.x + a.y * a.y); }

void quad_grow(const point quad[4], point out[4], double distance) {
  point c = point_init(0.0, 0.0);
  for (int i = 0; i < 4; ++i) c = point_add(c, quad[i]);
  c = point_scale(c, 0.25);

  for (int i = 0; i < 4; ++i) {
    point d = point_from2(c, quad[i]);
    double len = point_length(d);
    // A corner on the centre has no outward direction: it stays put, which
    // keeps the even-odd test of the grown quadrangle meaningful.
    if (len == 0.0) {
      out[i] = quad[i];
      continue;
    }
    double f = 1.0 + distance / len;
    out[i] = point_add(c, point_scale(d, f));
  }
}

int quad_inside(const point quad[4], double px, double py) {
  int count = 0;
  point prev = quad[3];
  bool rx = prev.x >= px;
  bool ry = prev.y >= py;
  for (int i = 0; i < 4; ++i) {
    point cur = quad[i];
    bool cx = cur.x >= px;
    bool cy = cur.y >= py;
    if (cy != ry) {
      if (rx && cx) {
        ++count;
      } else if (rx || cx) {
        double xi =
            prev.x + (py - prev.y) / ((cur.y - prev.y) / (cur.x - prev.x));
        if (xi >= px) ++count;
      }
    }
    prev = cur;
    rx = cx;
    ry = cy;
  }
  return count & 1;
}

void quad_message(const point quad[4], const char *name) {
  char text[256];
  // g_snprintf cuts what does not fit and always terminates.
  g_snprintf(text, sizeof text,
             "%s\n[ %f, %f]\n[ %f, %f]\n[ %f, %f]\n[ %f, %f]\n", name,
             quad[0].x, quad[0].y, quad[1].x, quad[1].y, quad[2].x, quad[2].y,
             quad[3].x, quad[3].y);
  g_log(nullptr, G_LOG_LEVEL_MESSAGE, "%s", text);
}

void qcoord_init(qcoord *q, point A, point B, point C, point D) {
  point AB = point_from2(A, B);
  point DC = point_from2(D, C);
  q->a = point_cross(AB, DC);
  q->b_vec = point_from2(AB, DC);
  q->b_const = point_cross(A, DC) + point_cross(AB, D);
  q->c_vec = point_from2(A, D);
  q->c_const = point_cross(A, D);
}

static double distance_from_unit(double t) {
  if (t < 0.0) return -t;
  if (t > 1.0) return t - 1.0;
  return 0.0;
}

double qcoord_get(const qcoord *q, point P) {
  double a = q->a;
  double b = q->b_const + point_cross(q->b_vec, P);
  double c = q->c_const + point_cross(q->c_vec, P);
  if (std::fabs(a / b) < 1e-6) return -c / b;
  double h = (b / a) * (-0.5);
  double s = std::sqrt(h * h - c / a);
  if (s < 1e-6) return h;
  double t1 = h - s;
  double t2 = h + s;
  if (distance_from_unit(t2) > distance_from_unit(t1)) return t1;
  return t2;
}

void get_intersect(point p1, point d1, point p2, point d2, float *out_x,
                   float *out_y) {
  double m[2][3] = {{d1.x, -d2.x, p2.x - p1.x}, {d1.y, -d2.y, p2.y - p1.y}};

  int pr = -1, pc = -1;
  double best = 0.0;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      double mag = std::fabs(m[r][c]);
      if (mag > best) {
        best = mag;
        pr = r;
        pc = c;
      }
    }
  }
  if (pr < 0) {
    // Neither line has a usable direction: no crossing to report.
    *out_x = std::numeric_limits<float>::quiet_NaN();
    *out_y = std::numeric_limits<float>::quiet_NaN();
    return;
  }
  int qr = 1 - pr, qc = 1 - pc;

  double pivot = m[pr][pc];
  for (int k = 0; k < 3; ++k)
    if (k != pc) m[pr][k] /= pivot;
  m[pr][pc] = 1.0;

  double f = m[qr][pc];
  for (int k = 0; k < 3; ++k)
    if (k != pc) m[qr][k] -= f * m[pr][k];
  m[qr][pc] = 0.0;

  double g = m[qr][qc];
  m[qr][2] /= g;
  m[qr][qc] = 1.0;

  double h = m[pr][qc];
  m[pr][2] -= h * m[qr][2];
  m[pr][qc] = 0.0;

  double s = (m[0][0] == 1.0) ? m[0][2] : m[1][2];
  double r = (m[1][1] == 1.0) ? m[1][2] : m[0][2];

  point p = std::fabs(s) > std::fabs(r) ? point_add(p1, point_scale(d1, s))
                                        : point_add(p2, point_scale(d2, r));
  *out_x = static_cast<float>(p.x);
  *out_y = static_cast<float>(p.y);
}
