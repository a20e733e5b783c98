// A staging sink in front of another one that hands what an importer stages
// to that sink on a second thread, so that reading a large source and
// laying it out overlap. The inner sink sees exactly the calls, in exactly
// the order, that it would see directly; only its thread differs.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "docmodel/staging.h"

namespace vellora {

// How many bytes of staged paragraphs go to the worker at once. A megabyte
// means so few hand-overs that the threads seldom wait for each other, and
// the three batches that exist at once are a small part of what a large
// conversion holds.
inline constexpr std::size_t kPipelineBatchBytes = std::size_t{1024} << 10;

class PipelinedSink final : public StagingSink {
 public:
  // `inner` must outlive this sink. Until finish() returns, only this sink's
  // worker touches it. A smaller batch lets a small document cross threads.
  explicit PipelinedSink(StagingSink& inner, std::size_t batch_bytes = kPipelineBatchBytes);
  // Finishes, dropping a failure of the inner sink: call finish() to see it.
  ~PipelinedSink() override;
  PipelinedSink(const PipelinedSink&) = delete;
  PipelinedSink& operator=(const PipelinedSink&) = delete;

  void take_name(const std::array<char, kNameRecordBytes>& record) override;
  void take_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                      std::span<const std::uint8_t> cells) override;
  void take_background(std::uint8_t background) override;

  // Waits until the inner sink has taken every call, and rethrows what it
  // threw. A document that never fills a batch is handed over here, on the
  // calling thread, without starting a thread at all.
  void finish();

 private:
  // The calls taken since the last hand-over, in the order a sink takes
  // them: a name, paragraphs, a background. A call that would break that
  // order within a batch starts the next one, so the inner sink sees every
  // order as it came. The vectors keep their capacity from batch to batch.
  struct Batch {
    struct Paragraph {
      std::int32_t alignment = 0;
      std::size_t text_bytes = 0;  // then cell_bytes, back to back in `bytes`
      std::size_t cell_bytes = 0;
    };
    std::optional<std::array<char, kNameRecordBytes>> name;
    std::vector<Paragraph> paragraphs;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint8_t> background;

    bool is_empty() const { return !name && paragraphs.empty() && !background; }
    std::size_t size_bytes() const { return bytes.size() + paragraphs.size() * sizeof(Paragraph); }
    void clear();
    void replay(StagingSink& sink) const;
  };

  void hand_over();
  void work();

  StagingSink& inner_;
  std::size_t batch_bytes_;
  Batch filling_;  // the producer's batch
  Batch pending_;  // a full batch waiting for the worker
  bool has_pending_ = false;
  bool is_done_ = false;
  std::exception_ptr failure_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::thread worker_;
};

}  // namespace vellora
