// Builders for staged paragraphs and raw staging files in tests.
#pragma once

#include <string>
#include <vector>

#include "docmodel/palette.h"
#include "docmodel/staging.h"

namespace vellora::testing {

inline AttributeCell text_cell(std::int32_t font = 0, std::uint8_t colour = kBlackIndex,
                               std::uint8_t highlight = kNoHighlight) {
  return AttributeCell{kCharacterCell, colour, highlight, font};
}

inline StagedParagraph paragraph(const std::string& text, std::int32_t alignment = kAlignLeft,
                                 AttributeCell cell = text_cell()) {
  StagedParagraph p;
  p.alignment = alignment;
  p.text.assign(text.begin(), text.end());
  const CellBytes bytes = encode_cell(cell);
  for (std::size_t i = 0; i < text.size(); ++i) p.cells.insert(p.cells.end(), bytes.begin(), bytes.end());
  return p;
}

// Gives characters [from, to) of `p` the attributes of `cell`.
inline void restyle(StagedParagraph& p, std::size_t from, std::size_t to, AttributeCell cell) {
  const CellBytes bytes = encode_cell(cell);
  for (std::size_t i = from; i < to; ++i)
    std::copy(bytes.begin(), bytes.end(), p.cells.begin() + static_cast<std::ptrdiff_t>(i * kCellBytes));
}

inline StagedParagraph special(std::int32_t kind, std::int32_t font = 0, std::uint8_t colour = kBlackIndex) {
  StagedParagraph p = paragraph(" ");
  restyle(p, 0, 1, AttributeCell{kind, colour, kNoHighlight, font});
  return p;
}

// Writes the staging files of a document named `name` into `folder`, the
// paragraphs as they are, whether they are valid or not.
inline void stage(const std::filesystem::path& folder, const std::string& name,
                  const std::vector<StagedParagraph>& paragraphs, std::uint8_t background = kWhiteIndex) {
  StagingFiles files;
  files.open(folder);
  files.take_name(name_record(name));
  for (const auto& p : paragraphs) files.take_paragraph(p.alignment, p.text, p.cells);
  files.take_background(background);
  files.finish();
}

}  // namespace vellora::testing
