#include "imaging/core/global_block.h"

#include <cstring>
#include <new>

#include "imaging/core/memory_exception.h"

namespace {

std::unique_ptr<uint8_t[]> AllocateZeroed(size_t size) {
  if (size == 0) return nullptr;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size]());
  if (!data) throw CMemoryException();
  return data;
}

}  // namespace

CGlobalBlock::CGlobalBlock(size_t size) : data_(AllocateZeroed(size)), size_(size) {}

CGlobalBlock::CGlobalBlock(const void* data, size_t size) : CGlobalBlock(size) {
  if (size != 0) std::memcpy(data_.get(), data, size);
}

void CGlobalBlock::Reallocate(size_t size) {
  // Allocate first: a failure leaves the old block in place.
  data_ = AllocateZeroed(size);
  size_ = size;
}

void CGlobalBlock::Free() {
  data_.reset();
  size_ = 0;
}
