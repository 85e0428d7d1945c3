#include "imaging/core/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace trace {
namespace {

struct Settings {
  int level = 0;
  std::string file;
};

Settings& Current() {
  static Settings settings = [] {
    Settings s;
    if (const char* level = std::getenv("LUMORA_TRACE_LEVEL")) s.level = std::atoi(level);
    if (const char* file = std::getenv("LUMORA_TRACE_FILE")) s.file = file;
    return s;
  }();
  return settings;
}

}  // namespace

int Level() { return Current().level; }
const std::string& File() { return Current().file; }
void SetLevel(int level) { Current().level = level; }
void SetFile(const std::string& path) { Current().file = path; }

}  // namespace trace

void Trace(int messageLevel, const char* format, ...) {
  if (messageLevel > trace::Level() || trace::File().empty()) return;
  std::FILE* f = std::fopen(trace::File().c_str(), "a");
  if (f == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(f, format, args);
  va_end(args);
  std::fclose(f);
}
