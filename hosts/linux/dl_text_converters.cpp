// DlTextConverterLibrary: dlopen for converters, libvellora-memory for the
// blocks passed to them, and a manual-reset event on a condition variable.
#include "hosts/linux/dl_text_converters.h"

#include <dlfcn.h>

#include <condition_variable>
#include <mutex>

#include "vellora/converter.h"

namespace vellora::linux_host {

namespace {

class ManualResetEvent : public ConverterEvent {
 public:
  void set() override {
    {
      const std::lock_guard guard(mutex_);
      is_set_ = true;
    }
    changed_.notify_all();
  }
  void reset() override {
    const std::lock_guard guard(mutex_);
    is_set_ = false;
  }
  void wait() override {
    std::unique_lock guard(mutex_);
    changed_.wait(guard, [this] { return is_set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool is_set_ = false;
};

}  // namespace

ModuleHandle DlTextConverterLibrary::load(const std::string& path) {
  if (path.empty()) return 0;
  // A name without a slash would be looked up in the library search path,
  // not where the registry says: it names a file in the current folder.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  return reinterpret_cast<ModuleHandle>(::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL));
}

void* DlTextConverterLibrary::resolve(ModuleHandle library, const char* name) {
  if (library == 0 || name == nullptr) return nullptr;
  return ::dlsym(reinterpret_cast<void*>(library), name);
}

void DlTextConverterLibrary::free(ModuleHandle library) {
  if (library != 0) ::dlclose(reinterpret_cast<void*>(library));
}

GlobalHandle DlTextConverterLibrary::allocate(std::size_t bytes) { return vellora_global_alloc(bytes); }

void* DlTextConverterLibrary::lock(GlobalHandle block) { return vellora_global_lock(block); }

void DlTextConverterLibrary::unlock(GlobalHandle block) { vellora_global_unlock(block); }

void DlTextConverterLibrary::release(GlobalHandle block) { vellora_global_free(block); }

std::unique_ptr<ConverterEvent> DlTextConverterLibrary::create_event() { return std::make_unique<ManualResetEvent>(); }

}  // namespace vellora::linux_host
