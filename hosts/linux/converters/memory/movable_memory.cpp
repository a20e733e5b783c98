// libvellora-memory: the movable global memory of the text-converter
// interface. The conduit and every converter link this one shared library,
// so a block allocated on one side can be locked on the other. A handle is
// the address of a block record and is only ever dereferenced after it is
// found in the table of live blocks, so a NULL, stale or foreign handle is
// refused instead of crashing. One mutex guards the table and every lock
// count: the conduit's thread and the converter thread share blocks.
#include "vellora/converter.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

// Converter strings and buffers are kilobytes; a request beyond this is a
// corrupt size, refused before it reaches the allocator.
constexpr std::size_t kMaxBlockBytes = std::size_t{1} << 30;

struct Block {
  std::size_t size_bytes = 0;
  std::size_t lock_count = 0;
  void* bytes = nullptr;  // never null, even for an empty block
};

struct LiveBlocks {
  std::mutex mutex;
  std::unordered_set<Block*> blocks;

  // The block behind a handle, or null; call with `mutex` held.
  Block* find(VelloraGlobal handle) {
    if (handle == nullptr) return nullptr;
    const auto it = blocks.find(static_cast<Block*>(handle));
    return it == blocks.end() ? nullptr : *it;
  }
};

// Never destroyed: a converter may still free its blocks while the process
// runs its exit handlers, after this library's statics would be gone.
LiveBlocks& live_blocks() {
  static LiveBlocks* const live = new LiveBlocks;
  return *live;
}

}  // namespace

extern "C" {

VelloraGlobal vellora_global_alloc(size_t bytes) {
  if (bytes > kMaxBlockBytes) return nullptr;
  // An empty block still gets one byte, so locking it gives a pointer that
  // tells success from failure.
  void* data = std::calloc(bytes == 0 ? 1 : bytes, 1);
  if (data == nullptr) return nullptr;
  Block* block = new (std::nothrow) Block{.size_bytes = bytes, .lock_count = 0, .bytes = data};
  if (block == nullptr) {
    std::free(data);
    return nullptr;
  }
  LiveBlocks& live = live_blocks();
  try {
    const std::lock_guard guard(live.mutex);
    live.blocks.insert(block);
  } catch (...) {
    delete block;
    std::free(data);
    return nullptr;
  }
  return block;
}

void* vellora_global_lock(VelloraGlobal handle) {
  LiveBlocks& live = live_blocks();
  const std::lock_guard guard(live.mutex);
  Block* block = live.find(handle);
  if (block == nullptr) return nullptr;
  ++block->lock_count;
  return block->bytes;
}

int vellora_global_unlock(VelloraGlobal handle) {
  LiveBlocks& live = live_blocks();
  const std::lock_guard guard(live.mutex);
  Block* block = live.find(handle);
  if (block == nullptr || block->lock_count == 0) return 0;
  --block->lock_count;
  return block->lock_count != 0 ? 1 : 0;
}

VelloraGlobal vellora_global_free(VelloraGlobal handle) {
  Block* block = nullptr;
  {
    LiveBlocks& live = live_blocks();
    const std::lock_guard guard(live.mutex);
    block = live.find(handle);
    if (block == nullptr || block->lock_count != 0) return handle;
    live.blocks.erase(block);
  }
  std::free(block->bytes);
  delete block;
  return nullptr;
}

size_t vellora_global_size(VelloraGlobal handle) {
  LiveBlocks& live = live_blocks();
  const std::lock_guard guard(live.mutex);
  const Block* block = live.find(handle);
  return block == nullptr ? 0 : block->size_bytes;
}

}  // extern "C"
