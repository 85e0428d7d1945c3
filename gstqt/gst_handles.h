// RAII handles for the GStreamer and GLib references the backend holds. Adopting a floating
// reference sinks it, so every handle owns exactly one reference.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <utility>

namespace media::gsth {

struct ObjectUnref {
  void operator()(gpointer p) const {
    if (p) gst_object_unref(p);
  }
};
struct CapsUnref {
  void operator()(GstCaps* p) const {
    if (p) gst_caps_unref(p);
  }
};
struct SampleUnref {
  void operator()(GstSample* p) const {
    if (p) gst_sample_unref(p);
  }
};
struct MessageUnref {
  void operator()(GstMessage* p) const {
    if (p) gst_message_unref(p);
  }
};
struct ErrorFree {
  void operator()(GError* p) const {
    if (p) g_error_free(p);
  }
};
struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};

template <class T>
using Ref = std::unique_ptr<T, ObjectUnref>;
using CapsRef = std::unique_ptr<GstCaps, CapsUnref>;
using SampleRef = std::unique_ptr<GstSample, SampleUnref>;
using MessageRef = std::unique_ptr<GstMessage, MessageUnref>;
using ErrorRef = std::unique_ptr<GError, ErrorFree>;
using CharRef = std::unique_ptr<gchar, GFree>;

// A newly made element (floating): sink it so the handle holds the only reference.
template <class T>
Ref<T> Sink(T* object) {
  if (object) gst_object_ref_sink(object);
  return Ref<T>(object);
}

// A reference handed over by a "transfer full" call (pads, buses, peers).
template <class T>
Ref<T> Own(T* object) {
  return Ref<T>(object);
}

// Adds a reference to an object the caller does not own.
template <class T>
Ref<T> Share(T* object) {
  if (object) gst_object_ref(object);
  return Ref<T>(object);
}

}  // namespace media::gsth
