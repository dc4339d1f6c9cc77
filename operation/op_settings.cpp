// What the operation's properties mean for the engine.
#include "op_settings.h"

#include <cstring>

const double OP_DEFAULT_DESTINATION[8] = {0.10, 0.06, 0.92, 0.14,
                                          0.84, 0.94, 0.06, 0.86};

warp_vals op_settings_vals(const op_settings &s, const GeglRectangle &extent) {
  const double x = extent.x, y = extent.y, w = extent.width, h = extent.height;
  double source[8] = {x, y, x + w, y, x + w, y + h, x, y + h};
  if (!s.whole_layer) std::memcpy(source, s.source, sizeof source);
  double destination[8];
  std::memcpy(destination, s.destination, sizeof destination);
  bool placed = false;
  for (double v : destination) placed = placed || v != 0.0;
  if (!placed)
    for (int i = 0; i < 8; ++i)
      destination[i] = i % 2 ? y + OP_DEFAULT_DESTINATION[i] * h
                             : x + OP_DEFAULT_DESTINATION[i] * w;

  warp_vals v{};
  float *const src[8] = {&v.sx0, &v.sy0, &v.sx1, &v.sy1,
                         &v.sx2, &v.sy2, &v.sx3, &v.sy3};
  float *const dst[8] = {&v.dx0, &v.dy0, &v.dx1, &v.dy1,
                         &v.dx2, &v.dy2, &v.dx3, &v.dy3};
  // Narrowed as the plug-in narrows its parameters: the same corners give
  // the same bytes.
  for (int i = 0; i < 8; ++i) {
    *src[i] = static_cast<float>(source[i]);
    *dst[i] = static_cast<float>(destination[i]);
  }
  v.interpolation = s.interpolation;
  v.anti_aliasing = s.anti_aliasing ? 1 : 0;
  v.mapping = s.mapping;
  return v;
}

const Babl *op_working_format(const Babl *source) {
  if (!source) return babl_format("RGBA float");
  // The straight models the engine knows, by their name without the
  // premultiplied "a"s and with "A" added where there is no alpha.
  static const char *const models[] = {"RGBA", "R'G'B'A", "R~G~B~A",
                                       "YA",   "Y'A",     "Y~A"};
  char model[32] = {};
  size_t n = 0;
  for (const char *c = babl_get_name(babl_format_get_model(source));
       *c && n + 2 < sizeof model; ++c)
    if (*c != 'a') model[n++] = *c;
  if (n == 0 || model[n - 1] != 'A') model[n++] = 'A';
  bool known = false;
  for (const char *m : models) known = known || std::strcmp(m, model) == 0;
  if (!known) return babl_format("RGBA float");

  char name[64];
  g_snprintf(name, sizeof name, "%s %s", model,
             babl_get_name(babl_format_get_type(source, 0)));
  if (!babl_format_exists(name))
    g_snprintf(name, sizeof name, "%s float", model);
  // The engine's own choice of precision for that format.
  warp w{};
  warp_samples_init(&w,
                    babl_format_with_space(name, babl_format_get_space(source)));
  return w.format;
}
