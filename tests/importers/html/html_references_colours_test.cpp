// Character references, decoded when a paragraph ends, and colour values
// read from attribute text.
#include <gtest/gtest.h>

#include "tests/importers/html/html_staging.h"

namespace vellora {
namespace {

using namespace std::string_literals;
using namespace testing;

TEST(HtmlReferences, BecomeOneByteEach) {
  const struct {
    std::string text;
    std::string decoded;
  } cases[] = {
      {"&lt;b&gt;", "<b>"},
      {"&quot;&amp;", "\"&"},
      {"&copy;&Eacute;&eacute;&EACUTE;", "\xA9\xC9\xE9\xA0"},
      {"a&nbsp;&nbsp;b", "a  b"},  // collapsing comes first
      {"&#65;&#8364;&#x41;", "A\xAC\0"s},
      {"&#99999999999999999999;&#-65;&#+66;&#;",
       "\xFF\xBF"
       "B\0"s},
      {"&unknown;&;", "\xA0\xA0"},
      {"&am\0p;"s, "\xA0"},  // a NUL ends the name
      {"a&amp;;b", "a&;b"},
      {"&amp;amp;", "&amp;"},
      {"x&lt;y;z", "x<y;z"},
      // An '&' before a space or without a ';' is an ordinary character.
      {"Tom & Jerry; run", "Tom & Jerry; run"},
      {"Tom & Jerry", "Tom & Jerry"},
      {"&lt", "&lt"},
      {"a &lt b &gt;", "a &lt b >"},
      {"AT&T; &copy;", "AT\xA0 \xA9"},
  };
  for (const auto& c : cases) EXPECT_TRUE(StagesExactly("<html>" + c.text, {para(c.decoded)})) << c.text;
}

TEST(HtmlReferences, TakeTheCellOfTheSemicolon) {
  expect_cases({
      {"plain ';'", "<html><b>&amp</b>;x", {para("&x")}},
      {"bold ';'", "<html>&amp<b>;</b>x", {runs({{"&", kBold}, {"x", kPlain}})}},
      {"the 1012 test counts references undecoded",
       "<html>" + std::string(1010, 'a') + "&amp;",
       {para(std::string(1010, 'a') + "&a"), para("mp;")}},
  });
}

TEST(HtmlColours, ReadHexPairsAndNames) {
  const auto index = [](std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return nearest_colour(pack_colour(red, green, blue));
  };
  const struct {
    std::string value;
    std::uint8_t colour;
  } cases[] = {
      {"red", kRedIndex},
      {"Red", kRedIndex},  // attribute text is lower-cased
      {"#FF0000", kRedIndex},
      {"\"#00ff00\"", index(0, 255, 0)},
      {"aliceblue", index(0xF0, 0xF8, 0xFF)},
      {"lightgoldenrodyellow", index(250, 250, 210)},
      {"lightgrey", index(211, 211, 211)},
      {"slategray", index(112, 128, 144)},
      {"lightgray", kBlackIndex},  // not in the table
      {"grey", kBlackIndex},
      {"light-blue", kBlackIndex},     // the name ends at the '-'
      {"123456 size=2", kBlackIndex},  // digits are passed over up to "size"
      // Short forms are not recognised: the characters after them are read
      // as digits, any byte k as k - 87, and the end of the text as 0.
      {"#f00 size=3", index(240, 201, 210)},
      {"#f00", index(240, 169, 57)},
      {"", kRedIndex},  // nothing to read leaves the colour as it was
      {"!!", kRedIndex},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(StagesExactly("<html><font color=red><font color=" + c.value + ">x",
                              {para("x", kAlignLeft, text_cell(0, c.colour))}))
        << c.value;

  expect_cases({
      {"the background is a named colour", "<html><body bgcolor=navy>x", {para("x")}, 107},
      {"the background in upper-case hex", "<html><body bgcolor=#FFFFFF>x", {para("x")}, kWhiteIndex},
      {"the background set at the end counts", "<html>x<body bgcolor=red>", {para("x")}, kRedIndex},
  });
}

}  // namespace
}  // namespace vellora
