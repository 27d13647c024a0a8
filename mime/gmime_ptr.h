// Ownership of GLib/GMime objects in C++ scopes, so that every early return and exception
// releases what was created.
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <string>

namespace mailfold::mime::detail {

struct GObjectUnref {
  void operator()(gpointer p) const {
    if (p) g_object_unref(p);
  }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFreeDeleter {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFreeDeleter>;

struct GDateTimeUnref {
  void operator()(GDateTime* p) const {
    if (p) g_date_time_unref(p);
  }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

// Takes a g_malloc'ed string, returns it as std::string (empty for null) and frees it.
inline std::string takeString(char* s) {
  GCharPtr owned(s);
  return s ? std::string(s) : std::string();
}
inline std::string orEmpty(const char* s) { return s ? std::string(s) : std::string(); }

}  // namespace mailfold::mime::detail
