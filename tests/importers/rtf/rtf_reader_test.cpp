// The RTF importer's reader: paragraphs and their ends, the left indent,
// long paragraphs, character words and escapes, skipped destinations,
// binary runs, malformed input, and the limits that keep hostile input
// inside the buffers. Every case compares the staging bytes exactly.
#include <gtest/gtest.h>

#include "importers/rtf/rtf_state.h"
#include "tests/importers/rtf/rtf_staging.h"

namespace vellora {
namespace {

using namespace std::string_literals;
using namespace testing;

TEST(RtfImport, ParagraphsEndWhereTheTextSaysSo) {
  expect_cases({
      {"an empty paragraph keeps what position 0 held",
       "{\\rtf1 Hello\\par\\par}",
       {para("Hello"), empty_holding('H')}},
      {"an empty paragraph before any text holds the zero buffer", "{\\rtf1\\par a\\par}", {first_empty(), para("a")}},
      {"a backslash before a line end ends the paragraph", "{\\rtf1 a\\\nb\\\rc}", {para("a"), para("b"), para("c")}},
      {"line ends in the file are not text", "{\\rtf1 a\r\nb\n\rc}", {para("abc")}},
      {"an escaped line feed ends the paragraph", "{\\rtf1 a\\'0ab}", {para("a"), para("b")}},
      {"text after the last paragraph end still counts", "{\\rtf1 a\\par b}", {para("a"), para("b")}},
      {"the alignment in force at the end counts",
       "{\\rtf1\\qc a\\par\\qj b\\par c\\qr\\par\\pard d\\par}",
       {para("a", kAlignCentred), para("b", kAlignJustified), para("c", kAlignRight), para("d")}},
      {"alignment words take no parameter", "{\\rtf1\\qc0 a\\ql5 b\\par}", {para("ab")}},
      {"a group's alignment ends with it", "{\\rtf1{\\qc a}\\par}", {para("a")}},
  });
}

TEST(RtfImport, LeftIndentBecomesLeadingSpaces) {
  expect_cases({
      {"li 720: two spaces", "{\\rtf1\\li720 ab\\par}", {para("  ab")}},
      {"li 549: none", "{\\rtf1\\li549 ab\\par}", {para("ab")}},
      {"li 550: one", "{\\rtf1\\li550 ab\\par}", {para(" ab")}},
      {"li -720: none", "{\\rtf1\\li-720 ab\\par}", {para("ab")}},
      {"the spaces take the first character's cell",
       "{\\rtf1\\li550\\b a\\b0 b\\par}",
       {runs({{" a", kBold}, {"b", kPlain}})}},
      {"an empty paragraph after an indented one holds a space",
       "{\\rtf1\\li720 ab\\par\\par}",
       {para("  ab"), empty_holding(' ')}},
      {"the indent in force at the end counts", "{\\rtf1\\li720 a\\pard\\par b\\li550\\par}", {para("a"), para(" b")}},
      {"empty paragraphs are not indented", "{\\rtf1\\li720\\par}", {first_empty()}},
      {"the spaces fill the paragraph up to 1024 characters",
       "{\\rtf1\\li2147483647 " + std::string(1000, 'x') + "\\par}",
       {para(std::string(24, ' ') + std::string(1000, 'x'))}},
      {"the lowest indent does not overflow", "{\\rtf1\\li-2147483648 x\\par}", {para("x")}},
      {"a group's indent ends with it", "{\\rtf1{\\li720 a\\par}b\\par}", {para("  a"), para("b")}},
      {"pard in a group resets the indent and alignment until it closes",
       "{\\rtf1\\li720\\qc{\\pard a\\par}b\\par}",
       {para("a"), para("  b", kAlignCentred)}},
  });
}

TEST(RtfImport, LongParagraphsSplitWithoutLosingACharacter) {
  std::string letters;
  for (std::size_t i = 0; i < 1030; ++i) letters += static_cast<char>('a' + i % 26);
  std::string ys(1019, 'y');
  expect_cases({
      {"1030 letters: 1019, then the next 11",
       "{\\rtf1 " + letters + "}",
       {para(letters.substr(0, 1019)), para(letters.substr(1019))}},
      {"a tab at 1016 fills the paragraph to 1024",
       "{\\rtf1 " + std::string(1016, 'x') + "\\tab y}",
       {para(std::string(1016, 'x') + std::string(8, ' ')), para("y")}},
      {"a tab at 1017 ends the paragraph and is lost",
       "{\\rtf1 " + std::string(1017, 'x') + "\\tab y}",
       {para(std::string(1017, 'x')), para("y")}},
      {"a tab at 1019 is lost after the split", "{\\rtf1 " + ys + "\\tab z}", {para(ys), para("z")}},
      {"a tab is eight spaces", "{\\rtf1 a\tb\\tab c}", {para("a        b        c")}},
  });
}

TEST(RtfImport, CharacterWordsAndEscapes) {
  expect_cases({
      {"quotes", "{\\rtf1 \\lquote\\rquote\\ldblquote\\rdblquote}", {para("\x91\x92\"\"")}},
      {"escaped braces and backslash", "{\\rtf1 \\{\\}\\\\}", {para("{}\\")}},
      {"hex escapes in either case",
       "{\\rtf1 \\'e9\\'E9\\'41}",
       {para("\xE9\xE9"
             "A")}},
      {"NUL is dropped and 0x17 is the bullet", "{\\rtf1 a\0b\x17\\'00\\'17}"s, {para("ab\x95\x95")}},
      {"u is underline: only the stand-in character shows", "{\\rtf1 \\u8217?\\u-3913?}", {para("??")}},
      {"unknown words and their delimiting space vanish",
       "{\\rtf1\\ansi\\f0\\lang1033 x\\~\\-y\\cell z}",
       {para("xyz")}},
      {"only a space delimiter is consumed", "{\\rtf1\\f0;x\\f1  y}", {para(";x y")}},
      {"names are case-sensitive", "{\\rtf1 a\\PAR b\\Par c}", {para("abc")}},
      {"braces keep their meaning inside a hex escape", "{\\rtf1 a\\'4{}1}", {para("aA")}},
  });
}

TEST(RtfImport, DestinationsAreSkippedToTheEndOfTheirGroup) {
  expect_cases({
      {"font table, information and style sheet",
       "{\\rtf1{\\fonttbl{\\f0 Times;}}{\\info{\\title T}{\\author A}}{\\stylesheet{\\s0 Normal;}}x\\par}",
       {para("x")}},
      {"unknown destinations after \\*", "{\\rtf1{\\*\\generator Writer;}{\\*\\listtext 1.}x}", {para("x")}},
      {"unknown groups without \\* keep their text",
       "{\\rtf1{\\field{\\*\\fldinst HYPERLINK}{\\fldrslt link}}}",
       {para("link")}},
      {"\\* before a known word only clears the flag", "{\\rtf1{\\*\\b x}\\par}", {para("x", kAlignLeft, kBold)}},
      {"a word between \\* and the unknown one clears the flag", "{\\rtf1{\\*\\tab\\foo x}}", {para("        x")}},
      {"headers, footers and footnotes", "{\\rtf1 a{\\header H}{\\footer F}{\\footnote N}b}", {para("ab")}},
      {"a hex escape in a skipped destination is not read", "{\\rtf1{\\*\\foo\\'zz}x\\par}", {para("x")}},
  });
}

TEST(RtfImport, EveryDestinationWordSkipsItsGroup) {
  for (const char* name : {"author",  "buptim",  "colortbl",   "comment",  "creatim",  "doccomm",  "fonttbl", "footer",
                           "footerf", "footerl", "footerr",    "footnote", "ftncn",    "ftnsep",   "ftnsepc", "header",
                           "headerf", "headerl", "headerr",    "info",     "keywords", "operator", "pict",    "printim",
                           "revtim",  "rxe",     "stylesheet", "subject",  "tc",       "title",    "txe",     "xe"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(StagesExactly("{\\rtf1{\\" + std::string(name) + " hidden\\par}x}", {para("x")}));
  }
  // A word ends at its first digit, so this one is "private" with 1.
  EXPECT_TRUE(StagesExactly("{\\rtf1{\\private1 shown}x}", {para("shownx")}));
}

// Words for properties that do not reach the handheld are still known
// words: "\*" before one does not skip its group, and none of them touches
// the bold, indent or alignment that do reach it.
TEST(RtfImport, PropertiesKeptOffTheHandheldAreStillKnownWords) {
  for (const char* name :
       {"u",       "i",     "ri",    "fi",     "cols",    "sbknone",  "sbkcol",   "sbkeven",  "sbkodd",
        "sbkpage", "pgnx",  "pgny",  "pgndec", "pgnucrm", "pgnlcrm",  "pgnucltr", "pgnlcltr", "paperw",
        "paperh",  "margl", "margr", "margt",  "margb",   "pgnstart", "facingp",  "landscape"}) {
    SCOPED_TRACE(name);
    const std::string word = "\\" + std::string(name);
    EXPECT_TRUE(StagesExactly("{\\rtf1{\\*" + word + "7 kept}x}", {para("keptx")}));
    EXPECT_TRUE(StagesExactly("{\\rtf1\\li720\\qc\\b a" + word + " b" + word + "0 c" + word + "-900 d\\par}",
                              {para("  abcd", kAlignCentred, kBold)}));
  }
}

// Names next to known ones, and before the first and after the last, are
// unknown: after "\*" they skip their group.
TEST(RtfImport, OnlyExactNamesAreKnown) {
  for (const std::string& word : {"pa"s, "pards"s, "bi"s, "fsx"s, "rowd"s, "trow"s, "a"s, "z"s, "A"s, "\t"s, "~"s}) {
    SCOPED_TRACE(word);
    EXPECT_TRUE(StagesExactly("{\\rtf1{\\*\\" + word + " hidden}x}", {para("x")}));
  }
}

TEST(RtfImport, BinaryRunsAreReadRaw) {
  expect_cases({
      {"braces and backslashes in a run are text", "{\\rtf1 a\\bin3 {}\\b\\par}", {para("a{}\\b")}},
      {"a run in a skipped destination cannot unbalance it", "{\\rtf1{\\pict\\bin2 }}}x\\par}", {para("x")}},
      {"a run of bytes ending a paragraph and a NUL", "{\\rtf1 a\\bin3 \n\0b}"s, {para("a"), para("b")}},
      {"bin takes its own parameter, not an earlier word's", "{\\rtf1\\fs5 a\\bin {b}c\\par}", {para("abc")}},
      {"bin 0 reads nothing raw", "{\\rtf1 a\\bin0 {b}c\\par}", {para("abc")}},
      {"a negative count reads nothing raw", "{\\rtf1 a\\bin-3 {b}c\\par}", {para("abc")}},
  });
}

TEST(RtfImport, MalformedInputKeepsWhatWasRead) {
  expect_cases({
      {"a surplus closing brace ends the conversion", "{\\rtf1 a}b}c\\par", {para("ab")}},
      {"a non-hex digit ends the conversion", "{\\rtf1 a\\'g1 b\\par}", {para("a")}},
      {"a second non-hex digit too", "{\\rtf1 a\\'4x b\\par}", {para("a")}},
      {"a backslash at the end", "{\\rtf1 a\\", {para("a")}},
      {"a minus at the end", "{\\rtf1 a\\li-", {para("a")}},
      {"groups left open", "{\\rtf1{{a", {para("a")}},
      {"a word at the very end still acts", "{\\rtf1 a\\par", {para("a")}},
      {"nothing at all", "", {}},
  });
}

// Past the depth limit groups share the deepest saved state and restore
// nothing, except whether they are skipped: every character still arrives,
// and a destination deep down is still skipped.
TEST(RtfImport, GroupsPastTheDepthLimitLoseNoText) {
  constexpr std::size_t kDepth = rtf_import::kMaxGroupDepth;
  static_assert(kDepth == 4096);
  const auto open = [](std::size_t n) { return repeated("{", n); };
  const auto close = [](std::size_t n) { return repeated("}", n); };
  expect_cases({
      {"4096 open groups are fine", open(kDepth) + "x" + close(kDepth), {para("x")}},
      {"the 4097th goes on reading", "{\\rtf1 a" + open(kDepth) + "b\\par}", {para("ab")}},
      {"text inside and after deep nesting",
       "{\\rtf1 visible start. " + open(4100) + "SECRET-TAIL text" + close(4100) + " end\\par}",
       {para("visible start. SECRET-TAIL text end")}},
      {"100,000 nested groups", "{\\rtf1 a" + open(100000) + "b" + close(100000) + "c\\par}", {para("abc")}},
      {"a destination deep down is skipped to its end",
       "{\\rtf1 a" + open(5000) + "{\\*\\foo hidden}b" + close(5000) + "c\\par}",
       {para("abc")}},
      {"a destination deep down holding deeper groups",
       "{\\rtf1 a" + open(4200) + "{\\*\\foo {{x}} y}b" + close(4200) + "c\\par}",
       {para("abc")}},
      {"a skipped destination around deep groups stays skipped",
       "{\\rtf1 a{\\*\\foo " + open(5000) + "hidden" + close(5000) + " still hidden}b\\par}",
       {para("ab")}},
      {"formatting deep down lasts until the depth is back within the limit",
       "{\\rtf1 " + open(kDepth + 2) + "{\\b x}y" + close(kDepth + 1) + "z" + close(1) + "w\\par}",
       {runs({{"xy", kBold}, {"zw", kPlain}})}},
  });
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a" + open(100000) + "b\\par}"), "");
}

// The errors that end the parse: the text before is kept as the format
// says, and if text was still to come the conversion says it is
// incomplete.
TEST(RtfImport, AnErrorBeforeTheEndIsReportedWhenTextIsLost) {
  EXPECT_TRUE(StagesExactly("{\\rtf1 a}b}c\\par", {para("ab")}));
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a}b}c\\par"),
            "the RTF is read only up to a closing brace with no group open at offset 10; the rest is not converted");
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a\\'g1 more}"),
            "the RTF is read only up to a hex escape with a byte that is not a hex digit at offset 10; the rest is "
            "not converted");
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a}}\r\n} "), "");  // nothing but braces and blanks follow
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a\\"), "");        // ends inside a word: nothing follows
  EXPECT_EQ(incomplete_note(&stage_rtf, "{\\rtf1 a\\par}"), "");
}

TEST(RtfImport, LongNamesAndNumbersAreReadToTheirEnd) {
  const std::string nines(25, '9');
  expect_cases({
      {"a 40-letter name", "{\\rtf1\\" + std::string(40, 'a') + " x}", {para("x")}},
      {"a long name that starts with a known one", "{\\rtf1\\par" + std::string(40, 'a') + " x}", {para("x")}},
      {"a 25-digit parameter saturates", "{\\rtf1\\fs" + nines + " x}", {para("x", kAlignLeft, kLarge)}},
      {"a 25-digit negative parameter", "{\\rtf1\\li-" + nines + " x\\par}", {para("x")}},
      {"a saturated indent fills the paragraph",
       "{\\rtf1\\li" + nines + " x\\par}",
       {para(std::string(1023, ' ') + "x")}},
      {"2^32 saturates rather than wrapping to 0", "{\\rtf1\\fs4294967296 x}", {para("x", kAlignLeft, kLarge)}},
      {"a 200-letter shape name", "{\\rtf1{\\sn " + std::string(200, 'f') + "}x}", {para("x")}},
      {"a 40-digit shape value", "{\\rtf1{\\sn fillColor}{\\sv " + std::string(40, '7') + "}x}", {para("x")}},
  });
}

TEST(RtfImport, EveryConversionStartsFromCleanState) {
  const std::string clean = "{\\rtf1\\par a\\cf0 b\\par\\par}";
  const StagingBytes alone = import_rtf(clean);
  for (const std::string& before : {
           "\\li2000\\b\\qc\\fs48\\highlight0 "s,
           "{\\rtf1{\\*\\foo{{{ x"s,
           "{\\colortbl\\red255\\green0\\blue0;}"s,
           "{\\colortbl;"s,
           "\\bin100 "s,
           "\\'4"s,
           "\\trowd"s,
           "{\\sn fFilled}{\\sv 1}{\\sn fBackground}{\\sv 1}{\\sn fillColor}{\\sv 255}{\\sn fFilled}"s,
           "{\\rtf1 junk at position zero\\par"s,
       }) {
    SCOPED_TRACE(before);
    import_rtf(before);
    const StagingBytes after = import_rtf(clean);
    EXPECT_TRUE(BytesEqual(after.data, alone.data));
    EXPECT_TRUE(BytesEqual(after.sizes, alone.sizes));
  }
  EXPECT_TRUE(StagesExactly(clean, {first_empty(), para("ab"), empty_holding('a')}));
}

}  // namespace
}  // namespace vellora
