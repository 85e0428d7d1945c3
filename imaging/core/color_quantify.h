// CColorQuantify: computes a palette of at most 256 colours for a true-colour picture.
//
// Input: the caller's pixels, 3 bytes each in the order blue, green, red (not owned; they
// must live until the computation ends). Pictures under 2400 bytes (800 pixels) get an exact
// count of their distinct colours (black and white first, then the most frequent); larger
// ones a 256-neuron self-organising map trained on a sample of the pixels. Palette colours
// are packed blue | green << 8 | red << 16. The quantiser does not map pixels.
// A failed table allocation raises CTextException 10 "Out of memory!".
//
// The exact method fills the palette entries past its colour count with copies of entry 0,
// so a lowest-index-wins nearest-colour search never picks them.
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
  CColorQuantify(const CColorQuantify&) = delete;
  CColorQuantify& operator=(const CColorQuantify&) = delete;

  // Level as an unsigned byte: 0-1 sample 30 / 100 cycles, 2: 1 / 100, 3: 30 / 500, 4+: 1 / 500.
  void SetQuality(uint8_t level);
  void Quantize(int sampleFactor, int cycles);

  // 256 packed colours when computed, else nullptr. `count` receives 256 for the neural
  // method, else the number of colours the exact method found.
  const uint32_t* GetPalette(int16_t* count = nullptr) const;

private:
  struct Network;

  void QuantizeExact();
  void QuantizeNeural();
  void Learn();
  int FindWinningNeuron(int blue, int green, int red);
  void MoveNeuron(int alpha, int j, int blue, int green, int red);
  void MoveNeighbours(int rad, int j, int blue, int green, int red);
  void AllocatePalette();

  bool computed_ = false;
  bool networkUsed_ = false;
  int cycles_ = 0;
  size_t length_ = 0;  // bytes of whole pixels
  int sampleFactor_ = 0;
  int colourCount_ = 0;
  const uint8_t* pixels_ = nullptr;
  std::unique_ptr<uint32_t[]> palette_;
  std::unique_ptr<Network> network_;
};
