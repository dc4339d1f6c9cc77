// What GEGL's loaders and savers say while they work. They report damage
// and failure only by printing (libjpeg, libpng, libtiff on standard error,
// the GEGL modules through GLib's log) and carry on, so what they say is
// how a failure is seen.
#pragma once

#include <string>

struct library_voice {
  int saved_stderr = -1;
  int capture = -1;
};

// From here on standard error and GLib's warnings are held, not shown.
void library_voice_listen(library_voice *v);
// Where standard error really goes while it is held: for a message that
// must be seen even then (and from a signal handler).
int library_voice_stderr();
// Stops holding; returns what was said that tells of a failure (libpng's
// warnings about ancillary data do not), one message per line.
std::string library_voice_stop(library_voice *v);
