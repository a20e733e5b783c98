#include "docmodel/pipelined_sink.h"

#include <cstring>
#include <utility>

namespace vellora {

namespace {

// A batch holds the calls back to back: a kind byte, then for a name its
// record, for a paragraph its alignment, two sizes and the bytes of both
// spans, for a background its byte.

enum Call : std::uint8_t { kName, kParagraph, kBackground };

template <typename T>
void put(std::vector<std::uint8_t>& out, const T& value) {
  const auto at = out.size();
  out.resize(at + sizeof value);
  std::memcpy(out.data() + at, &value, sizeof value);
}

void put_bytes(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

template <typename T>
T take(const std::uint8_t*& at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  at += sizeof value;
  return value;
}

void replay(const std::vector<std::uint8_t>& batch, StagingSink& sink) {
  const std::uint8_t* at = batch.data();
  const std::uint8_t* const end = at + batch.size();
  while (at != end) {
    switch (*at++) {
      case kName: {
        std::array<char, kNameRecordBytes> record;
        std::memcpy(record.data(), at, record.size());
        at += record.size();
        sink.take_name(record);
        break;
      }
      case kParagraph: {
        const auto alignment = take<std::int32_t>(at);
        const auto text_bytes = take<std::size_t>(at);
        const auto cell_bytes = take<std::size_t>(at);
        const std::span<const std::uint8_t> text(at, text_bytes);
        const std::span<const std::uint8_t> cells(at + text_bytes, cell_bytes);
        at += text_bytes + cell_bytes;
        sink.take_paragraph(alignment, text, cells);
        break;
      }
      default: sink.take_background(*at++); break;
    }
  }
}

}  // namespace

PipelinedSink::PipelinedSink(StagingSink& inner, std::size_t batch_bytes) : inner_(inner), batch_bytes_(batch_bytes) {}

PipelinedSink::~PipelinedSink() {
  try {
    finish();
  } catch (...) {}
}

void PipelinedSink::take_name(const std::array<char, kNameRecordBytes>& record) {
  filling_.push_back(kName);
  filling_.insert(filling_.end(), record.begin(), record.end());
}

void PipelinedSink::take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                   std::span<const std::uint8_t> cells) {
  filling_.push_back(kParagraph);
  put(filling_, alignment);
  put(filling_, text.size());
  put(filling_, cells.size());
  put_bytes(filling_, text);
  put_bytes(filling_, cells);
  if (filling_.size() >= batch_bytes_) hand_over();
}

void PipelinedSink::take_background(std::uint8_t background) {
  filling_.push_back(kBackground);
  filling_.push_back(background);
}

void PipelinedSink::hand_over() {
  if (!worker_.joinable()) {
    is_done_ = false;
    worker_ = std::thread(&PipelinedSink::work, this);
  }
  {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !has_pending_; });
    pending_.swap(filling_);
    has_pending_ = true;
  }
  changed_.notify_all();
  filling_.clear();  // now the batch the worker finished with, its capacity kept
}

void PipelinedSink::work() {
  std::vector<std::uint8_t> batch;
  for (;;) {
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [this] { return has_pending_ || is_done_; });
      if (!has_pending_) return;
      batch.swap(pending_);
      has_pending_ = false;
    }
    changed_.notify_all();
    // After a failure the rest is only drained, so the producer never waits
    // on a worker that stopped.
    if (!failure_) {
      try {
        replay(batch, inner_);
      } catch (...) {
        failure_ = std::current_exception();
      }
    }
    batch.clear();
  }
}

void PipelinedSink::finish() {
  if (worker_.joinable()) {
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [this] { return !has_pending_; });
      if (!filling_.empty()) {
        pending_.swap(filling_);
        has_pending_ = true;
      }
      is_done_ = true;
    }
    changed_.notify_all();
    worker_.join();
    filling_.clear();
  } else if (!filling_.empty()) {
    try {
      replay(filling_, inner_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    filling_.clear();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace vellora
