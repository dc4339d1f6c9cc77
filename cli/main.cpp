// tessaform-warp: GEGL's loaders and savers around the warp engine.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include <glib/gstdio.h>

#include "arguments.h"
#include "gegl_ref.h"
#include "image_header.h"
#include "library_voice.h"
#include "output_file.h"
#include "run_limits.h"
#include "strip_pipeline.h"
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

// Where a run's time goes, stage after stage, for --times.
struct stage_clock {
  using clock = std::chrono::steady_clock;
  clock::time_point start = clock::now();
  clock::time_point last = start;
  std::string report;

  void mark(const char *stage, const std::string &detail = std::string()) {
    const clock::time_point now = clock::now();
    char text[160];
    g_snprintf(text, sizeof text, "%s%s %.3f s%s", report.empty() ? "" : ", ",
               stage, std::chrono::duration<double>(now - last).count(),
               detail.c_str());
    report += text;
    last = now;
  }
  void print() {
    std::fprintf(stderr, "tessaform-warp: %s; total %.3f s\n", report.c_str(),
                 std::chrono::duration<double>(clock::now() - start).count());
  }
};

int say(int status, const char *format, ...) G_GNUC_PRINTF(2, 3);
int say(int status, const char *format, ...) {
  va_list args;
  va_start(args, format);
  std::fputs("tessaform-warp: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  return status;
}

// The first line of what a library said, for a one-line message.
std::string first_line(const std::string &text) {
  return text.substr(0, text.find('\n'));
}

// INPUT, opened once: the header is read from the mapped bytes and the
// loader reads the same file through the descriptor.
struct input_file {
  int fd = -1;
  GMappedFile *mapped = nullptr;
  ~input_file() {
    if (mapped) g_mapped_file_unref(mapped);
    if (fd >= 0) close(fd);
  }
};

bool input_open(input_file *in, const std::string &path, std::string *why) {
  in->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (in->fd < 0 || fstat(in->fd, &st) != 0) {
    *why = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "it is not a regular file";
    return false;
  }
  GError *error = nullptr;
  in->mapped = g_mapped_file_new_from_fd(in->fd, FALSE, &error);
  if (!in->mapped) {
    *why = error ? error->message : "it cannot be read";
    g_clear_error(&error);
    return false;
  }
  return true;
}

// The whole file through the format's own GEGL loader; null with `why`
// set when the loader fails or says anything that tells of damage.
GeglBuffer *load(const input_file &in, const image_header &header,
                 std::string *why) {
  const std::string path = "/proc/self/fd/" + std::to_string(in.fd);
  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglBuffer *buffer = nullptr;
  GeglNode *source = gegl_node_new_child(
      graph.get(), "operation", image_format_loader(header.format), "path",
      path.c_str(), nullptr);
  GeglNode *sink = gegl_node_new_child(graph.get(), "operation",
                                       "gegl:buffer-sink", "buffer", &buffer,
                                       nullptr);
  gegl_node_link(source, sink);
  library_voice voice;
  library_voice_listen(&voice);
  gegl_node_process(sink);
  const std::string said = library_voice_stop(&voice);
  gegl_ref<GeglBuffer> loaded(buffer);
  if (!said.empty()) {
    *why = std::string("GEGL's ") + image_format_name(header.format) +
           " loader reports: " + first_line(said);
    return nullptr;
  }
  const GeglRectangle *e = buffer ? gegl_buffer_get_extent(buffer) : nullptr;
  if (!e || e->width != header.width || e->height != header.height) {
    *why = "the loader could not read its pixels";
    return nullptr;
  }
  return GEGL_BUFFER(g_object_ref(buffer));
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

// GEGL for the length of a run.
struct gegl_session {
  gegl_session() {
    // babl's conversion cache costs most of a second to load and a short
    // run gains nothing from it.
    g_setenv("BABL_INHIBIT_CACHE", "1", FALSE);
    // Tiles stay in memory: a swap file only costs time for one image, and
    // one left by a killed run would be a trace of it. This GEGL also makes
    // a folder named after GEGL_SWAP in the current one, so it starts from
    // a folder where none can be made.
    g_setenv("GEGL_SWAP", "RAM", FALSE);
    use_own_modules();
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool moved = here >= 0 && chdir("/proc") == 0;
    gegl_init(nullptr, nullptr);
    if (moved && fchdir(here) != 0) std::perror("tessaform-warp: back to the current folder");
    if (here >= 0) close(here);
  }
  ~gegl_session() { gegl_exit(); }
  gegl_session(const gegl_session &) = delete;
  gegl_session &operator=(const gegl_session &) = delete;
};

// Where GLib or C++ cannot get memory it would abort: a message and the
// usual failure status instead (a nameless output file vanishes with the
// process).
[[noreturn]] void out_of_memory_exit(const char *detail) {
  static const char head[] = "\ntessaform-warp: out of memory";
  const int fd = library_voice_stderr();
  ssize_t ignored = write(fd, head, sizeof head - 1);
  if (detail) {
    ignored = write(fd, ": ", 2);
    ignored = write(fd, detail, std::strlen(detail));
  }
  ignored = write(fd, "\n", 1);
  (void)ignored;
  _exit(EXIT_IO);
}

void glib_fatal(const gchar *, GLogLevelFlags, const gchar *message,
                gpointer) {
  if (message && std::strstr(message, "failed to allocate"))
    out_of_memory_exit(message);
  g_log_default_handler("GLib", G_LOG_LEVEL_ERROR, message, nullptr);
  abort();
}

void new_failed() { out_of_memory_exit(nullptr); }

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
  GeglNode *sink = gegl_node_new_child(graph.get(), "operation",
                                       "gegl:write-buffer", "buffer", out,
                                       nullptr);
  gegl_node_link(over_node(graph.get(), input, warped, box.x, box.y), sink);
  gegl_node_process(sink);
  return out;
}

// Renders the whole destination, places it and hands it to the format's
// GEGL saver, which writes into `output`.
int render_whole(const cli_arguments &a, const warp_job &job,
                 const output_format &format, const output_file &output,
                 stage_clock *clock) {
  const GeglRectangle local = {0, 0, job.box.width, job.box.height};
  gegl_ref<GeglBuffer> warped(
      gegl_buffer_new(&local, gegl_buffer_get_format(job.source)));
  const warp_target target = {warped.get(), job.box.x, job.box.y, job.box};
  const warp_status warped_status =
      tessaform_warp_target(job.source, &job.extent, &target, job.vals,
                            job.options, job.progress, job.progress_data);
  if (warped_status == WARP_NO_MEMORY)
    return say(EXIT_IO, "not enough memory for the warp");
  if (warped_status != WARP_SUCCESS)
    return say(EXIT_ARGUMENTS, "the warp was refused");
  clock->mark("warp");
  gegl_ref<GeglBuffer> result;
  if (a.mode == OUTPUT_CROP || a.rectify)
    result.reset(GEGL_BUFFER(g_object_ref(warped.get())));
  else
    result.reset(place(job.input, warped.get(), job.box, a.mode == OUTPUT_OVER));

  const std::string path = output_file_fd_path(output);
  gegl_ref<GeglNode> graph(gegl_node_new());
  GeglNode *source =
      gegl_node_new_child(graph.get(), "operation", "gegl:buffer-source",
                          "buffer", result.get(), nullptr);
  GeglNode *writer = gegl_node_new_child(graph.get(), "operation", format.saver,
                                         "path", path.c_str(), nullptr);
  gegl_node_link(source, writer);
  library_voice voice;
  library_voice_listen(&voice);
  gegl_node_process(writer);
  const std::string said = library_voice_stop(&voice);
  clock->mark("place and save");
  struct stat st;
  if (!said.empty() || fstat(output.fd, &st) != 0 || st.st_size == 0)
    return say(EXIT_IO, "cannot write %s: %s", a.output.c_str(),
               said.empty() ? "the saver wrote nothing"
                            : first_line(said).c_str());
  return 0;
}

int run(const cli_arguments &a, stage_clock *clock) {
  const output_format *format = output_format_for(a.output);
  if (!format)
    return say(EXIT_IO, "cannot write %s: no saver for its extension",
               a.output.c_str());
  const char *in_name = a.input.c_str();

  // Everything the file declares is checked before GEGL starts or a pixel
  // is decoded.
  input_file in;
  std::string why;
  if (!input_open(&in, a.input, &why))
    return say(EXIT_IO, "cannot read %s: %s", in_name, why.c_str());
  image_header header;
  if (image_header_read(
          reinterpret_cast<const unsigned char *>(g_mapped_file_get_contents(in.mapped)),
          g_mapped_file_get_length(in.mapped), &header, &why) != HEADER_OK)
    return say(EXIT_IO, "cannot read %s: %s", in_name, why.c_str());
  why = input_limit_check(header, a.max_pixels);
  if (!why.empty()) return say(EXIT_IO, "will not read %s: %s", in_name, why.c_str());

  const GeglRectangle extent = {0, 0, int(header.width), int(header.height)};
  warp_vals vals{};
  fill_vals(&vals, a, extent);
  // The part of the destination rendered: its whole box, or for --rectify
  // the upright rectangle alone, which is then the whole output.
  GeglRectangle box{};
  if (a.rectify) {
    std::string report, error;
    if (!cli_rectify_settings(a, extent, &vals, &box, &report, &error))
      return say(EXIT_ARGUMENTS, "%s", error.c_str());
    if (!a.quiet) std::printf("tessaform-warp: %s\n", report.c_str());
  }
  if (const char *refusal = warp_vals_check(&vals))
    return say(EXIT_ARGUMENTS, "%s", refusal);
  if (!a.rectify) box = warp_destination_box(&vals);
  const GeglRectangle out_rect =
      a.mode == OUTPUT_CROP || a.rectify ? box : extent;
  why = output_limit_check(*format, out_rect.width, out_rect.height,
                           header.bytes_per_pixel);
  if (!why.empty())
    return say(EXIT_IO, "cannot write %s: %s", a.output.c_str(), why.c_str());

  run_sizes sizes{};
  sizes.input_pixels = header.width * header.height;
  sizes.input_bytes_per_pixel = header.bytes_per_pixel;
  sizes.warp_bytes_per_pixel = header.bytes_per_pixel;
  sizes.destination_pixels = int64_t(box.width) * box.height;
  sizes.output_pixels = int64_t(out_rect.width) * out_rect.height;
  sizes.output_width = out_rect.width;
  sizes.alpha_copy = a.mode == OUTPUT_OVER;
  sizes.anti_aliasing = a.anti_aliasing != 0;
  sizes.strips = format->strips;
  sizes.strip_rows = STRIP_ROWS;
  sizes.saver_bytes_per_pixel = format->saver_bytes_per_pixel;
  const int64_t need = run_memory_need(sizes);
  const int64_t available = run_memory_available();
  if (available >= 0 && need > available)
    return say(EXIT_IO, "not enough memory: the run needs about %s, %s is "
               "available", memory_text(need).c_str(),
               memory_text(available).c_str());

  clock->mark("checks");
  gegl_session gegl;
  clock->mark("GEGL start");
  if (!format->strips && !gegl_has_operation(format->saver))
    return say(EXIT_IO, "cannot write %s: GEGL has no %s saver here",
               a.output.c_str(), format->name);
  gegl_ref<GeglBuffer> input(load(in, header, &why));
  if (!input.get())
    return say(EXIT_IO, "cannot read %s: %s", in_name, why.c_str());
  clock->mark("decode");

  const Babl *in_format = gegl_buffer_get_format(input.get());
  // Over an input without alpha, the warp runs on a copy with alpha, so that
  // the pixels around the quadrangle stay clear instead of black.
  gegl_ref<GeglBuffer> source(GEGL_BUFFER(g_object_ref(input.get())));
  if (a.mode == OUTPUT_OVER && !babl_format_has_alpha(in_format)) {
    source.reset(gegl_buffer_new(&extent, format_with_alpha(in_format)));
    gegl_buffer_copy(input.get(), &extent, GEGL_ABYSS_NONE, source.get(),
                     &extent);
  }

  output_file output;
  if (!output_file_open(&output, a.output, &why))
    return say(EXIT_IO, "cannot write %s: %s", a.output.c_str(), why.c_str());
  progress_state progress;
  progress.start = std::chrono::steady_clock::now();
  const bool show = !a.quiet && isatty(STDERR_FILENO);
  warp_render_options options{0, a.threads};
  options.parallel_io = 1;  // the tool's own buffers: workers read and write
  warp_job job{};
  job.input = input.get();
  job.source = source.get();
  job.extent = extent;
  job.box = box;
  job.out_rect = out_rect;
  job.over = a.mode == OUTPUT_OVER;
  job.vals = &vals;
  job.options = &options;
  job.progress = show ? progress_to_terminal : nullptr;
  job.progress_data = &progress;
  // 8-bit input stays at 8 bits; deeper input gets 16.
  job.deep = babl_format_get_bytes_per_pixel(in_format) /
                 babl_format_get_n_components(in_format) > 1;
  int status = 0;
  if (format->strips) {
    strip_times times;
    const strip_result r = strip_pipeline_png(job, output.fd, &why, &times);
    char detail[96];
    g_snprintf(detail, sizeof detail,
               " (of it: warp and conversion %.3f s, encoding %.3f s)",
               times.render, times.encode);
    clock->mark("warp and encode in strips", detail);
    if (r == STRIPS_REFUSED)
      status = say(EXIT_ARGUMENTS, "the warp was refused");
    else if (r == STRIPS_NO_MEMORY)
      status = say(EXIT_IO, "not enough memory for the warp");
    else if (r == STRIPS_WRITE_FAILED)
      status = say(EXIT_IO, "cannot write %s: %s", a.output.c_str(), why.c_str());
  } else {
    status = render_whole(a, job, *format, output, clock);
  }
  if (status == 0 && !output_file_commit(&output, &why))
    status = say(EXIT_IO, "cannot write %s: %s", a.output.c_str(), why.c_str());
  if (status != 0) output_file_discard(&output);
  clock->mark("rename");
  return status;
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
  output_signals_install();
  std::set_new_handler(new_failed);
  g_log_set_handler("GLib", GLogLevelFlags(G_LOG_LEVEL_ERROR | G_LOG_FLAG_FATAL),
                    glib_fatal, nullptr);
  stage_clock clock;
  const int status = run(args, &clock);
  if (args.times) clock.print();
  return status;
}
