#include "imaging/core/bitmap_resources.h"

#include <map>
#include <mutex>

namespace bitmapresources {
namespace {

constexpr size_t kFileHeaderSize = 14;

struct Registry {
  std::mutex mutex;
  std::map<int, std::shared_ptr<const std::vector<uint8_t>>> bitmaps;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void Register(int id, const void* data, size_t size) {
  auto bytes = static_cast<const uint8_t*>(data);
  if (size >= kFileHeaderSize && bytes[0] == 'B' && bytes[1] == 'M') {
    bytes += kFileHeaderSize;
    size -= kFileHeaderSize;
  }
  auto copy = std::make_shared<const std::vector<uint8_t>>(bytes, bytes + size);
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  registry.bitmaps[id] = std::move(copy);
}

void Unregister(int id) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  registry.bitmaps.erase(id);
}

std::shared_ptr<const std::vector<uint8_t>> Find(int id) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  const auto it = registry.bitmaps.find(id);
  return it != registry.bitmaps.end() ? it->second : nullptr;
}

}  // namespace bitmapresources
