// The pipelined sink: staged calls gather in a batch on the importer's
// thread and are replayed to the inner sink by a worker thread, one batch
// while the next fills.
#include "docmodel/pipelined_sink.h"

#include <utility>

namespace vellora {

void PipelinedSink::Batch::clear() {
  name.reset();
  paragraphs.clear();
  bytes.clear();
  background.reset();
}

void PipelinedSink::Batch::replay(StagingSink& sink) const {
  if (name) sink.take_name(*name);
  const std::uint8_t* at = bytes.data();
  for (const Paragraph& paragraph : paragraphs) {
    const std::span<const std::uint8_t> text(at, paragraph.text_bytes);
    const std::span<const std::uint8_t> cells(at + paragraph.text_bytes, paragraph.cell_bytes);
    at += paragraph.text_bytes + paragraph.cell_bytes;
    sink.take_paragraph(paragraph.alignment, text, cells);
  }
  if (background) sink.take_background(*background);
}

PipelinedSink::PipelinedSink(StagingSink& inner, std::size_t batch_bytes) : inner_(inner), batch_bytes_(batch_bytes) {}

PipelinedSink::~PipelinedSink() {
  try {
    finish();
  } catch (...) {}
}

void PipelinedSink::take_name(const std::array<char, kNameRecordBytes>& record) {
  if (!filling_.is_empty()) hand_over();
  filling_.name = record;
}

void PipelinedSink::take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                                   std::span<const std::uint8_t> cells) {
  if (filling_.background) hand_over();
  filling_.paragraphs.push_back({alignment, text.size(), cells.size()});
  filling_.bytes.insert(filling_.bytes.end(), text.begin(), text.end());
  filling_.bytes.insert(filling_.bytes.end(), cells.begin(), cells.end());
  if (filling_.size_bytes() >= batch_bytes_) hand_over();
}

void PipelinedSink::take_background(std::uint8_t background) {
  if (filling_.background) hand_over();
  filling_.background = background;
}

void PipelinedSink::hand_over() {
  if (!worker_.joinable()) {
    is_done_ = false;
    worker_ = std::thread(&PipelinedSink::work, this);
  }
  {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return !has_pending_; });
    std::swap(pending_, filling_);
    has_pending_ = true;
  }
  changed_.notify_all();
  filling_.clear();  // now the batch the worker finished with, its capacity kept
}

void PipelinedSink::work() {
  Batch batch;
  for (;;) {
    {
      std::unique_lock guard(lock_);
      changed_.wait(guard, [this] { return has_pending_ || is_done_; });
      if (!has_pending_) return;
      std::swap(batch, pending_);
      has_pending_ = false;
    }
    changed_.notify_all();
    // After a failure the rest is only drained, so the producer never waits
    // on a worker that stopped.
    if (!failure_) {
      try {
        batch.replay(inner_);
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
      if (!filling_.is_empty()) {
        std::swap(pending_, filling_);
        has_pending_ = true;
      }
      is_done_ = true;
    }
    changed_.notify_all();
    worker_.join();
    filling_.clear();
  } else if (!filling_.is_empty()) {
    try {
      filling_.replay(inner_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    filling_.clear();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace vellora
