// What reaches the handheld of an RTF document's formatting: the colour
// table and the colour words, point sizes and bold, plain, table rows and
// the page colour of a background shape. Every case compares the staging
// bytes exactly.
#include <gtest/gtest.h>

#include "tests/importers/rtf/rtf_staging.h"

namespace vellora {
namespace {

using namespace testing;

const AttributeCell kRed = text_cell(0, kRedIndex);
const AttributeCell kBlue = text_cell(0, kBlueIndex);

// Entry 1 red and entry 2 blue, after the empty entry 0.
const std::string kTable = "{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";

TEST(RtfFormatting, ColourTableAndColourWords) {
  expect_cases({
      {"';' after colortbl: entry 0 is the empty one",
       "{\\rtf1{\\colortbl;\\red255\\green0\\blue0;}\\cf1 x\\par}",
       {para("x", kAlignLeft, kRed)}},
      {"without ';' the first colour is entry 0",
       "{\\rtf1{\\colortbl\\red255\\green0\\blue0;}\\cf0 x\\cf1 y}",
       {runs({{"x", kRed}, {"y", kPlain}})}},
      {"the space that ends the word comes before the ';'",
       "{\\rtf1{\\colortbl ;\\red255\\green0\\blue0;}\\cf1 x}",
       {para("x", kAlignLeft, kRed)}},
      {"cf without a number is entry 0",
       "{\\rtf1{\\colortbl\\red255\\green0\\blue0;}\\cf1 x\\cf y}",
       {runs({{"x", kPlain}, {"y", kRed}})}},
      {"an entry without blue adds nothing",
       "{\\rtf1{\\colortbl;\\red255\\green0;\\red0\\green0\\blue255;}\\cf1 x}",
       {para("x", kAlignLeft, kBlue)}},
      {"highlight takes a table entry; entry 0 is black, not none",
       "{\\rtf1" + kTable + "\\highlight2 x\\highlight0 y}",
       {runs({{"x", text_cell(0, kBlackIndex, kBlueIndex)}, {"y", text_cell(0, kBlackIndex, kBlackIndex)}})}},
      {"numbers outside the table give black and no highlight",
       "{\\rtf1{\\colortbl\\red255\\green0\\blue0;}\\highlight0\\cf256 a\\cf-1 b\\cf4294967296 c"
       "\\highlight256 d\\highlight0\\highlight-1 e}",
       {runs({{"abc", text_cell(0, kBlackIndex, kRedIndex)}, {"de", kPlain}})}},
      {"a group restores the colour", "{\\rtf1" + kTable + "{\\cf1 x}y}", {runs({{"x", kRed}, {"y", kPlain}})}},
      {"plain resets bold, size and colour but not the highlight",
       "{\\rtf1" + kTable + "\\cf1\\highlight1\\b\\fs48 x\\plain y}",
       {runs({{"x", text_cell(2, kRedIndex, kRedIndex)}, {"y", text_cell(0, kBlackIndex, kRedIndex)}})}},
      {"colour words act outside the table too",
       "{\\rtf1\\red255{\\colortbl;\\green0\\blue0;}\\cf1 x}",
       {para("x", kAlignLeft, kRed)}},
      {"plain clears the colour being read",
       "{\\rtf1\\red255\\plain{\\colortbl;\\green0\\blue0;}\\cf1 x}",
       {para("x")}},
      {"the entry counter wraps after 256 entries",
       "{\\rtf1{\\colortbl" + repeated("\\red0\\green0\\blue255;", 256) + "\\red255\\green0\\blue0;}\\cf0 x\\cf1 y}",
       {runs({{"x", kRed}, {"y", kBlue}})}},
  });
}

TEST(RtfFormatting, SizesAndBoldChooseTheFont) {
  expect_cases({
      {"fs 45 standard, 46 large, 48 with b large; b and b0 on 10-point text",
       "{\\rtf1\\fs45 a\\fs46 b\\fs48\\b c\\b0 d\\fs20\\b e\\b0 f\\fs g\\fs-100 h}",
       {runs({{"a", kPlain}, {"bcd", kLarge}, {"e", kBold}, {"fgh", kPlain}})}},
      {"b takes the low byte of its number", "{\\rtf1\\b2 x\\b256 y}", {runs({{"x", kBold}, {"y", kPlain}})}},
      {"a size after bold leaves the text bold", "{\\rtf1\\b\\fs48 x\\fs20 y}", {runs({{"x", kLarge}, {"y", kBold}})}},
      {"a group restores bold and size",
       "{\\rtf1{\\b\\fs48 x}{\\b y}z}",
       {runs({{"x", kLarge}, {"y", kBold}, {"z", kPlain}})}},
  });
}

TEST(RtfFormatting, TableRowsAreDropped) {
  expect_cases({
      {"text between trowd and row", "{\\rtf1 a\\trowd b\\cell c\\row d\\par}", {para("ad")}},
      {"paragraph ends inside a row", "{\\rtf1 a\\trowd\\par b\\row\\par}", {para("a")}},
      {"suppression outlives the group", "{\\rtf1{\\trowd a}b\\row c\\par}", {para("c")}},
      {"row words act in skipped destinations", "{\\rtf1{\\*\\foo\\trowd}x\\row y\\par}", {para("y")}},
  });
}

std::string shape(const std::string& name, const std::string& value) {
  return "{\\sp{\\sn " + name + "}{\\sv " + value + "}}";
}

std::string background(const std::string& properties) {
  return "{\\rtf1{\\*\\background{\\shp{\\*\\shpinst" + properties + "}}}x\\par}";
}

TEST(RtfFormatting, ABackgroundShapeColoursThePage) {
  const std::string red = shape("fillColor", "255");
  const std::string filled = shape("fFilled", "1");
  const std::string behind = shape("fBackground", "1");
  expect_cases({
      {"filled background shape", background(red + filled + behind), {para("x")}, kRedIndex},
      {"not marked as the background", background(red + filled), {para("x")}},
      {"marked, then unmarked", background(red + filled + behind + shape("fBackground", "0")), {para("x")}},
      {"not filled", background(red + shape("fFilled", "2") + behind), {para("x")}},
      {"the last colour wins",
       background(red + filled + behind + shape("fillColor", "16711680")),
       {para("x")},
       kBlueIndex},
      {"another name keeps the pending one",
       background(filled + behind + "{\\sp{\\sn fillColor}{\\sn shapeType}{\\sv 255}}"),
       {para("x")},
       kRedIndex},
      {"a value right after the word",
       background(filled + behind + "{\\sp{\\sn fillColor}{\\sv255}}"),
       {para("x")},
       kRedIndex},
      {"values past 32 bits saturate", background(filled + behind + shape("fillColor", "4278190335")), {para("x")}},
      {"a value with nothing pending is text", "{\\rtf1 a{\\sv 12}\\par}", {para("a12")}},
      {"a value is taken once", "{\\rtf1 a{\\sn fillColor}{\\sv 255}{\\sv 12}\\par}", {para("a12")}},
  });
}

}  // namespace
}  // namespace vellora
