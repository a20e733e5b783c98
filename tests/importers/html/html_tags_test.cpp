// The HTML importer's tag handlers: alignment, headings, font sizes, lists,
// tables with rules, the title and head, hidden text and links, each case
// compared byte for byte with the staging files it must give.
#include <gtest/gtest.h>

#include "tests/importers/html/html_staging.h"

namespace vellora {
namespace {

using namespace testing;

TEST(HtmlTags, AlignmentComesFromTheAlignAttribute) {
  expect_cases({
      {"p align=right holds until the closing p",
       "<html><p align=right>x</p>y",
       {first_empty(), para("x", kAlignRight), para("y")}},
      {"\"left\" anywhere in the text wins over \"right\"",
       "<html><p class=left align=right>x",
       {first_empty(), para("x")}},
      {"center and justify",
       "<html><h5 align=center>a<p align=justify>b",
       {first_empty(), para("a", kAlignCentred), para("b", kAlignJustified)}},
      {"a bare p keeps the alignment in force",
       "<html><p align=center>a<p>b",
       {first_empty(), para("a", kAlignCentred), para("b", kAlignCentred)}},
      {"div ignores its attributes",
       "<html><center>a<div align=center>b</div>c",
       {first_empty(), para("a", kAlignCentred), para("b"), para("c", kAlignCentred)}},
  });
}

TEST(HtmlTags, HeadingsAndFontSizesChooseTheFont) {
  expect_cases({
      {"h1 is large until it closes", "<html><h1>T</h1>t", {first_empty(), para("T", kAlignLeft, kLarge), para("t")}},
      {"h4 keeps bold", "<html><b><h4>x</h4></b>", {first_empty(), para("x", kAlignLeft, kBold)}},
      {"font sizes: +2 from 3 is 5, -5 from 3 is 1, 9 is 7",
       "<html><font size=+2>a</font><font size=-5>b</font><font size=9>c",
       {runs({{"a", kLarge}, {"b", kPlain}, {"c", kLarge}})}},
      {"a small size keeps bold; bold does not replace large",
       "<html><b><font size=2>x</font></b><font size=6><b>y",
       {runs({{"x", kBold}, {"y", kLarge}})}},
      {"relative sizes count from the size in force",
       "<html><font size=5><font size=-1>a<font size=+1>b",
       {runs({{"a", kPlain}, {"b", kLarge}})}},
      {"big: base 6 stays 6, base 5 gives 7",
       "<html><basefont size=6><big><font size=-2>a</font></big><basefont size=5><big><font size=-2>b",
       {runs({{"a", kPlain}, {"b", kLarge}})}},
      {"small: base 3 gives 1, base 2 stays 2",
       "<html><basefont size=3><small><font size=+3>a</font></small><basefont size=2><small><font size=+3>b",
       {runs({{"a", kPlain}, {"b", kLarge}})}},
      {"basefont passes over signs and is not recorded",
       "<html><basefont size=+5>a</basefont>b<basefont size=3 color=red>c",
       {runs({{"ab", kLarge}, {"c", text_cell(0, kRedIndex)}})}},
      {"th is bold even in large text",
       "<html><font size=6><table><th>x",
       {first_empty(), para("x", kAlignLeft, kBold)}},
      {"a font tag without attributes applies the size in force",
       "<html><font size=6><table><th><font>x",
       {first_empty(), para("x", kAlignLeft, kLarge)}},
  });
}

TEST(HtmlTags, ListsPrefixEveryParagraph) {
  expect_cases({
      {"ol start=5", "<html><ol start=5><li>a<li>b</ol>", {first_empty(), para("   5. a"), para("   6. b")}},
      {"ol with attributes but no start counts from 1", "<html><ol type=a><li>a", {first_empty(), para("   1. a")}},
      {"numbers count paragraphs, not items",
       "<html><ol><li>a<br>b<p>c</ol>",
       {first_empty(), para("   1. a"), para("   2. b"), para("   3. c")}},
      {"a nested list indents and its end restores the counter",
       "<html><ol><li>a<ul><li>x</ul><li>b</ol>",
       {first_empty(), para("   1. a"), empty_holding('a'), para("   \x95 x"), empty_holding('x'), para("   2. b")}},
      {"dl, dt and dd",
       "<html>q<dl><dt>Term<dd>Text</dl>after",
       {para("q"), empty_holding('q'), para("  Term"), para("  - Text"), para("after")}},
      {"the prefix takes the first character's cell",
       "<html><ul><li><b>x</b>y",
       {first_empty(), runs({{" \x95 x", kBold}, {"y", kPlain}})}},
  });
}

TEST(HtmlTags, TablesSeparateCellsWithRules) {
  expect_cases({
      {"a bordered table",
       "<html><body><table border=1><tr><td>A<td>B</table>",
       {first_empty(), rule(2), para("A"), rule(1), para("B"), rule(2)}},
      {"border=0", "<html><table border=0><tr><td>A<td>B</table>", {first_empty(), para("A"), para("B")}},
      {"no border attribute", "<html><table width=5><td>A<td>B</table>", {first_empty(), para("A"), para("B")}},
      {"a border without digits", "<html><table border><td>A<td>B</table>", {first_empty(), para("A"), para("B")}},
      {"bordercolor",
       "<html><table border=2 bordercolor=red><td>A<td>B</table>",
       {first_empty(), rule(2, kRedIndex), para("A"), rule(1, kRedIndex), para("B"), rule(2, kRedIndex)}},
      {"the border colour is the text colour by default",
       "<html><font color=red><table border=1></table>",
       {first_empty(), rule(2, kRedIndex), empty_holding(' ', AttributeCell{0, kRedIndex, kNoHighlight, 2}),
        rule(2, kRedIndex)}},
      {"closing an inner table restores the outer border",
       "<html><table border=1><td>A<table><td>B<td>C</table><td>D</table>",
       {first_empty(), rule(2), para("A"), para("B"), para("C"), empty_holding('C'), rule(1), para("D"), rule(2)}},
      {"th is bold until it closes, which also restores the table start",
       "<html><table><th>H</th><td>d</table>",
       {first_empty(), runs({{"H", kBold}, {"d", kPlain}})}},
      {"a caption is centred and restores the table start",
       "<html><table border=1><caption>Cap</caption><td>A</table>",
       {first_empty(), rule(2), empty_holding(' ', AttributeCell{0, kBlackIndex, kNoHighlight, 2}),
        para("Cap", kAlignCentred), para("A"), rule(2)}},
      {"hr takes its colour attribute",
       "<html>a<hr color=red>b<hr size=3>",
       {para("a"), rule(2, kRedIndex), para("b"), rule(2)}},
      {"a rule uses the text colour", "<html><font color=red><hr>", {first_empty(), rule(2, kRedIndex)}},
      {"br", "<html>a<br>b<br><br>c", {para("a"), para("b"), empty_holding('b'), para("c")}},
  });
}

TEST(HtmlTags, TheTitleBecomesACentredParagraphOverARule) {
  const AttributeCell after_rule{0, kBlackIndex, kNoHighlight, 3};
  expect_cases({
      {"a title outside the head drops everything up to the body",
       "<html><title>My  Page</title><p>x",
       {para("My Page", kAlignCentred), rule(3)}},
      {"a title inside the head",
       "<html><head><meta name=x><title>T</title></head><body>Hello",
       {para("T", kAlignCentred), rule(3), para("Hello")}},
      {"a head without a title", "<html><head><style>p{}</style></head><body bgcolor=red>x", {para("x")}, kRedIndex},
      {"the title replaces pending text",
       "<html>pending<title>T</title><body>x",
       {para("T", kAlignCentred), rule(3), para("x")}},
      {"an empty title is an empty paragraph",
       "<html><title></title><body>x",
       {empty_holding('\0', AttributeCell{0, 0, 0, 0}, kAlignCentred), rule(3), para("x")}},
      {"line ends are dropped, tabs kept, references decoded",
       "<html><title>A\t&amp;\r\nB</title><body>",
       {para("A\t&B", kAlignCentred), rule(3)}},
      {"an empty paragraph after the title holds the rule's character",
       "<html><title>T</title><body><p>x",
       {para("T", kAlignCentred), rule(3), empty_holding(' ', after_rule), para("x")}},
  });
}

TEST(HtmlTags, HiddenTextAndLinks) {
  expect_cases({
      {"script text is dropped", "<html><script>var a = 1;</script>Hi", {first_empty(), para("Hi")}},
      {"noscript and form", "<html><noscript>a</noscript>b<form>c</form>d", {first_empty(), para("b"), para("d")}},
      {"links are blue", "<html><a href=x>link</a> x", {runs({{"link", text_cell(0, kBlueIndex)}, {" x", kPlain}})}},
      {"the body sets the link colour; \"vlink\" holds \"link\"",
       "<html><body vlink=red link=blue><a>y",
       {para("y", kAlignLeft, text_cell(0, kRedIndex))}},
      {"body text and background",
       "<html><body bgcolor=#FFFFFF text=Red>a",
       {para("a", kAlignLeft, text_cell(0, kRedIndex))},
       kWhiteIndex},
      {"a body tag without attributes changes nothing",
       "<html><font color=red><body>a",
       {para("a", kAlignLeft, text_cell(0, kRedIndex))}},
  });
}

}  // namespace
}  // namespace vellora
