// Linked into every test program that runs GStreamer: a GStreamer object (element, pad, caps,
// buffer, sample, bus, ...) still alive when the program ends fails it. GStreamer's leaks
// tracer is switched on before the first gst_init; at the end gst_deinit makes it list what
// is left (printed through the GST_TRACER debug category).
#include "tests/capture/platform/gst_leak_check.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool leaked = false;
bool programPlatform = false;

void NoteLeaks(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
  if (message && std::strstr(message, "Leaks detected")) leaked = true;
  g_log_default_handler(domain, level, message, data);
}

class GstLeakCheck : public testing::Environment {
public:
  GstLeakCheck() {
    ::setenv("GST_TRACERS", "leaks", 0);
  }
  // Runs after every test suite has torn down (a suite's platform goes with it).
  void TearDown() override {
    if (!gst_is_initialized()) return;
    if (programPlatform) {
      std::printf("GStreamer leak check skipped: the program's platform lives until exit\n");
      return;
    }
    // Objects deleted later and calls posted to the UI thread may still hold references.
    if (QCoreApplication::instance()) {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      QCoreApplication::processEvents();
    }
    g_log_set_default_handler(NoteLeaks, nullptr);
    gst_debug_set_threshold_for_name("GST_TRACER", GST_LEVEL_TRACE);
    gst_deinit();
    EXPECT_FALSE(leaked) << "GStreamer objects outlived the tests; the leaks tracer listed them above";
  }
};

[[maybe_unused]] testing::Environment* const kLeakCheck = testing::AddGlobalTestEnvironment(new GstLeakCheck);

}  // namespace

void gstleak::KeepsTheProgramPlatform() { programPlatform = true; }
