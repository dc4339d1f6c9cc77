#include "output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <glib.h>

namespace {

// The named temporary the signal handler removes; empty when there is none.
char pending_unlink[PATH_MAX];

void remove_and_die(int signal_number) {
  if (pending_unlink[0]) unlink(pending_unlink);
  ::signal(signal_number, SIG_DFL);
  raise(signal_number);
}

const int handled_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Signals wait while a name is given and taken back.
struct signals_held {
  sigset_t old;
  signals_held() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : handled_signals) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old);
  }
  ~signals_held() { sigprocmask(SIG_SETMASK, &old, nullptr); }
  signals_held(const signals_held &) = delete;
  signals_held &operator=(const signals_held &) = delete;
};

std::string hidden_name_beside(const std::string &path) {
  gchar *dir = g_path_get_dirname(path.c_str());
  gchar *name = g_strdup_printf("%s/.tessaform-warp-%08x%08x", dir,
                                g_random_int(), g_random_int());
  std::string out = name;
  g_free(name);
  g_free(dir);
  return out;
}

}  // namespace

void output_signals_install() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = remove_and_die;
  sigemptyset(&action.sa_mask);
  for (int s : handled_signals) sigaddset(&action.sa_mask, s);
  for (int s : handled_signals) sigaction(s, &action, nullptr);
}

bool output_file_open(output_file *f, const std::string &path,
                      std::string *error) {
  f->path = path;
  gchar *dir = g_path_get_dirname(path.c_str());
  f->fd = open(dir, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  g_free(dir);
  if (f->fd >= 0) {
    f->nameless = true;
    return true;
  }
  // ENOENT and ENOTDIR: no such folder; EACCES: not ours to write.
  if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) {
    *error = std::strerror(errno);
    return false;
  }
  for (int attempt = 0; attempt < 16 && f->fd < 0; ++attempt) {
    f->temporary = hidden_name_beside(path);
    signals_held hold;
    f->fd = open(f->temporary.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (f->fd >= 0) {
      g_strlcpy(pending_unlink, f->temporary.c_str(), sizeof pending_unlink);
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (f->fd < 0) {
    *error = std::strerror(errno);
    f->temporary.clear();
    return false;
  }
  return true;
}

std::string output_file_fd_path(const output_file &f) {
  return "/proc/self/fd/" + std::to_string(f.fd);
}

bool output_file_commit(output_file *f, std::string *error) {
  signals_held hold;
  bool ok = true;
  if (f->nameless) {
    const std::string self = output_file_fd_path(*f);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, f->path.c_str(),
               AT_SYMLINK_FOLLOW) != 0) {
      // OUTPUT exists: a hidden name first, then renamed over it, with the
      // signals held so that the name cannot stay behind.
      ok = false;
      if (errno == EEXIST)
        for (int attempt = 0; attempt < 16 && !ok; ++attempt) {
          f->temporary = hidden_name_beside(f->path);
          ok = linkat(AT_FDCWD, self.c_str(), AT_FDCWD, f->temporary.c_str(),
                      AT_SYMLINK_FOLLOW) == 0;
          if (!ok && errno != EEXIST) break;
        }
      if (ok) {
        g_strlcpy(pending_unlink, f->temporary.c_str(), sizeof pending_unlink);
        ok = rename(f->temporary.c_str(), f->path.c_str()) == 0;
      }
    }
  } else {
    ok = rename(f->temporary.c_str(), f->path.c_str()) == 0;
  }
  if (!ok) {
    *error = std::strerror(errno);
    if (!f->temporary.empty()) unlink(f->temporary.c_str());
  }
  pending_unlink[0] = '\0';
  f->temporary.clear();
  close(f->fd);
  f->fd = -1;
  return ok;
}

void output_file_discard(output_file *f) {
  if (f->fd >= 0) close(f->fd);
  f->fd = -1;
  if (!f->temporary.empty()) unlink(f->temporary.c_str());
  f->temporary.clear();
  pending_unlink[0] = '\0';
}
