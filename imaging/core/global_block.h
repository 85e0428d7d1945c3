// CGlobalBlock: a movable memory block that knows its allocated size, standing in for the
// clipboard-style global memory handle through which DIB blocks are handed around.
// A default-constructed block has size 0 (no memory); the bitmap refuses to read one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CGlobalBlock {
public:
  CGlobalBlock() = default;
  explicit CGlobalBlock(size_t size);  // zero-initialised; throws CMemoryException
  CGlobalBlock(const void* data, size_t size);

  CGlobalBlock(CGlobalBlock&&) noexcept = default;
  CGlobalBlock& operator=(CGlobalBlock&&) noexcept = default;
  CGlobalBlock(const CGlobalBlock&) = delete;
  CGlobalBlock& operator=(const CGlobalBlock&) = delete;

  size_t Size() const { return size_; }
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }

  // New size, zero-initialised; the old contents are dropped. Throws CMemoryException.
  void Reallocate(size_t size);
  void Free();

private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};
