#include "playback/running_objects.h"

#include <unistd.h>

#include <cstdio>
#include <map>

#include "gstqt/gst_handles.h"

namespace playback {
namespace {

struct Entry {
  std::string name;
  media::gsth::Ref<GstElement> graph;
};

std::map<uint32_t, Entry>& Table() {
  static std::map<uint32_t, Entry> table;
  return table;
}

uint32_t g_lastCookie = 0;

}  // namespace

std::string GraphRegistrationName(const void* graph, unsigned long processId) {
  char name[64];
  std::snprintf(name, sizeof name, "FilterGraph %08x pid %08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(graph)),
                static_cast<unsigned>(processId));
  return name;
}

Status RegisterGraph(GstElement* pipeline, uint32_t& cookie) {
  cookie = 0;
  if (!pipeline) return kInvalidArg;
  const std::string name = GraphRegistrationName(pipeline, static_cast<unsigned long>(getpid()));
  if (FindRegisteredGraph(name)) return kFail;
  if (!gst_object_set_name(GST_OBJECT(pipeline), name.c_str())) return kFail;
  do {
    ++g_lastCookie;
  } while (g_lastCookie == 0 || Table().count(g_lastCookie));
  Table().emplace(g_lastCookie, Entry{name, media::gsth::Share(pipeline)});
  cookie = g_lastCookie;
  GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(pipeline), GST_DEBUG_GRAPH_SHOW_ALL, name.c_str());
  return kOk;
}

void RevokeGraph(uint32_t cookie) { Table().erase(cookie); }

GstElement* FindRegisteredGraph(const std::string& name) {
  for (const auto& [cookie, entry] : Table())
    if (entry.name == name) return entry.graph.get();
  return nullptr;
}

}  // namespace playback
