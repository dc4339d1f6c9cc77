// tessaform-warp: GEGL's loaders and savers around the warp engine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <glib/gstdio.h>

#include "arguments.h"
#include "gegl_ref.h"
#include "tessaform.h"

namespace {

enum { EXIT_IO = 1, EXIT_ARGUMENTS = 2 };

struct progress_state {
  bool shown = false;
  int last = -1;
  std::chrono::steady_clock::time_point start;
};

// On a terminal only, and only once the work has taken half a second.
void progress_to_terminal(double done, void *data) {
  auto *p = static_cast<progress_state *>(data);
  const int percent = int(done * 100.0);
  if (percent == p->last) return;
  if (!p->shown && std::chrono::steady_clock::now() - p->start <
                       std::chrono::milliseconds(500))
    return;
  p->shown = true;
  p->last = percent;
  std::fprintf(stderr, "\rtessaform-warp: %3d%%", percent);
  if (done >= 1.0) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// The whole file in a buffer of the loader's format; null when GEGL cannot
// read it.
GeglBuffer *load(const std::string &path) {
  if (!g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) ||
      g_access(path.c_str(), R_OK) != 0)
    return nullptr;
  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglBuffer *buffer = nullptr;
  GeglNode *source = gegl_node_new_child(graph.get(), "operation", "gegl:load",
                                         "path", path.c_str(), nullptr);
  GeglNode *sink = gegl_node_new_child(graph.get(), "operation",
                                       "gegl:buffer-sink", "buffer", &buffer,
                                       nullptr);
  gegl_node_link(source, sink);
  gegl_node_process(sink);
  gegl_ref<GeglBuffer> loaded(buffer);
  if (!buffer) return nullptr;
  const GeglRectangle *e = gegl_buffer_get_extent(buffer);
  // A failed load gives an empty image, or GEGL's 10x10 placeholder from a
  // loader that is missing.
  if (e->width <= 0 || e->height <= 0) return nullptr;
  return GEGL_BUFFER(g_object_ref(buffer));
}

// The saver GEGL has here for the extension, or null.
const char *saver_for(const std::string &path) {
  static const char *const savers[][2] = {
      {".png", "gegl:png-save"},   {".jpg", "gegl:jpg-save"},
      {".jpeg", "gegl:jpg-save"},  {".tif", "gegl:tiff-save"},
      {".tiff", "gegl:tiff-save"}, {".webp", "gegl:webp-save"},
      {".exr", "gegl:exr-save"},   {".ppm", "gegl:ppm-save"},
      {".pgm", "gegl:ppm-save"},   {".hdr", "gegl:rgbe-save"}};
  const char *dot = std::strrchr(path.c_str(), '.');
  const char *slash = std::strrchr(path.c_str(), '/');
  if (!dot || (slash && dot < slash)) return nullptr;
  for (const auto &s : savers)
    if (g_ascii_strcasecmp(dot, s[0]) == 0)
      return gegl_has_operation(s[1]) ? s[1] : nullptr;
  return nullptr;
}

// Saves through a file beside `path`, renamed into place only when the
// saver has written it: a failure leaves no partial output.
bool save(GeglBuffer *buffer, const std::string &path, bool deep) {
  gchar *dir = g_path_get_dirname(path.c_str());
  const char *dot = std::strrchr(path.c_str(), '.');
  gchar *tmpl = g_strdup_printf("%s/.tessaform-warp-XXXXXX%s", dir, dot);
  g_free(dir);
  const int fd = g_mkstemp(tmpl);
  if (fd < 0) {
    g_free(tmpl);
    return false;
  }
  close(fd);
  const std::string tmp = tmpl;
  g_free(tmpl);

  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglNode *source = gegl_node_new_child(
      graph.get(), "operation", "gegl:buffer-source", "buffer", buffer, nullptr);
  const char *saver = saver_for(path);
  GeglNode *writer = gegl_node_new_child(graph.get(), "operation", saver,
                                         "path", tmp.c_str(), nullptr);
  // PNG's saver writes 16 bits unless told: 8-bit input stays at 8 bits.
  // zlib's fastest level: a few percent larger files, a fraction of the time.
  if (std::strcmp(saver, "gegl:png-save") == 0)
    gegl_node_set(writer, "bitdepth", deep ? 16 : 8, "compression", 1,
                  nullptr);
  gegl_node_link(source, writer);
  {
    // libpng warns on standard error about a chunk GEGL's saver asks for;
    // success is judged by the file below.
    const int saved_stderr = dup(STDERR_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    if (null_fd >= 0) dup2(null_fd, STDERR_FILENO);
    gegl_node_process(writer);
    if (saved_stderr >= 0) dup2(saved_stderr, STDERR_FILENO);
    if (saved_stderr >= 0) close(saved_stderr);
    if (null_fd >= 0) close(null_fd);
  }

  // The temporary file was made private; the output gets the usual mode.
  const mode_t mask = umask(0);
  umask(mask);
  GStatBuf st;
  if (g_stat(tmp.c_str(), &st) != 0 || st.st_size == 0 ||
      g_chmod(tmp.c_str(), 0666 & ~mask) != 0 ||
      g_rename(tmp.c_str(), path.c_str()) != 0) {
    g_unlink(tmp.c_str());
    return false;
  }
  return true;
}

void fill_vals(warp_vals *v, const cli_arguments &a, const GeglRectangle &e) {
  float from[8] = {float(e.x), float(e.y), float(e.x + e.width), float(e.y),
                   float(e.x + e.width), float(e.y + e.height), float(e.x),
                   float(e.y + e.height)};
  if (a.has_from) std::memcpy(from, a.from, sizeof from);
  float *const s[8] = {&v->sx0, &v->sy0, &v->sx1, &v->sy1,
                       &v->sx2, &v->sy2, &v->sx3, &v->sy3};
  float *const d[8] = {&v->dx0, &v->dy0, &v->dx1, &v->dy1,
                       &v->dx2, &v->dy2, &v->dx3, &v->dy3};
  for (int i = 0; i < 8; ++i) {
    *s[i] = from[i];
    *d[i] = a.to[i];
  }
  v->interpolation = a.interpolation;
  v->anti_aliasing = a.anti_aliasing;
  v->mapping = a.mapping < 0 ? WARP_BILINEAR : a.mapping;
}

// The format with the components of `format` and an alpha channel.
const Babl *format_with_alpha(const Babl *format) {
  char name[64];
  g_snprintf(name, sizeof name, "%sA %s",
             babl_get_name(babl_format_get_model(format)),
             babl_get_name(babl_format_get_type(format, 0)));
  return babl_format_with_space(name, babl_format_get_space(format));
}

// The destination box's pixels placed on a buffer of the input's extent:
// transparent around them, or the input composited under them.
GeglBuffer *place(GeglBuffer *input, GeglBuffer *warped,
                  const GeglRectangle &box, bool over) {
  const GeglRectangle *extent = gegl_buffer_get_extent(input);
  GeglBuffer *out = gegl_buffer_new(extent, gegl_buffer_get_format(input));
  if (!over) {
    // Only whole pixels move: a plain copy into the overlap keeps bytes.
    GeglRectangle from = {0, 0, box.width, box.height};
    GeglRectangle to = {box.x, box.y, box.width, box.height};
    GeglRectangle clipped;
    if (gegl_rectangle_intersect(&clipped, &to, extent)) {
      from.x = clipped.x - box.x;
      from.y = clipped.y - box.y;
      from.width = clipped.width;
      from.height = clipped.height;
      gegl_buffer_copy(warped, &from, GEGL_ABYSS_NONE, out, &clipped);
    }
    return out;
  }
  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglNode *bottom = gegl_node_new_child(
      graph.get(), "operation", "gegl:buffer-source", "buffer", input, nullptr);
  GeglNode *top = gegl_node_new_child(
      graph.get(), "operation", "gegl:buffer-source", "buffer", warped, nullptr);
  GeglNode *shift = gegl_node_new_child(graph.get(), "operation",
                                        "gegl:translate", "x", double(box.x),
                                        "y", double(box.y), nullptr);
  GeglNode *over_op =
      gegl_node_new_child(graph.get(), "operation", "gegl:over", nullptr);
  GeglNode *sink = gegl_node_new_child(graph.get(), "operation",
                                       "gegl:write-buffer", "buffer", out,
                                       nullptr);
  gegl_node_link_many(top, shift, nullptr);
  gegl_node_connect_to(shift, "output", over_op, "aux");
  gegl_node_link_many(bottom, over_op, sink, nullptr);
  gegl_node_process(sink);
  return out;
}

// GEGL loads every module it has at start-up (video, PDF, SVG, text...),
// several times the cost of the rest of a small run. A folder of links to
// the few modules this tool uses sits next to the executable.
void use_own_modules() {
  if (g_getenv("GEGL_PATH")) return;
  gchar *exe = g_file_read_link("/proc/self/exe", nullptr);
  if (!exe) return;
  gchar *dir = g_path_get_dirname(exe);
  gchar *modules = g_build_filename(dir, "tessaform-warp-modules", nullptr);
  if (g_file_test(modules, G_FILE_TEST_IS_DIR))
    g_setenv("GEGL_PATH", modules, TRUE);
  g_free(modules);
  g_free(dir);
  g_free(exe);
}

void ignore_message(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

int run(const cli_arguments &a) {
  if (!saver_for(a.output)) {
    std::fprintf(stderr,
                 "tessaform-warp: cannot write %s: no saver for its "
                 "extension\n",
                 a.output.c_str());
    return EXIT_IO;
  }
  gegl_ref<GeglBuffer> input(load(a.input));
  if (!input.get()) {
    std::fprintf(stderr, "tessaform-warp: cannot read %s as an image\n",
                 a.input.c_str());
    return EXIT_IO;
  }
  const GeglRectangle extent = *gegl_buffer_get_extent(input.get());
  warp_vals vals{};
  fill_vals(&vals, a, extent);
  // The part of the destination rendered: its whole box, or for --rectify
  // the upright rectangle alone.
  GeglRectangle box{};
  if (a.rectify) {
    std::string report, error;
    if (!cli_rectify_settings(a, extent, &vals, &box, &report, &error)) {
      std::fprintf(stderr, "tessaform-warp: %s\n", error.c_str());
      return EXIT_ARGUMENTS;
    }
    if (!a.quiet) std::printf("tessaform-warp: %s\n", report.c_str());
  }
  if (const char *refusal = warp_vals_check(&vals)) {
    std::fprintf(stderr, "tessaform-warp: %s\n", refusal);
    return EXIT_ARGUMENTS;
  }
  if (!a.rectify) box = warp_destination_box(&vals);
  const GeglRectangle local = {0, 0, box.width, box.height};
  const Babl *format = gegl_buffer_get_format(input.get());
  // Over an input without alpha, the warp runs on a copy with alpha, so that
  // the pixels around the quadrangle stay clear instead of black.
  gegl_ref<GeglBuffer> source(GEGL_BUFFER(g_object_ref(input.get())));
  if (a.mode == OUTPUT_OVER && !babl_format_has_alpha(format)) {
    source.reset(gegl_buffer_new(&extent, format_with_alpha(format)));
    gegl_buffer_copy(input.get(), &extent, GEGL_ABYSS_NONE, source.get(),
                     &extent);
  }
  gegl_ref<GeglBuffer> warped(
      gegl_buffer_new(&local, gegl_buffer_get_format(source.get())));
  const warp_render_options options = {0, a.threads};
  progress_state progress;
  progress.start = std::chrono::steady_clock::now();
  const bool show = !a.quiet && isatty(STDERR_FILENO);
  const warp_target target = {warped.get(), box.x, box.y, box};
  if (tessaform_warp_target(source.get(), &extent, &target, &vals, &options,
                            show ? progress_to_terminal : nullptr,
                            &progress) != WARP_SUCCESS) {
    std::fprintf(stderr, "tessaform-warp: the warp was refused\n");
    return EXIT_ARGUMENTS;
  }

  gegl_ref<GeglBuffer> result;
  if (a.mode == OUTPUT_CROP || a.rectify)
    result.reset(GEGL_BUFFER(g_object_ref(warped.get())));
  else
    result.reset(place(input.get(), warped.get(), box, a.mode == OUTPUT_OVER));
  const bool deep = babl_format_get_bytes_per_pixel(format) /
                        babl_format_get_n_components(format) > 1;
  if (!save(result.get(), a.output, deep)) {
    std::fprintf(stderr, "tessaform-warp: cannot write %s\n",
                 a.output.c_str());
    return EXIT_IO;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  cli_arguments args;
  std::string error;
  if (!cli_arguments_parse(&args, argc, argv, &error)) {
    std::fprintf(stderr, "tessaform-warp: %s\n(tessaform-warp --help shows the usage)\n",
                 error.c_str());
    return EXIT_ARGUMENTS;
  }
  if (args.help) {
    std::fputs(cli_usage(), stdout);
    return 0;
  }
  // babl's conversion cache costs most of a second to load and a short run
  // gains nothing from it.
  g_setenv("BABL_INHIBIT_CACHE", "1", FALSE);
  // Tiles stay in memory: a swap file only costs time for one image.
  g_setenv("GEGL_SWAP", "RAM", FALSE);
  use_own_modules();
  gegl_init(nullptr, nullptr);
  // A failed load asks for a text operation to draw its message; the
  // failure itself is reported below.
  g_log_set_handler("GEGL", G_LOG_LEVEL_WARNING, ignore_message, nullptr);
  const int status = run(args);
  gegl_exit();
  return status;
}
