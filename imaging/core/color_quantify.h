// CColorQuantify: computes a palette of at most 256 colours for a true-colour picture.
//
// Input: the caller's pixels, 3 bytes each in the order blue, green, red (not owned; they
// must live until the computation ends). Pictures under 2400 bytes (800 pixels) get an exact
// count of their distinct colours (black and white first, then the most frequent); larger
// ones a 256-neuron self-organising map trained on a sample of the pixels. Palette colours
// are packed blue | green << 8 | red << 16. The quantiser does not map pixels.
// A failed table allocation raises CTextException 10 "Out of memory!".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "imaging/core/object.h"

class CColorQuantify : public CObject {
  LUMORA_RUNTIME_CLASS(CColorQuantify, CObject)

public:
  CColorQuantify(const uint8_t* pixels, size_t byteCount);
  ~CColorQuantify() override;

  // Level as an unsigned byte: 0-1 sample 30 / 100 cycles, 2: 1 / 100, 3: 30 / 500, 4+: 1 / 500.
  void SetQuality(uint8_t level);
  void Quantize(int sampleFactor, int cycles);

  // 256 packed colours when computed, else nullptr. `count` receives 256 for the neural
  // method, else the number of colours the exact method found.
  const uint32_t* GetPalette(int16_t* count = nullptr) const;
};
