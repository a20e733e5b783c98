// One conversion of one file through one text converter library, read like
// a file. The converter runs on a thread of its own and hands its RTF over
// through one shared buffer, in strict alternation with the reading side:
// two manual-reset events say "data ready" and "buffer free", so only one
// side touches the buffer at a time. The converter's output callback has no
// context argument and reaches the stream through one process-wide
// reference, so conversions run one at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/text_converter.h"

namespace vellora {

inline constexpr std::size_t kSharedBufferBytes = 8192;
// The largest path the converter interface takes, its final NUL included.
inline constexpr std::size_t kConverterPathBytes = 260;
// What the output callback answers when the stream has no shared buffer.
inline constexpr std::int32_t kNoSharedBuffer = -9;

class ConverterStream {
 public:
  // Loads the library at `library_path` and, when it has InitConverter32,
  // initialises it once. A library that cannot be loaded leaves a stream
  // that takes no file.
  ConverterStream(TextConverterLibrary& platform, const std::string& library_path);
  // Waits for a conversion still running to end, then releases the events
  // and the library.
  ~ConverterStream();
  ConverterStream(const ConverterStream&) = delete;
  ConverterStream& operator=(const ConverterStream&) = delete;

  // Whether the library says the file is in its format (answers 1).
  bool is_format_correct(const std::string& path);

  // Starts converting the file; false when the events or the shared
  // buffer cannot be had (nothing is started then).
  bool open(const std::string& path);

  // Up to `count` RTF bytes into `buffer`; fewer only when the conversion
  // has ended, and 0 from then on.
  std::size_t read(std::uint8_t* buffer, std::size_t count);

  // The converter reported failure, or a piece could not be read; known
  // once read() has returned 0.
  bool failed() const { return failed_ || lost_piece_; }

 private:
  static std::int32_t VELLORA_CONVERTER_CALL output(std::int32_t byte_count, std::int32_t percent);
  void convert();
  std::int32_t hand_over(std::int32_t byte_count);
  void unlock_buffer();
  GlobalHandle make_string_block(const std::string& text);

  TextConverterLibrary& platform_;
  ModuleHandle library_ = 0;
  IsFormatCorrectEntry is_format_correct_ = nullptr;
  ForeignToRtfEntry foreign_to_rtf_ = nullptr;

  std::unique_ptr<ConverterEvent> data_ready_;
  std::unique_ptr<ConverterEvent> buffer_free_;
  GlobalHandle shared_buffer_ = nullptr;
  GlobalHandle file_name_ = nullptr;
  std::thread converter_;
  std::unique_lock<std::mutex> turn_;

  // Written by one side only while the events give it the buffer.
  bool done_ = true;
  bool failed_ = false;
  bool lost_piece_ = false;
  std::size_t bytes_available_ = 0;
  const std::uint8_t* read_pointer_ = nullptr;
};

}  // namespace vellora
