// What an importer's conversion writes its paragraphs to: whatever sink the
// caller chose (the staging files, memory, the packer), behind a count of
// the paragraphs written and the limit that ends a conversion early. So a
// source far bigger than any handheld document is not read to its end, and
// cannot fill the disk with staging data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>

#include "docmodel/cell.h"
#include "docmodel/staging.h"

namespace vellora {

class StagingOutput {
 public:
  // `sink` must outlive the output.
  explicit StagingOutput(StagingSink& sink, std::size_t paragraph_limit = std::numeric_limits<std::size_t>::max())
      : sink_(sink), paragraph_limit_(paragraph_limit) {}
  StagingOutput(const StagingOutput&) = delete;
  StagingOutput& operator=(const StagingOutput&) = delete;

  // `cells` holds at least 10 bytes per text byte, and only those of the
  // text reach the sink: an importer may hand over a whole buffer of cells.
  // text.size() is 1 to 1024.
  void write_paragraph(std::int32_t alignment, std::span<const std::uint8_t> text,
                       std::span<const std::uint8_t> cells) {
    ++paragraphs_;
    sink_.take_paragraph(alignment, text, cells.first(text.size() * kCellBytes));
  }
  std::size_t paragraphs() const { return paragraphs_; }
  // The limit is reached: a conversion asks before each paragraph and ends.
  bool is_full() const { return paragraphs_ >= paragraph_limit_; }

 private:
  StagingSink& sink_;
  std::size_t paragraphs_ = 0;
  std::size_t paragraph_limit_;
};

}  // namespace vellora
