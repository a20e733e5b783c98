// Text converters inside the test process, for the Word importer's tests.
// A test installs a "library" at a path with a script saying what its entry
// points do; memory blocks and events are the host's own (the Linux host's,
// or the Windows host's in a Windows build), so the handover between the
// threads is the real one. Entry points are plain
// functions, one set per library slot, that find their script through the
// one library object in use.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#if defined(_WIN32)
#include "hosts/windows/windows_text_converters.h"
#else
#include "hosts/linux/dl_text_converters.h"
#endif

namespace vellora::testing {

#if defined(_WIN32)
using HostTextConverters = win32::WindowsTextConverterLibrary;
#else
using HostTextConverters = linux_host::DlTextConverterLibrary;
#endif

struct ConverterScript {
  std::int16_t check_answer = 1;              // what IsFormatCorrect32 answers
  std::string rtf;                            // what ForeignToRtf32 delivers
  std::vector<std::int32_t> pieces = {8192};  // byte counts, repeated; a 0 hands over nothing
  int fail_after_pieces = -1;                 // fails after this many pieces (0: at once); -1 never
  bool has_check = true;                      // exports IsFormatCorrect32
  std::int32_t last_callback_answer = 0;      // what the output callback last answered
};

class FakeConverters : public HostTextConverters {
 public:
  static constexpr int kSlots = 4;
  static constexpr std::size_t kBufferBytes = 8192;  // the shared buffer the importer hands over

  FakeConverters() { instance_.store(this); }
  ~FakeConverters() override { instance_.store(nullptr); }

  // Makes `path` a converter library that follows `script`.
  void install(const std::string& path, ConverterScript script) {
    const int slot = static_cast<int>(paths_.size());
    paths_[path] = slot;
    scripts_[slot] = std::move(script);
  }
  const ConverterScript& script(const std::string& path) { return scripts_[paths_.at(path)]; }

  ModuleHandle load(const std::string& path) override {
    log("load " + path);
    const auto found = paths_.find(path);
    if (found == paths_.end()) return 0;
    ++loaded_;
    return static_cast<ModuleHandle>(found->second + 1);
  }
  void* resolve(ModuleHandle library, const char* name) override {
    const int slot = static_cast<int>(library) - 1;
    return slot_entry(slot, name);
  }
  void free(ModuleHandle library) override {
    log("free " + std::to_string(library));
    --loaded_;
  }

  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  int libraries_loaded() const { return loaded_; }
  // The output callback the last conversion was given.
  static ConverterOutput last_output() { return last_output_.load(); }
  // The file name each conversion was asked for, in order.
  std::vector<std::string> converted_files() {
    std::lock_guard lock(mutex_);
    return converted_;
  }

 private:
  void log(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }

  static std::string string_in(GlobalHandle block) {
    FakeConverters& self = *instance_.load();
    const char* text = static_cast<const char*>(self.lock(block));
    std::string out = text != nullptr ? text : "";
    self.unlock(block);
    return out;
  }

  template <int Slot>
  static std::int32_t VELLORA_CONVERTER_CALL init(void*, char* application) {
    instance_.load()->log(std::string("init ") + application);
    return 0;
  }
  template <int Slot>
  static std::int16_t VELLORA_CONVERTER_CALL check(GlobalHandle file, GlobalHandle) {
    instance_.load()->log("check " + std::to_string(Slot) + " " + string_in(file));
    return instance_.load()->scripts_[Slot].check_answer;
  }
  template <int Slot>
  static std::int16_t VELLORA_CONVERTER_CALL convert(GlobalHandle file, void*, GlobalHandle buffer, GlobalHandle,
                                                     GlobalHandle, ConverterOutput output) {
    FakeConverters& self = *instance_.load();
    ConverterScript& script = self.scripts_[Slot];
    last_output_.store(output);
    {
      std::lock_guard lock(self.mutex_);
      self.converted_.push_back(string_in(file));
    }
    std::size_t at = 0;
    int pieces = 0;
    for (std::size_t next = 0; at < script.rtf.size() || next == 0; ++next) {
      if (pieces == script.fail_after_pieces) return 1;
      // A count of 0 or less hands nothing over; one above the buffer's
      // size is reported as it is once the buffer is full, to see it cut.
      const std::int32_t wanted = script.pieces[next % script.pieces.size()];
      const std::size_t count =
          wanted <= 0 ? 0 : std::min({static_cast<std::size_t>(wanted), kBufferBytes, script.rtf.size() - at});
      auto* bytes = static_cast<char*>(self.lock(buffer));
      std::memcpy(bytes, script.rtf.data() + at, count);
      self.unlock(buffer);
      at += count;
      ++pieces;
      const bool is_full = count == kBufferBytes;
      const std::int32_t reported = wanted <= 0 || is_full ? wanted : static_cast<std::int32_t>(count);
      script.last_callback_answer = output(reported, 0);
      if (script.last_callback_answer != 0) return 2;
      if (script.rtf.empty()) break;
    }
    return 0;
  }

  template <int Slot>
  static void* entry(const char* name) {
    const ConverterScript& script = instance_.load()->scripts_[Slot];
    const std::string_view wanted = name;
    if (wanted == kInitConverterName) return reinterpret_cast<void*>(&init<Slot>);
    if (wanted == kIsFormatCorrectName) return script.has_check ? reinterpret_cast<void*>(&check<Slot>) : nullptr;
    if (wanted == kForeignToRtfName) return reinterpret_cast<void*>(&convert<Slot>);
    return nullptr;
  }
  static void* slot_entry(int slot, const char* name) {
    switch (slot) {
      case 0: return entry<0>(name);
      case 1: return entry<1>(name);
      case 2: return entry<2>(name);
      case 3: return entry<3>(name);
      default: return nullptr;
    }
  }

  static inline std::atomic<FakeConverters*> instance_{nullptr};
  static inline std::atomic<ConverterOutput> last_output_{nullptr};
  std::map<std::string, int> paths_;
  ConverterScript scripts_[kSlots];
  std::mutex mutex_;
  std::vector<std::string> calls_;
  std::vector<std::string> converted_;
  std::atomic<int> loaded_{0};
};

}  // namespace vellora::testing
