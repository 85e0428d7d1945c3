// The codec trace: progress and error lines appended to a trace file.
//
// Off unless both a level and a file are set. Nothing in the program sets them; they are
// read once, on first use, from LUMORA_TRACE_LEVEL (an integer) and LUMORA_TRACE_FILE (a
// path). Levels: 0 errors, 1 file banners, 2 format steps, 3 details. The file is opened in
// append mode for each line and closed right after; failure to open it is ignored.
// Not guarded against concurrent use.
#pragma once

#include <string>

namespace trace {

int Level();
const std::string& File();  // empty when no trace file is set

// For tests and tools: override what the environment said.
void SetLevel(int level);
void SetFile(const std::string& path);

}  // namespace trace

// Appends the printf-formatted text when messageLevel <= trace::Level() and a file is set.
void Trace(int messageLevel, const char* format, ...) __attribute__((format(printf, 2, 3)));
