#include "library_voice.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include <glib.h>

namespace {

std::mutex logged_lock;
std::string logged;
bool listening = false;
// The real standard error while it is held, else -1.
volatile int held_stderr = -1;

void hold_message(const gchar *domain, GLogLevelFlags level,
                  const gchar *message, gpointer) {
  {
    std::lock_guard<std::mutex> lock(logged_lock);
    if (listening) {
      if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL |
                   G_LOG_LEVEL_WARNING)) {
        logged += message ? message : "";
        logged += '\n';
      }
      return;
    }
  }
  g_log_default_handler(domain, level, message, nullptr);
}

bool tells_of_failure(const std::string &line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return false;
  return line.rfind("libpng warning:", 0) != 0;
}

}  // namespace

void library_voice_listen(library_voice *v) {
  std::fflush(stderr);
  v->saved_stderr = dup(STDERR_FILENO);
  held_stderr = v->saved_stderr;
  v->capture = memfd_create("tessaform-warp-messages", MFD_CLOEXEC);
  if (v->capture >= 0) dup2(v->capture, STDERR_FILENO);
  std::lock_guard<std::mutex> lock(logged_lock);
  logged.clear();
  listening = true;
  g_log_set_default_handler(hold_message, nullptr);
}

int library_voice_stderr() {
  const int fd = held_stderr;
  return fd >= 0 ? fd : STDERR_FILENO;
}

std::string library_voice_stop(library_voice *v) {
  std::fflush(stderr);
  std::string said;
  {
    std::lock_guard<std::mutex> lock(logged_lock);
    listening = false;
    said.swap(logged);
  }
  if (v->saved_stderr >= 0) {
    held_stderr = -1;
    dup2(v->saved_stderr, STDERR_FILENO);
    close(v->saved_stderr);
    v->saved_stderr = -1;
  }
  if (v->capture >= 0) {
    // The start is enough to tell what went wrong.
    char text[4096];
    const ssize_t n = pread(v->capture, text, sizeof text - 1, 0);
    if (n > 0) said.append(text, size_t(n));
    close(v->capture);
    v->capture = -1;
  }
  std::string failures;
  size_t start = 0;
  while (start < said.size()) {
    size_t end = said.find('\n', start);
    if (end == std::string::npos) end = said.size();
    const std::string line = said.substr(start, end - start);
    if (tells_of_failure(line)) failures += line + '\n';
    start = end + 1;
  }
  return failures;
}
