#include "imaging/decode/jpeg_decoder.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <jerror.h>

namespace {

// A file with more scans than this is not a picture but a trap: each progressive scan
// walks the whole coefficient buffer again.
constexpr int kMaxScans = 1000;

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

// Everything libjpeg touches, in one plain struct: libjpeg leaves by longjmp, so nothing
// here (nor in the guarded functions below) may have a destructor.
struct JpegContext {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr errorManager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  jpeg_source_mgr sourceManager;
  jpeg_progress_mgr progressManager;
  const JOCTET* data;
  size_t size;
};

JpegContext* ContextOf(j_common_ptr cinfo) {
  // client_data points back at the context that embeds the object.
  return static_cast<JpegContext*>(cinfo->client_data);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  JpegContext* context = ContextOf(cinfo);
  (*cinfo->err->format_message)(cinfo, context->message);
  std::longjmp(context->jump, 1);
}

// Warnings (corrupt data, premature end) are not shown anywhere: the picture still decodes.
void OutputMessage(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

// The data ran out: supply an end-of-image marker so the library can finish the picture.
boolean FillInputBuffer(j_decompress_ptr cinfo) {
  WARNMS(cinfo, JWRN_JPEG_EOF);
  cinfo->src->next_input_byte = kEndOfImage;
  cinfo->src->bytes_in_buffer = sizeof kEndOfImage;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (static_cast<unsigned long>(count) < src->bytes_in_buffer) {
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
  } else {
    FillInputBuffer(cinfo);
  }
}

void ProgressMonitor(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) {
    std::snprintf(ContextOf(cinfo)->message, JMSG_LENGTH_MAX,
                  "Too many scans in JPEG file (more than %d)", kMaxScans);
    std::longjmp(ContextOf(cinfo)->jump, 1);
  }
}

void Setup(JpegContext* c) {
  std::memset(&c->cinfo, 0, sizeof c->cinfo);
  c->cinfo.err = jpeg_std_error(&c->errorManager);
  c->errorManager.error_exit = ErrorExit;
  c->errorManager.output_message = OutputMessage;
  c->message[0] = '\0';
}

// The guarded steps: each returns false after a library error (message in c->message).

bool Create(JpegContext* c) {
  if (setjmp(c->jump)) return false;
  jpeg_create_decompress(&c->cinfo);
  c->cinfo.client_data = c;
  c->sourceManager.next_input_byte = c->data;
  c->sourceManager.bytes_in_buffer = c->size;
  c->sourceManager.init_source = InitSource;
  c->sourceManager.fill_input_buffer = FillInputBuffer;
  c->sourceManager.skip_input_data = SkipInputData;
  c->sourceManager.resync_to_restart = jpeg_resync_to_restart;
  c->sourceManager.term_source = TermSource;
  c->cinfo.src = &c->sourceManager;
  c->progressManager.progress_monitor = ProgressMonitor;
  c->cinfo.progress = &c->progressManager;
  return true;
}

bool ReadHeader(JpegContext* c, bool fastUpsampling) {
  if (setjmp(c->jump)) return false;
  jpeg_read_header(&c->cinfo, TRUE);
  c->cinfo.do_fancy_upsampling = fastUpsampling ? FALSE : TRUE;
  c->cinfo.dct_method = JDCT_FLOAT;
  if (c->cinfo.out_color_space != JCS_GRAYSCALE) c->cinfo.out_color_space = JCS_EXT_BGRX;
  return true;
}

// Reads every scan line into rows (each at least width x output components bytes). With
// greyLine set, grey lines go through it and are widened to 4-byte pixels.
bool ReadRows(JpegContext* c, uint8_t** rows, JDIMENSION width, JDIMENSION height,
              uint8_t* greyLine) {
  if (setjmp(c->jump)) return false;
  jpeg_start_decompress(&c->cinfo);
  j_decompress_ptr d = &c->cinfo;
  // The rows were made for the header's size and component count.
  if (d->output_width != width || d->output_height != height ||
      d->output_components != (d->out_color_space == JCS_GRAYSCALE ? 1 : 4)) {
    ERREXIT(d, JERR_CONVERSION_NOTIMPL);
  }
  while (d->output_scanline < height) {
    JDIMENSION line = d->output_scanline;
    if (greyLine != nullptr) {
      JSAMPROW target = greyLine;
      if (jpeg_read_scanlines(d, &target, 1) != 1) break;
      uint8_t* out = rows[line];
      for (JDIMENSION x = 0; x < width; ++x) {
        out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = greyLine[x];
        out[4 * x + 3] = 255;
      }
    } else if (jpeg_read_scanlines(d, rows + line, height - line) == 0) {
      break;
    }
  }
  jpeg_finish_decompress(d);
  return true;
}

// Releases the library's state on every way out of DecodeBody.
struct ContextGuard {
  JpegContext* context;
  bool created = false;
  ~ContextGuard() {
    if (created) jpeg_destroy_decompress(&context->cinfo);
  }
};

}  // namespace

void CJPEGDecoder::DecodeBody(CBmp& bmp, std::unique_ptr<RgbQuad[]>&, int& bppInOut,
                              CDataSource& source) {
  auto context = std::make_unique<JpegContext>();
  JpegContext* c = context.get();
  std::span<const uint8_t> data = source.Rest();
  c->data = data.data();
  c->size = data.size();
  Setup(c);
  ContextGuard guard{c};

  auto fail = [&] {
    std::string text = std::string(c->message) + "\n";
    RaiseError(textexception::kUnsupported, text);
  };
  if (!Create(c)) fail();
  guard.created = true;
  if (!ReadHeader(c, fastUpsampling_)) fail();

  const int width = static_cast<int>(c->cinfo.image_width);
  const int height = static_cast<int>(c->cinfo.image_height);
  if (jpeg_has_multiple_scans(&c->cinfo)) {
    // Every coefficient of the picture waits for the last scan: 128 bytes a block, more than
    // the picture itself at full chroma, and the library would take it without asking.
    uint64_t bytes = 0;
    for (int i = 0; i < c->cinfo.num_components; ++i) {
      const jpeg_component_info& comp = c->cinfo.comp_info[i];
      bytes += uint64_t(comp.width_in_blocks) * comp.height_in_blocks * sizeof(JBLOCK);
    }
    CDecodeBudget budget(GetLimits());
    budget.Reserve(bytes, "JPEG decoder: coefficients of a progressive picture");
  }
  std::unique_ptr<uint8_t[]> greyLine;
  if (c->cinfo.out_color_space == JCS_GRAYSCALE) {
    ChooseTargetDepth(8, bppInOut);
    // A grey picture is 8 bits unless 32 are asked for.
    if (bppInOut != 32) bppInOut = 8;
    CreateBitmap(bmp, width, height, bppInOut, false, "JPEG decoder");
    if (bppInOut == 32) greyLine = std::make_unique<uint8_t[]>(size_t(width));
  } else {
    bppInOut = 32;
    CreateBitmap(bmp, width, height, 32, false, "JPEG decoder");
  }

  if (!ReadRows(c, bmp.GetRowTable(), c->cinfo.image_width, c->cinfo.image_height,
                greyLine.get())) {
    jpeg_abort_decompress(&c->cinfo);
    fail();
  }
}
