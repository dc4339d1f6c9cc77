// peak_rss FILE PROGRAM [ARGS...]: runs PROGRAM with ARGS as a child that
// inherits every open descriptor (a GIMP plug-in talks to GIMP through
// inherited pipes), then appends one line to FILE:
//   NAME MODE PEAK_KB WALL_S USER_S SYS_S MINOR_FAULTS
// where NAME is PROGRAM's file name, MODE the GIMP plug-in mode found among
// the arguments (-query, -init, -run, else "-"), PEAK_KB the child's peak
// resident memory, MINOR_FAULTS its page faults served without I/O (one per
// fresh page it touched). Exits with the child's status.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

double seconds(const timeval &t) { return double(t.tv_sec) + t.tv_usec * 1e-6; }

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE PROGRAM [ARGS...]\n", argv[0]);
    return 2;
  }
  const char *mode = "-";
  for (int i = 3; i < argc; ++i)
    if (!std::strcmp(argv[i], "-query") || !std::strcmp(argv[i], "-init") ||
        !std::strcmp(argv[i], "-run"))
      mode = argv[i];

  timeval start{}, end{};
  gettimeofday(&start, nullptr);
  const pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    execv(argv[2], argv + 2);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0)
    if (errno != EINTR) return 127;
  gettimeofday(&end, nullptr);

  const char *name = std::strrchr(argv[2], '/');
  name = name ? name + 1 : argv[2];
  char line[512];
  const int n = std::snprintf(
      line, sizeof line, "%s %s %ld %.4f %.4f %.4f %ld\n", name, mode,
      usage.ru_maxrss, seconds(end) - seconds(start), seconds(usage.ru_utime),
      seconds(usage.ru_stime), usage.ru_minflt);
  // One write on an O_APPEND descriptor: lines of concurrent runs stay whole.
  const int fd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    const ssize_t written = write(fd, line, size_t(n));
    static_cast<void>(written);
    close(fd);
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}
