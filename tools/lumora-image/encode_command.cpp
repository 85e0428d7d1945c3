// lumora-image encode IN OUT [options]: a netpbm picture to any of the save formats, with
// the same record and the same path as the snapshot window's Save.
#include <memory>
#include <new>

#include "imaging/core/text_exception.h"
#include "tools/lumora-image/commands.h"
#include "tools/lumora-image/netpbm_reader.h"
#include "tools/lumora-image/open_reason.h"
#include "tools/lumora-image/write_output.h"

int RunEncode(const Arguments& args) {
  OutputOptions options;
  std::vector<std::string> rest;
  std::string error;
  if (!ParseOutputOptions(args, options, rest, error)) return UsageError(error);
  if (const int status = CheckFiles(rest, {"input file", "output file"})) return status;
  try {
    auto bmp = std::make_unique<CWinBmp>();
    ReadNetpbm(rest[0], *bmp);
    WriteOutput(std::move(bmp), rest[1], options);
  } catch (const CTextException& failure) {
    ReportFailure(failure, rest[0], rest[1]);
    return 1;
  } catch (const std::bad_alloc&) {
    ReportError(textexception::kNoMemory, "Out of memory.");
    return 1;
  }
  return 0;
}
