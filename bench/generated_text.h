// The documents the benchmarks generate: prose-like text, its UTF-8
// decoration, and short lines as many as a database holds. Shared so that
// the send and the preview benchmarks measure the same documents.
#pragma once

#include <random>
#include <string>
#include <string_view>

#include "docmodel/staging.h"

namespace vellora::bench {

// What a UTF-8 editor adds to a word now and then: an accented letter in
// it, quotes around it, a dash or an ellipsis after it, a price in euros
// in its place, and rarely a character the handheld's set lacks. About one
// character in 40 bytes is not ASCII.
class Utf8Decoration {
 public:
  // Appends the word `letters` as it ends up in the text.
  void append_word(std::string_view letters, std::string& text) {
    const unsigned choice = random_() % 48;
    if (choice >= 8) {
      text += letters;
    } else if (choice == 0 && random_() % 32 == 0) {
      text += "\u6F22";
    } else if (choice < 5) {
      static constexpr std::string_view kAccented[] = {"\u00E9", "\u00FC", "\u00DF", "\u00E0", "\u00E7",
                                                       "\u00F1", "\u00F6", "\u0153", "\u0161"};
      const std::size_t at = random_() % letters.size();
      text += letters.substr(0, at);
      text += kAccented[random_() % std::size(kAccented)];
      text += letters.substr(at + 1);
    } else if (choice == 5) {
      const bool is_double = random_() % 2 == 0;
      text += is_double ? "\u201C" : "\u2018";
      text += letters;
      text += is_double ? "\u201D" : "\u2019";
    } else if (choice == 6) {
      text += letters;
      text += random_() % 2 == 0 ? " \u2014" : "\u2026";
    } else {
      text += "\u20AC" + std::to_string(letters.size() * 7);
    }
  }

 private:
  std::mt19937 random_{1252};
};

// Prose-like text as editors save it: one line per paragraph, 300 to 1,100
// characters of words from 1 to 12 letters, a blank line between
// paragraphs, now and then a tab. The document stays under the database's
// 32,765-paragraph limit, so every byte reaches the handheld. With
// `decoration` the words are those of the plain text, decorated.
inline std::string generate_text(std::size_t bytes, Utf8Decoration* decoration = nullptr) {
  std::mt19937 random(42);
  std::string text;
  text.reserve(bytes + 2048);
  std::string word;
  while (text.size() < bytes) {
    if (random() % 7 == 0) text += '\t';
    const std::size_t length = 300 + random() % 800;
    for (std::size_t line = 0; line < length;) {
      const int letters = 1 + static_cast<int>(random() % 12);
      word.clear();
      for (int i = 0; i < letters; ++i) word += static_cast<char>('a' + random() % 26);
      if (decoration != nullptr)
        decoration->append_word(word, text);
      else
        text += word;
      text += random() % 15 == 0 ? ", " : " ";
      line += static_cast<std::size_t>(letters) + 1;
    }
    text += "\n\n";
  }
  text.resize(bytes);
  // A character cut by the end would make the file not UTF-8 at all.
  while (!text.empty() && static_cast<unsigned char>(text.back()) >= 0x80) text.pop_back();
  return text;
}

// Short lines of a few words, one paragraph each, exactly as many as a
// database holds: the cost per paragraph rather than per byte.
inline std::string most_paragraphs_text() {
  std::mt19937 random(7);
  std::string text;
  for (std::size_t line = 0; line < kMaxParagraphs; ++line) {
    for (int words = 2 + static_cast<int>(random() % 5); words > 0; --words) {
      for (int letters = 1 + static_cast<int>(random() % 8); letters > 0; --letters)
        text += static_cast<char>('a' + random() % 26);
      text += words == 1 ? '\n' : ' ';
    }
  }
  return text;
}

}  // namespace vellora::bench
