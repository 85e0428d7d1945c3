#include "imaging/core/color_quantify.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include "imaging/core/text_exception.h"

namespace {

constexpr size_t kNeuralMinBytes = 2400;  // 800 pixels and more are learnt, not counted
constexpr int kNetSize = 256;
constexpr uint32_t kWhite = 0xFFFFFF;

// Fixed-point scales of the self-organising map.
constexpr int kNetBiasShift = 4;         // colour components are held x 16 while learning
constexpr int kInitFrequency = 256;      // 1/256 in units of 1/65536
constexpr int kBiasShift = 12;           // bias (x 65536) to distance units (x 16)
constexpr int kBetaShift = 10;           // frequency decays by 1/1024 per sample
constexpr int kGammaShift = 10;
constexpr int kBeta = 64;                // 1/1024 of 65536
constexpr int kBetaGamma = 65536;
constexpr int kInitAlpha = 1024;         // learning rate x 1024
constexpr int kInitRadius = 2048;        // 32 neurons x 64
constexpr int kRadiusBiasShift = 6;
constexpr int kRadiusDecrease = 30;
constexpr int kRadBias = 256;
constexpr int kAlphaRadBias = 262144;    // 1024 x 256: scale of the neighbourhood weights
constexpr int kMaxRad = kInitRadius >> kRadiusBiasShift;
constexpr int kActiveFrequency = 1 << kBetaShift;  // below it a frequency no longer decays

// Sample steps through the picture: primes near 500, the first that does not divide the
// length, so the samples do not fall into a pattern of the picture's rows.
constexpr size_t kPrimes[] = {499, 491, 487};
constexpr size_t kLastPrime = 503;

template <class T>
std::unique_ptr<T[]> AllocateTable(size_t count) {
  T* table = new (std::nothrow) T[count == 0 ? 1 : count];
  if (table == nullptr) throw CTextException(textexception::kNoMemory, "Out of memory!");
  return std::unique_ptr<T[]>(table);
}

uint32_t Pack(const uint8_t* pixel) {
  return pixel[0] | static_cast<uint32_t>(pixel[1]) << 8 | static_cast<uint32_t>(pixel[2]) << 16;
}

// Eight 16-bit lanes: the winner search compares 256 neurons per sample, and every value
// it handles fits 16 bits (see Network), so SSE2-sized vectors take eight at a time.
using V8 = int16_t __attribute__((vector_size(16)));

V8 Load(const int16_t* p) {
  V8 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

V8 Splat(int x) {
  const auto s = static_cast<int16_t>(x);
  return V8{s, s, s, s, s, s, s, s};
}

V8 Abs(V8 v) {
  const V8 sign = v >> 15;
  return (v ^ sign) - sign;
}

// Per lane: where `value` is strictly below `best`, it and its index replace them, so each
// lane keeps the first (lowest) index of its minimum.
void KeepSmaller(V8 value, V8 index, V8& best, V8& bestIndex) {
  const V8 smaller = value < best;
  best = (value & smaller) | (best & ~smaller);
  bestIndex = (index & smaller) | (bestIndex & ~smaller);
}

int LowestIndexOfMinimum(V8 best, V8 bestIndex) {
  int value = best[0];
  int index = bestIndex[0];
  for (int lane = 1; lane < 8; ++lane) {
    if (best[lane] < value || (best[lane] == value && bestIndex[lane] < index)) {
      value = best[lane];
      index = bestIndex[lane];
    }
  }
  return index;
}

}  // namespace

// The map's neurons, one array per component so the winner search runs on whole vectors.
// Value ranges (they decide the 16-bit storage and the 32-bit products):
// - components stay within 0..4080 (255 x 16): every move goes part of the way toward a
//   pixel component in the same range, truncated toward zero, so never past it;
// - each step changes bias by -1024 times the change of frequency, so bias is always
//   -1024 x (frequency - 256); frequency stays within 0..65536 (decay never goes below 0,
//   and +64 - frequency/1024 stops growing at 65536), hence bias >> 12 lies in -16320..64
//   and distance - (bias >> 12) in -64..28560;
// - weights are at most 1024 x 256, so weight x (component difference) < 2^31.
struct CColorQuantify::Network {
  alignas(16) int16_t blue[kNetSize];
  alignas(16) int16_t green[kNetSize];
  alignas(16) int16_t red[kNetSize];
  alignas(16) int16_t biasTerm[kNetSize];  // bias >> 12, as the competition uses it
  int32_t bias[kNetSize];
  int32_t frequency[kNetSize];
  int32_t radiusPowers[kMaxRad];
  // Neurons whose frequency is at least 1024, the only ones whose frequency and bias still
  // change when they do not win; the rest keep theirs, so the search skips them.
  uint64_t active[kNetSize / 64];
};

CColorQuantify::CColorQuantify(const uint8_t* pixels, size_t byteCount)
    : length_(byteCount / 3 * 3), pixels_(pixels) {}

CColorQuantify::~CColorQuantify() { pixels_ = nullptr; }

void CColorQuantify::SetQuality(uint8_t level) {
  switch (level) {
    case 0:
    case 1: Quantize(30, 100); break;
    case 2: Quantize(1, 100); break;
    case 3: Quantize(30, 500); break;
    default: Quantize(1, 500); break;
  }
}

void CColorQuantify::Quantize(int sampleFactor, int cycles) {
  // Factors and cycles below 1 would divide by zero; they mean "every pixel" and "one cycle".
  sampleFactor = std::max(sampleFactor, 1);
  cycles = std::max(cycles, 1);
  if (computed_ && sampleFactor == sampleFactor_ && cycles == cycles_) return;
  computed_ = false;
  sampleFactor_ = sampleFactor;
  cycles_ = cycles;
  if (length_ >= kNeuralMinBytes) {
    networkUsed_ = true;
    QuantizeNeural();
  } else {
    networkUsed_ = false;
    QuantizeExact();
  }
  computed_ = true;
}

const uint32_t* CColorQuantify::GetPalette(int16_t* count) const {
  if (count != nullptr) *count = static_cast<int16_t>(networkUsed_ ? kNetSize : colourCount_);
  return computed_ ? palette_.get() : nullptr;
}

void CColorQuantify::AllocatePalette() {
  if (!palette_) palette_ = AllocateTable<uint32_t>(kNetSize);
}

void CColorQuantify::QuantizeExact() {
  const size_t n = length_ / 3;
  // Colour numbers run up to n + 1 (black and white come first), so beyond the palette's
  // 256 the overflow needs n - 254 entries.
  auto overflow = AllocateTable<uint32_t>(n > 254 ? n - 254 : 1);
  auto counts = AllocateTable<uint8_t>(n);
  std::fill(counts.get(), counts.get() + n, uint8_t{0});
  AllocatePalette();
  uint32_t* palette = palette_.get();
  auto colour = [&](size_t k) -> uint32_t& { return k < 256 ? palette[k] : overflow[k - 256]; };

  palette[0] = 0;
  palette[1] = kWhite;
  size_t c = 2;
  for (size_t p = 0; p < n; ++p) {
    const uint32_t packed = Pack(pixels_ + 3 * p);
    const size_t limit = std::min(c, n);  // colours from number n on have no count
    size_t k = 0;
    while (k < limit && colour(k) != packed) ++k;
    if (k < limit) {
      if (counts[k] < 255) ++counts[k];
    } else {
      colour(c++) = packed;
    }
  }
  colourCount_ = static_cast<int>(c);

  if (c > 256) {
    // Black and white keep slots 0 and 1; the most frequent of the rest take 2 to 255,
    // the earlier-numbered colour winning equal counts.
    for (size_t s = 2; s < 256 && s < n; ++s) {
      size_t best = s;
      for (size_t k = s + 1; k < c && k < n; ++k) {
        if (counts[k] > counts[best]) best = k;
      }
      if (best != s) {
        std::swap(colour(best), colour(s));
        std::swap(counts[best], counts[s]);
      }
    }
    colourCount_ = 256;
  }
  // The bitmap takes all 256 entries; copies of entry 0 lose every tie to entry 0 in a
  // lowest-index-wins search, so no pixel maps to an unused entry.
  std::fill(palette + colourCount_, palette + kNetSize, palette[0]);
}

void CColorQuantify::QuantizeNeural() {
  if (!network_) {
    network_.reset(new (std::nothrow) Network);
    if (!network_) throw CTextException(textexception::kNoMemory, "Out of memory!");
  }
  AllocatePalette();
  Network& net = *network_;
  for (int i = 0; i < kNetSize; ++i) {
    const auto v = static_cast<int16_t>((i << (8 + kNetBiasShift)) / kNetSize);
    net.blue[i] = net.green[i] = net.red[i] = v;
    net.frequency[i] = kInitFrequency;
    net.bias[i] = 0;
    net.biasTerm[i] = 0;
  }
  std::fill(std::begin(net.active), std::end(net.active), uint64_t{0});

  Learn();

  for (int i = 0; i < kNetSize; ++i) {
    const uint32_t b = static_cast<uint32_t>(net.blue[i] >> kNetBiasShift) & 0xFF;
    const uint32_t g = static_cast<uint32_t>(net.green[i] >> kNetBiasShift) & 0xFF;
    const uint32_t r = static_cast<uint32_t>(net.red[i] >> kNetBiasShift) & 0xFF;
    palette_[i] = b | g << 8 | r << 16;
  }
}

void CColorQuantify::Learn() {
  Network& net = *network_;
  const int alphaDivisor = 30 + (sampleFactor_ - 1) / 3;
  const size_t samples = length_ / (3 * static_cast<size_t>(sampleFactor_));
  const size_t delta = std::max<size_t>(samples / static_cast<size_t>(cycles_), 1);

  int alpha = kInitAlpha;
  int radius = kInitRadius;
  int rad = kMaxRad;
  auto setRadiusPowers = [&] {
    for (int k = 0; k < rad; ++k) {
      net.radiusPowers[k] = alpha * (((rad * rad - k * k) * kRadBias) / (rad * rad));
    }
  };
  setRadiusPowers();

  size_t step = 3 * kLastPrime;
  for (size_t prime : kPrimes) {
    if (length_ % prime != 0) {
      step = 3 * prime;
      break;
    }
  }

  size_t position = 0;
  for (size_t i = 0; i < samples;) {
    const uint8_t* pixel = pixels_ + position;
    const int b = pixel[0] << kNetBiasShift;
    const int g = pixel[1] << kNetBiasShift;
    const int r = pixel[2] << kNetBiasShift;
    const int j = FindWinningNeuron(b, g, r);
    MoveNeuron(alpha, j, b, g, r);
    if (rad != 0) MoveNeighbours(rad, j, b, g, r);

    position += step;
    if (position >= length_) position -= length_;

    if (++i % delta == 0) {
      alpha -= alpha / alphaDivisor;
      radius -= radius / kRadiusDecrease;
      rad = radius >> kRadiusBiasShift;
      if (rad <= 1) rad = 0;
      setRadiusPowers();
    }
  }
}

int CColorQuantify::FindWinningNeuron(int blue, int green, int red) {
  Network& net = *network_;
  const V8 b = Splat(blue);
  const V8 g = Splat(green);
  const V8 r = Splat(red);
  const V8 none = Splat(INT16_MAX);  // above any distance, so lane 0's neuron always enters
  V8 bestDistance = none;
  V8 bestPosition = {};
  V8 bestBiased = none;
  V8 bestBiasedPosition = {};
  V8 index = {0, 1, 2, 3, 4, 5, 6, 7};
  for (int i = 0; i < kNetSize; i += 8) {
    const V8 distance =
        Abs(Load(net.blue + i) - b) + Abs(Load(net.green + i) - g) + Abs(Load(net.red + i) - r);
    KeepSmaller(distance, index, bestDistance, bestPosition);
    KeepSmaller(distance - Load(net.biasTerm + i), index, bestBiased, bestBiasedPosition);
    index += 8;
  }

  // Every neuron's frequency decays by 1/1024 and its bias grows by as much (x 1024); only
  // frequencies of 1024 and more change at all.
  for (int w = 0; w < kNetSize / 64; ++w) {
    for (uint64_t bits = net.active[w]; bits != 0; bits &= bits - 1) {
      const int i = w * 64 + std::countr_zero(bits);
      const int betaFrequency = net.frequency[i] >> kBetaShift;
      net.frequency[i] -= betaFrequency;
      net.bias[i] += betaFrequency << kGammaShift;
      net.biasTerm[i] = static_cast<int16_t>(net.bias[i] >> kBiasShift);
      if (net.frequency[i] < kActiveFrequency) net.active[w] &= ~(uint64_t{1} << (i & 63));
    }
  }

  const int best = LowestIndexOfMinimum(bestDistance, bestPosition);
  net.frequency[best] += kBeta;
  net.bias[best] -= kBetaGamma;
  net.biasTerm[best] = static_cast<int16_t>(net.bias[best] >> kBiasShift);
  if (net.frequency[best] >= kActiveFrequency) net.active[best / 64] |= uint64_t{1} << (best & 63);

  return LowestIndexOfMinimum(bestBiased, bestBiasedPosition);
}

void CColorQuantify::MoveNeuron(int alpha, int j, int blue, int green, int red) {
  Network& net = *network_;
  auto move = [alpha](int16_t& v, int x) {
    v = static_cast<int16_t>(v - (alpha * (v - x)) / kInitAlpha);
  };
  move(net.blue[j], blue);
  move(net.green[j], green);
  move(net.red[j], red);
}

void CColorQuantify::MoveNeighbours(int rad, int j, int blue, int green, int red) {
  Network& net = *network_;
  const int lo = std::max(j - rad, -1);
  const int hi = std::min(j + rad, kNetSize);
  auto move = [&net, blue, green, red](int n, int a) {
    net.blue[n] = static_cast<int16_t>(net.blue[n] - (a * (net.blue[n] - blue)) / kAlphaRadBias);
    net.green[n] =
        static_cast<int16_t>(net.green[n] - (a * (net.green[n] - green)) / kAlphaRadBias);
    net.red[n] = static_cast<int16_t>(net.red[n] - (a * (net.red[n] - red)) / kAlphaRadBias);
  };
  int up = j + 1;
  int down = j - 1;
  const int32_t* power = net.radiusPowers;
  while (up < hi || down > lo) {
    const int a = *++power;
    if (up < hi) move(up++, a);
    if (down > lo) move(down--, a);
  }
}
