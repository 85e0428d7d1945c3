// CMemoryException: raised when the bitmap classes cannot allocate a pixel block, or when a
// requested size cannot be represented at all. Derives from std::bad_alloc so that any
// handler for allocation failure also catches it.
#pragma once

#include <new>

#include "imaging/core/object.h"

class CMemoryException : public CObject, public std::bad_alloc {
  LUMORA_RUNTIME_CLASS(CMemoryException, CObject)

public:
  const char* what() const noexcept override { return "Out of memory."; }
};
