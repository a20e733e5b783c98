// The paragraph an importer is building, character by character, with
// each character's cell beside it; written out whole when it ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "docmodel/cell.h"
#include "docmodel/staging.h"

namespace vellora {

struct ParagraphBuffer {
  // Not cleared between paragraphs: an empty paragraph is written with
  // whatever character and cell fields position 0 still holds.
  std::array<std::uint8_t, kMaxParagraphChars> text{};
  std::array<std::uint8_t, kMaxParagraphChars * kCellBytes> cells{};
  std::size_t length = 0;
};

}  // namespace vellora
