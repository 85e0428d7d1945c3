// The program's built-in bitmaps (tool bar strips and the like), looked up by their numeric
// resource identifier. The application registers them at start-up; CWinBmp::LoadFromResource
// reads them.
//
// A resource is a packed DIB (40-byte information header, colour table, bottom-up rows). The
// bytes of a whole BMP file are accepted as well: a leading 14-byte file header (it starts with
// "BM", which no information header does) is dropped. The registry keeps its own copy and is
// safe to use from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace bitmapresources {

// Registers the bitmap under `id`, replacing any bitmap registered there before.
void Register(int id, const void* data, size_t size);
void Unregister(int id);

// The packed DIB registered under `id`, or nullptr. The bytes stay valid while the caller
// holds the pointer, even if the id is registered again meanwhile.
std::shared_ptr<const std::vector<uint8_t>> Find(int id);

}  // namespace bitmapresources
