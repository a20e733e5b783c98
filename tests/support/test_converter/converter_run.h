// Test side of a text converter: loads one through a TextConverterLibrary
// and calls it as the Word importer does (file names in string blocks, one
// shared buffer, the output callback), keeping every piece it delivers.
// A call whose entry point the library lacks answers -100.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text_converter.h"

namespace vellora::testing {

struct Delivery {
  std::int16_t result = 0;
  std::string rtf;                     // the pieces joined
  std::vector<std::int32_t> counts;    // byte count of each callback
  std::vector<std::int32_t> percents;  // percent of each callback
  bool has_oversized_piece = false;    // a count above the buffer's size
};

class LoadedConverter {
 public:
  LoadedConverter(TextConverterLibrary& library, const std::string& path)
      : library_(library), module_(library.load(path)) {}
  ~LoadedConverter() { library_.free(module_); }
  LoadedConverter(const LoadedConverter&) = delete;
  LoadedConverter& operator=(const LoadedConverter&) = delete;

  bool is_loaded() const { return module_ != 0; }
  void* entry(const char* name) const { return library_.resolve(module_, name); }

  std::int32_t init() const {
    auto* init = reinterpret_cast<InitConverterEntry>(entry(kInitConverterName));
    return init == nullptr ? -100 : init(nullptr, nullptr);
  }

  std::int16_t check(const std::string& file) const {
    auto* check = reinterpret_cast<IsFormatCorrectEntry>(entry(kIsFormatCorrectName));
    if (check == nullptr) return -100;
    const GlobalHandle name = string_block(file);
    const GlobalHandle class_name = string_block("");
    const std::int16_t answer = check(name, class_name);
    library_.release(class_name);
    library_.release(name);
    return answer;
  }

  // The callback asks to stop at call `refuse_at_call` (1-based) when it is
  // positive.
  Delivery convert(const std::string& file, std::size_t buffer_bytes = 8192, int refuse_at_call = 0) const {
    Delivery delivery;
    auto* convert = reinterpret_cast<ForeignToRtfEntry>(entry(kForeignToRtfName));
    if (convert == nullptr) {
      delivery.result = -100;
      return delivery;
    }
    const GlobalHandle name = string_block(file);
    const GlobalHandle class_name = string_block("");
    const GlobalHandle buffer = library_.allocate(buffer_bytes);
    Collector collector{.library = library_,
                        .buffer = buffer,
                        .buffer_bytes = buffer_bytes,
                        .refuse_at_call = refuse_at_call,
                        .delivery = delivery};
    current_collector() = &collector;
    delivery.result = convert(name, nullptr, buffer, class_name, nullptr, &collect);
    current_collector() = nullptr;
    library_.release(buffer);
    library_.release(class_name);
    library_.release(name);
    return delivery;
  }

  GlobalHandle string_block(const std::string& text) const {
    const GlobalHandle block = library_.allocate(text.size() + 1);
    std::memcpy(library_.lock(block), text.c_str(), text.size() + 1);
    library_.unlock(block);
    return block;
  }

 private:
  struct Collector {
    TextConverterLibrary& library;
    GlobalHandle buffer;
    std::size_t buffer_bytes;
    int refuse_at_call;
    Delivery& delivery;
  };
  // The callback has no context argument; conversions in other threads
  // each have their own collector.
  static Collector*& current_collector() {
    thread_local Collector* collector = nullptr;
    return collector;
  }
  static std::int32_t collect(std::int32_t byte_count, std::int32_t percent) {
    Collector& c = *current_collector();
    c.delivery.counts.push_back(byte_count);
    c.delivery.percents.push_back(percent);
    if (byte_count < 0 || static_cast<std::size_t>(byte_count) > c.buffer_bytes) {
      c.delivery.has_oversized_piece = true;
      return 1;
    }
    const auto* bytes = static_cast<const char*>(c.library.lock(c.buffer));
    c.delivery.rtf.append(bytes, static_cast<std::size_t>(byte_count));
    c.library.unlock(c.buffer);
    return c.refuse_at_call > 0 && static_cast<int>(c.delivery.counts.size()) == c.refuse_at_call ? 1 : 0;
  }

  TextConverterLibrary& library_;
  ModuleHandle module_;
};

}  // namespace vellora::testing
