// A picture as a camera delivers it: a scene of soft-edged shapes on an unevenly lit
// background, some fine texture, chroma at half resolution (as I420 and YUY2 cameras send
// it) and sensor noise on every sample. Deterministic, so runs compare.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace bench {

// width x height pixels, 3 bytes each in blue, green, red order, top-down, rows packed.
inline std::vector<uint8_t> CameraPicture(int width, int height) {
  const size_t w = size_t(width), h = size_t(height), cw = (w + 1) / 2;
  std::vector<float> luma(w * h), u(cw * ((h + 1) / 2)), v(u.size());
  uint32_t seed = 1;
  auto uniform = [&] {
    seed = seed * 1664525u + 1013904223u;
    return float(seed >> 8) / 16777216.0f;
  };
  auto noise = [&] { return (uniform() + uniform() + uniform() + uniform() - 2.0f) * 1.7f; };
  struct Shape {
    float x, y, r, luma, u, v;
  };
  std::vector<Shape> shapes;
  for (int i = 0; i < 14; ++i)
    shapes.push_back({uniform() * float(w), uniform() * float(h), 60 + uniform() * 300,
                      30 + uniform() * 200, uniform() * 100 - 50, uniform() * 100 - 50});
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      float l = 90 + 60 * float(x) / float(w) + 30 * float(y) / float(h), cu = 0, cv = 0;
      for (const Shape& s : shapes) {
        const float a = std::clamp((s.r - std::hypot(float(x) - s.x, float(y) - s.y)) / 6, 0.f, 1.f);
        l += (s.luma - l) * a;
        cu += (s.u - cu) * a;
        cv += (s.v - cv) * a;
      }
      if (x > w / 2) l += 8 * std::sin(float(x) * 0.05f) * std::sin(float(y) * 0.031f);
      luma[y * w + x] = l + 2.5f * noise();
      if (x % 2 == 0 && y % 2 == 0) {
        u[y / 2 * cw + x / 2] = cu + noise();
        v[y / 2 * cw + x / 2] = cv + noise();
      }
    }
  auto byte = [](float f) { return uint8_t(std::clamp(std::lround(f), 0L, 255L)); };
  std::vector<uint8_t> bgr(w * h * 3);
  for (size_t y = 0; y < h; ++y)
    for (size_t x = 0; x < w; ++x) {
      const float l = luma[y * w + x], cu = u[y / 2 * cw + x / 2], cv = v[y / 2 * cw + x / 2];
      uint8_t* p = &bgr[(y * w + x) * 3];
      p[0] = byte(l + 1.772f * cu);
      p[1] = byte(l - 0.344f * cu - 0.714f * cv);
      p[2] = byte(l + 1.402f * cv);
    }
  return bgr;
}

}  // namespace bench
