// Shape properties that set the page colour. RTF gives each shape property
// as a name group and a value group, "{\sn fillColor}{\sv 255}"; a shape
// that is filled and marked as the background gives the document its
// background colour. Properties of any shape count, and the last value of
// each wins.
#include "docmodel/palette.h"
#include "importers/rtf/rtf_state.h"

namespace vellora::rtf_import {

namespace {

// The shape property names that matter, and what each one is.
struct ShapePropertyName {
  std::string_view name;
  ShapeProperty property;
};
constexpr ShapePropertyName kShapeProperties[] = {
    {"fFilled", ShapeProperty::filled},
    {"fBackground", ShapeProperty::background},
    {"fillColor", ShapeProperty::fill_colour},
};

constexpr std::uint32_t kMaxShapeValue = 0x7FFFFFFF;

}  // namespace

void read_shape_name(RtfState& state) {
  std::array<char, kMaxShapeNameChars> chars{};
  std::size_t stored = 0;
  while (is_letter(state.input.peek())) {
    const int c = state.input.get();
    if (stored < chars.size()) chars[stored++] = static_cast<char>(c);
  }
  const std::string_view name(chars.data(), stored);
  // Any other name leaves the pending property as it was.
  for (const auto& known : kShapeProperties)
    if (known.name == name) {
      state.shape.pending = known.property;
      state.shape.is_value_expected = true;
    }
}

void read_shape_value(RtfState& state) {
  ShapeState& shape = state.shape;
  // Without a pending property the value's characters stay ordinary input.
  if (!shape.is_value_expected) return;
  const std::uint32_t value = read_digits(state.input, kMaxShapeValueDigits, kMaxShapeValue);
  switch (shape.pending) {
    case ShapeProperty::filled: shape.filled = value == 1 ? 1 : 0; break;
    case ShapeProperty::background: shape.background = value == 1 ? 1 : 0; break;
    case ShapeProperty::fill_colour:
      // The value is 0x00BBGGRR.
      shape.fill_colour =
          nearest_colour(pack_colour(static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                     static_cast<std::uint8_t>(value >> 16)));
      break;
    case ShapeProperty::none: break;
  }
  shape.is_value_expected = false;
}

std::uint8_t shape_background(const ShapeState& shape, std::uint8_t otherwise) {
  return shape.filled == 1 && shape.background == 1 ? shape.fill_colour : otherwise;
}

}  // namespace vellora::rtf_import
