#include "importers/word/converter_stream.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>

namespace vellora {

namespace {

// The name converters are initialised with: the conduit's, upper-cased.
constexpr std::string_view kApplicationName = "VELLORACONDUIT";
constexpr std::size_t kClassNameBytes = 256;

// The stream whose conversion runs; the output callback's only way to it.
std::atomic<ConverterStream*> current_stream{nullptr};

// Held from a stream's open until it is destroyed: a second conversion
// waits for the first instead of taking over the current-stream reference.
std::mutex& conversion_turn() {
  static std::mutex turn;
  return turn;
}

template <typename Entry>
Entry resolve_entry(TextConverterLibrary& platform, ModuleHandle library, const char* name) {
  return reinterpret_cast<Entry>(platform.resolve(library, name));
}

}  // namespace

ConverterStream::ConverterStream(TextConverterLibrary& platform, const std::string& library_path)
    : platform_(platform) {
  library_ = platform_.load(library_path);
  if (library_ == 0) return;
  const auto init = resolve_entry<InitConverterEntry>(platform_, library_, kInitConverterName);
  is_format_correct_ = resolve_entry<IsFormatCorrectEntry>(platform_, library_, kIsFormatCorrectName);
  foreign_to_rtf_ = resolve_entry<ForeignToRtfEntry>(platform_, library_, kForeignToRtfName);
  // Looked up as every host of the interface does, though only importing
  // happens here.
  (void)platform_.resolve(library_, kRtfToForeignName);
  if (init != nullptr) {
    std::string application(kApplicationName);
    init(platform_.main_window(), application.data());
  }
}

ConverterStream::~ConverterStream() {
  if (converter_.joinable()) {
    // The converter may be waiting for the buffer to be taken: read it to
    // its end so that its thread can finish.
    std::uint8_t sink[4096];
    while (read(sink, sizeof sink) != 0) {}
    converter_.join();
  }
  ConverterStream* self = this;
  current_stream.compare_exchange_strong(self, nullptr);
  if (turn_.owns_lock()) turn_.unlock();
  data_ready_.reset();
  buffer_free_.reset();
  if (library_ != 0) platform_.free(library_);
  if (file_name_ != nullptr) platform_.release(file_name_);
}

GlobalHandle ConverterStream::make_string_block(const std::string& text) {
  GlobalHandle block = platform_.allocate(2 * text.size() + 1);
  if (block == nullptr) return nullptr;
  void* bytes = platform_.lock(block);
  if (bytes == nullptr) {
    platform_.release(block);
    return nullptr;
  }
  std::memcpy(bytes, text.data(), text.size());
  platform_.unlock(block);
  return block;
}

bool ConverterStream::is_format_correct(const std::string& path) {
  // A path that does not fit the interface's buffer is refused rather than
  // cut to the name of another file.
  if (library_ == 0 || is_format_correct_ == nullptr || path.size() >= kConverterPathBytes) return false;
  GlobalHandle file = make_string_block(platform_.to_oem(path));
  GlobalHandle class_name = platform_.allocate(kClassNameBytes);
  const std::int16_t answer = file != nullptr && class_name != nullptr ? is_format_correct_(file, class_name) : 0;
  if (file != nullptr) platform_.release(file);
  if (class_name != nullptr) platform_.release(class_name);
  return answer == 1;
}

bool ConverterStream::open(const std::string& path) {
  if (library_ == 0 || converter_.joinable() || path.size() >= kConverterPathBytes) return false;
  // Characters without an OEM form become their OEM substitutes.
  const std::string name = platform_.to_ansi(platform_.to_oem(path));
  data_ready_ = platform_.create_event();
  buffer_free_ = platform_.create_event();
  if (data_ready_ == nullptr || buffer_free_ == nullptr) return false;
  if (file_name_ == nullptr) file_name_ = make_string_block(platform_.to_oem(name));
  if (file_name_ == nullptr) return false;

  turn_ = std::unique_lock<std::mutex>(conversion_turn());
  current_stream.store(this);
  shared_buffer_ = platform_.allocate(kSharedBufferBytes);
  if (shared_buffer_ == nullptr) return false;
  done_ = false;
  failed_ = false;
  bytes_available_ = 0;
  try {
    converter_ = std::thread(&ConverterStream::convert, this);
  } catch (const std::system_error&) {
    platform_.release(shared_buffer_);
    shared_buffer_ = nullptr;
    done_ = true;
    return false;
  }
  return true;
}

void ConverterStream::convert() {
  platform_.begin_converter_thread();
  GlobalHandle class_name = make_string_block("");
  GlobalHandle subset = make_string_block("");
  std::int16_t result = -1;
  if (foreign_to_rtf_ != nullptr && class_name != nullptr && subset != nullptr)
    result = foreign_to_rtf_(file_name_, nullptr, shared_buffer_, class_name, subset, &ConverterStream::output);
  // The reading side has taken the last piece and asks for more.
  buffer_free_->wait();
  buffer_free_->reset();
  if (class_name != nullptr) platform_.release(class_name);
  if (subset != nullptr) platform_.release(subset);
  unlock_buffer();
  platform_.release(shared_buffer_);
  shared_buffer_ = nullptr;
  if (result != 0) failed_ = true;
  done_ = true;
  data_ready_->set();
  platform_.end_converter_thread();
}

std::int32_t VELLORA_CONVERTER_CALL ConverterStream::output(std::int32_t byte_count, std::int32_t /*percent*/) {
  ConverterStream* stream = current_stream.load();
  if (stream == nullptr || stream->shared_buffer_ == nullptr) return kNoSharedBuffer;
  return stream->hand_over(byte_count);
}

std::int32_t ConverterStream::hand_over(std::int32_t byte_count) {
  // A count of 0 hands nothing over; so does a negative one, and no count
  // can make the reading side copy from beyond the buffer.
  if (byte_count <= 0) return 0;
  buffer_free_->wait();
  buffer_free_->reset();
  bytes_available_ = std::min<std::size_t>(static_cast<std::size_t>(byte_count), kSharedBufferBytes);
  data_ready_->set();
  buffer_free_->wait();  // the piece has been read
  return 0;
}

void ConverterStream::unlock_buffer() {
  if (read_pointer_ == nullptr) return;
  platform_.unlock(shared_buffer_);
  read_pointer_ = nullptr;
}

std::size_t ConverterStream::read(std::uint8_t* buffer, std::size_t count) {
  if (done_) return 0;
  std::size_t copied = 0;
  while (copied < count) {
    if (bytes_available_ == 0) {
      unlock_buffer();
      buffer_free_->set();
      data_ready_->wait();
      data_ready_->reset();
      // A failed conversion has ended too: the caller learns of it from
      // failed() once the read returns what it has.
      if (done_) break;
      read_pointer_ = static_cast<const std::uint8_t*>(platform_.lock(shared_buffer_));
      if (read_pointer_ == nullptr) {
        // The piece cannot be reached: the document would have a hole.
        lost_piece_ = true;
        bytes_available_ = 0;
        continue;
      }
    }
    const std::size_t piece = std::min(count - copied, bytes_available_);
    std::memcpy(buffer + copied, read_pointer_, piece);
    read_pointer_ += piece;
    bytes_available_ -= piece;
    copied += piece;
  }
  return copied;
}

}  // namespace vellora
