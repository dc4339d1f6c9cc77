// OUTPUT written through a file that has no name until it is whole
// (O_TMPFILE, then linkat), so that no other file ever shows beside it and
// nothing stays behind, even after SIGKILL. Where the filesystem cannot do
// that, a hidden temporary beside OUTPUT is removed on failure and on
// SIGINT, SIGTERM and SIGHUP.
#pragma once

#include <string>

struct output_file {
  int fd = -1;
  bool nameless = false;
  std::string temporary;  // the named fallback's path
  std::string path;       // OUTPUT
};

// SIGINT, SIGTERM and SIGHUP remove a named temporary, then end the process
// as the signal would have.
void output_signals_install();
bool output_file_open(output_file *f, const std::string &path,
                      std::string *error);
// A path that writes into the open file, for savers that take a path.
std::string output_file_fd_path(const output_file &f);
// Gives the finished file OUTPUT's name, replacing an existing OUTPUT.
bool output_file_commit(output_file *f, std::string *error);
// Drops the file: OUTPUT is left as it was.
void output_file_discard(output_file *f);
