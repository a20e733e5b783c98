// The HTML importer's reader: the search for the html tag, text flow,
// blank collapsing, the paragraph limits, comments, preformatted text, the
// closing rule, and the limits that keep hostile input inside the buffers.
// Every case compares the staging bytes exactly.
#include <gtest/gtest.h>

#include "tests/importers/html/html_staging.h"

namespace vellora {
namespace {

using namespace std::string_literals;
using namespace testing;

TEST(HtmlImport, NothingBeforeTheHtmlTagIsImported) {
  for (const std::string& html : {""s, "just text<p>and a paragraph"s, "<htmlx>x"s, "<\0html>x"s}) {
    const StagingBytes staged = import_html(html);
    EXPECT_EQ(staged.data.size(), 33u) << html;
    EXPECT_TRUE(staged.sizes.empty()) << html;
  }
  expect_cases({
      {"declarations and text before the tag", "junk <!DOCTYPE html><p>x<HTML lang=en>y", {para("y")}},
      {"the first html tag counts", "<body>a<html>b<html>c", {para("bc")}},
      {"a '<' ends a comment, even before the html tag", "<!-- <html> -->x", {para(" --x")}},
  });
}

TEST(HtmlImport, TextFlowsIntoParagraphs) {
  expect_cases({
      {"text after the closing html tag", "<html>a</html>b", {para("ab")}},
      {"a closing html tag's rest is not skipped", "<html>a</html foo>", {para("afoo")}},
      {"other spellings are ordinary closing tags", "<html>a</HTML foo>b", {para("ab")}},
      {"'>' outside a tag is dropped", "<html>a > b", {para("a b")}},
      {"blanks collapse around empty tags", "<html>a  <b></b>  b", {para("a b")}},
      {"empty paragraphs do not repeat; a leading space stays",
       "<html>x <p></p><p> y",
       {para("x"), empty_holding('x'), para(" y")}},
      {"tabs and line ends become spaces", "<html>a\tb\r\nc\n", {para("a b c")}},
      {"a line end starts no paragraph with a space, a tab does", "<html>\n\r\n\tx", {para(" x")}},
      {"a paragraph of spaces is not written", "<html>a<br>   \t <br>b", {para("a"), para("b")}},
      {"1012 characters make a paragraph",
       "<html>" + std::string(1100, 'y'),
       {para(std::string(1012, 'y')), para(std::string(88, 'y'))}},
      {"a comment ends at its first '<'", "<html><!-- a < b -->x", {para("x")}},
      {"a comment ends at its first '>'", "<html><!-- a > b -->", {para(" b --")}},
      {"a NUL after '<' ends the document", "<html>a<\0b"s, {para("a")}},
      {"a NUL ends a tag name", "<html><b\0junk>x"s, {para("x", kAlignLeft, kBold)}},
      {"a name is everything up to a blank or '>'", "<html><br/>a<b\tx>b", {para("ab")}},
  });
}

TEST(HtmlImport, PreformattedLineEndsEndParagraphs) {
  expect_cases({
      {"one paragraph per line, one empty paragraph per run of blank lines",
       "<html><pre>a\nb\n\n\nc</pre>",
       {first_empty(), para("a"), para("b"), empty_holding('b'), para("c")}},
      {"CR LF gives an empty paragraph after every line",
       "<html><pre>a\r\nb\r\n</pre>",
       {first_empty(), para("a"), empty_holding('a'), para("b"), empty_holding('b')}},
      {"blanks still collapse", "<html><xmp>  a   b  \n</xmp>", {first_empty(), para(" a b"), empty_holding(' ')}},
  });
}

TEST(HtmlImport, ClosingTagsRestoreTheStateBeforeTheirTag) {
  expect_cases({
      {"a tag closed out of order hands its state to the tags opened inside it",
       "<html><b>x<font color=red>y</b>z</font>",
       {runs({{"x", kBold}, {"y", text_cell(1, kRedIndex)}, {"z", kPlain}})}},
      {"closing script shows the text of a tag opened inside it",
       "<html><script><b></script>text</b>more",
       {first_empty(), para("textmore")}},
      {"every paragraph inside a list gets the prefix",
       "<html>t<ul><li>a<br>b</ul>",
       {para("t"), empty_holding('t'), para(" \x95 a"), para(" \x95 b")}},
      {"closing tags of tags never recorded do nothing", "<html><b>a</td></li></body></i>b", {para("ab", 0, kBold)}},
  });
}

TEST(HtmlImport, EveryFileStartsFromCleanState) {
  import_html("<html><b><font color=red><ul><pre>x");
  EXPECT_TRUE(StagesExactly("<html>y z", {para("y z")}));
}

// Limits that hold where the original description would overrun a buffer
// or grow without bound.
TEST(HtmlImport, BuffersHoldOnHostileInput) {
  const std::string x1012(1012, 'x');
  expect_cases({
      {"tabs past 1024 characters are dropped",
       "<html>" + std::string(1011, 'a') + std::string(30, '\t') + "b",
       {para(std::string(1011, 'a')), para("b")}},
      {"line ends past 1024 characters are dropped",
       "<html>" + std::string(1011, 'a') + std::string(30, '\n') + "b",
       {para(std::string(1011, 'a')), para("b")}},
      {"a prefix too long for one paragraph: the first 1024 characters are flushed again",
       "<html>" + repeated("<ul>", 10) + x1012,
       {first_empty(), para(" \x95 " + std::string(1003, 'x')), para(std::string(9, 'x'))}},
      {"600 nested lists: the indentation gives way, the paragraph holds 1024",
       "<html>" + repeated("<ul>", 600) + x1012,
       {first_empty(), para(std::string(10, ' ') + "\x95 " + x1012)}},
      {"a tag name of 70,000 characters", "<html>a<" + std::string(70000, 'q') + ">b", {para("ab")}},
      {"a long tag name keeps its terminator", "<html>a<" + std::string(300, 'q') + " x=1>b", {para("ab")}},
      {"attribute text past 254 characters is dropped",
       "<html><font" + std::string(300, ' ') + "color=red>x",
       {para("x")}},
      {"the first 254 characters of attribute text count",
       "<html><font color=red" + std::string(300, ' ') + "size=7>x",
       {para("x", kAlignLeft, text_cell(0, kRedIndex))}},
  });
}

TEST(HtmlImport, TheTagStackStopsRecordingAt65536Entries) {
  const auto bold_tags = [](std::size_t count) {
    return "<html>" + repeated("<b>", count) + "<font color=red>x</font>y";
  };
  // The font tag is handled either way; on a full stack it is not recorded,
  // so its closing tag restores nothing.
  EXPECT_TRUE(StagesExactly(bold_tags(65535), {runs({{"x", text_cell(1, kRedIndex)}, {"y", kBold}})}));
  EXPECT_TRUE(StagesExactly(bold_tags(65536), {para("xy", kAlignLeft, text_cell(1, kRedIndex))}));
}

TEST(HtmlImport, AClosingTagOnAFullStackClosesItsOwnTagNotAnOlderOne) {
  // The inner b is only counted: its closing tag leaves the outer b open.
  const std::string html = "<html><b>" + repeated("<i>", 65535) + "<b>x</b>y";
  EXPECT_TRUE(StagesExactly(html, {para("xy", kAlignLeft, kBold)}));
  EXPECT_EQ(incomplete_note(&stage_html, html + repeated("</i>", 70000)), "");
}

TEST(HtmlImport, ATitleBeyond254CharactersIsReportedAsCut) {
  const auto page = [](const std::string& title) { return "<html><title>" + title + "</title><body>x"; };
  const std::string longest(254, 't');
  EXPECT_TRUE(StagesExactly(page(longest + "u"), {para(longest, kAlignCentred), rule(3), para("x")}));
  EXPECT_EQ(incomplete_note(&stage_html, page(longest)), "");
  EXPECT_EQ(incomplete_note(&stage_html, page(longest + "   \r\n")), "");  // only blanks dropped
  EXPECT_EQ(incomplete_note(&stage_html, page(longest + "u")),
            "its title, at offset 13, is longer than 254 characters, and only the first 254 are converted");
}

TEST(HtmlImport, ClosingTagsStayCheapOnADeepStack) {
  // 30,000 bold tags under 35,000 paragraphs, each closed from below.
  const std::string html = "<html>" + repeated("<b>", 30000) + repeated("<p>", 35000) + repeated("</b>", 30000);
  EXPECT_TRUE(StagesExactly(html + "x", {first_empty(), para("x")}));
}

}  // namespace
}  // namespace vellora
