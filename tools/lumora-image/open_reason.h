// Why a file cannot be opened, in the system's words: the library's "Opening PATH failed"
// carries only a code, so the tool asks the system again for the reason it shows.
#pragma once

#include <string>

class CTextException;

// The reason PATH cannot be read (or, with forWriting, written): the system's error text
// ("No such file or directory", "Permission denied", "Is a directory"), "file is empty",
// or empty when the system sees no obstacle.
std::string OpenReason(const std::string& path, bool forWriting);

// Prints the failure as ReportError does; an "Opening IN failed" or "Opening OUT failed"
// text gets ": REASON" added. Either path may be empty.
void ReportFailure(const CTextException& failure, const std::string& in, const std::string& out);
