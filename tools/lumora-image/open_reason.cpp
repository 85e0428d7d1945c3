#include "tools/lumora-image/open_reason.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "imaging/core/file_replacement.h"
#include "imaging/core/text_exception.h"
#include "tools/lumora-image/write_output.h"

std::string OpenReason(const std::string& path, bool forWriting) {
  struct stat st{};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
  if (forWriting) {
    // The same test the writer made, without creating anything.
    const int error = ReplacementObstacle(path);
    return error == 0 ? "" : std::strerror(error);
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  if (st.st_size == 0) return "file is empty";
  if (st.st_size > INT32_MAX) return std::strerror(EFBIG);
  return "";
}

void ReportFailure(const CTextException& failure, const std::string& in, const std::string& out) {
  std::string text = failure.GetErrorText();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  for (const auto& [path, forWriting] : {std::pair{in, false}, std::pair{out, true}}) {
    const std::string opening = "Opening " + path + " failed";
    if (path.empty() || text.size() < opening.size() ||
        text.compare(text.size() - opening.size(), opening.size(), opening) != 0) {
      continue;
    }
    const std::string reason = OpenReason(path, forWriting);
    if (!reason.empty()) text += ": " + reason;
    break;
  }
  ReportError(failure.GetErrorCode(), text.c_str());
}
