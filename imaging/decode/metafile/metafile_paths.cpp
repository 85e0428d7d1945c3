// Path brackets of the metafile canvas: figures recorded between the begin and end records,
// then filled, stroked or both.
#include "imaging/decode/metafile/metafile_canvas.h"

namespace metafile {

void CMetafileCanvas::BeginPath() {
  recordingPath_ = true;
  cairo_new_path(cr_);
}

void CMetafileCanvas::EndPath() {
  if (!recordingPath_) return;
  recordingPath_ = false;
  if (path_ != nullptr) cairo_path_destroy(path_);
  cairo_matrix_t saved;
  cairo_get_matrix(cr_, &saved);
  cairo_identity_matrix(cr_);  // keep the path in device coordinates
  path_ = cairo_copy_path(cr_);
  cairo_set_matrix(cr_, &saved);
  cairo_new_path(cr_);
}

void CMetafileCanvas::CloseFigure() {
  if (recordingPath_) cairo_close_path(cr_);
}

void CMetafileCanvas::AbortPath() {
  recordingPath_ = false;
  cairo_new_path(cr_);
  if (path_ != nullptr) cairo_path_destroy(path_);
  path_ = nullptr;
}

void CMetafileCanvas::FillPath() {
  if (path_ == nullptr) return;
  cairo_identity_matrix(cr_);
  cairo_new_path(cr_);
  cairo_append_path(cr_, path_);
  FillCurrentPath();
  cairo_new_path(cr_);
  AbortPath();
}

void CMetafileCanvas::StrokePath() {
  if (path_ == nullptr) return;
  cairo_identity_matrix(cr_);
  cairo_new_path(cr_);
  cairo_append_path(cr_, path_);
  ApplyTransform();
  StrokeCurrentPath();
  cairo_new_path(cr_);
  AbortPath();
}

void CMetafileCanvas::StrokeAndFillPath() {
  if (path_ == nullptr) return;
  cairo_identity_matrix(cr_);
  cairo_new_path(cr_);
  cairo_append_path(cr_, path_);
  ApplyTransform();
  FillCurrentPath();
  StrokeCurrentPath();
  cairo_new_path(cr_);
  AbortPath();
}

}  // namespace metafile
