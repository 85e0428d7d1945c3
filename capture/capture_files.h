// Volume and file queries behind the capture-file commands (the commands themselves are
// CMainFrame members, in capture_files.cpp).
#pragma once

#include <cstdint>
#include <string>

// Free kilobytes available on the volume holding `path` (a file that need not exist yet;
// relative paths count from the working folder), or -1 when it cannot be measured.
int64_t FreeSpaceOfVolume(const std::string& path);

// Size of the existing file, 0 when it cannot be opened.
uint64_t GetCaptureFileBytes(const std::string& path);
