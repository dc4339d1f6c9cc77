// A GObject reference (a GeglBuffer, a GeglNode) released on every path out
// of the scope that holds it.
#pragma once

#include <glib-object.h>

template <typename T>
struct gegl_ref {
  T *object = nullptr;

  gegl_ref() = default;
  explicit gegl_ref(T *taken) : object(taken) {}
  ~gegl_ref() { reset(); }
  gegl_ref(const gegl_ref &) = delete;
  gegl_ref &operator=(const gegl_ref &) = delete;

  void reset(T *taken = nullptr) {
    if (object) g_object_unref(object);
    object = taken;
  }
  T *get() const { return object; }
};
