// Send-side throughput: a generated 10 MB text file through the text
// importer, the builder and the PDB-folder handheld, as one sync sends it,
// the peak memory of one send and txt2pdbdoc on the same file; the same
// file read by the UTF-8 codec, and a UTF-8 file of the same shape that it
// transcodes; and the send of a document with as many paragraphs as a
// database holds.
#include <algorithm>
#include <random>
#include <string>
#include <string_view>

#include "bench/peer_tool.h"
#include "bench/send_bench.h"
#include "importers/text/text_importer.h"
#include "platform/posix/utf8_codec.h"

namespace {

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
std::string generate_text(std::size_t bytes, Utf8Decoration* decoration = nullptr) {
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

const vellora::posix::Utf8Codec kUtf8Codec;

vellora::bench::SendWorkspace& workspace() {
  static vellora::bench::SendWorkspace w = [] {
    const std::string text = generate_text(vellora::bench::kGeneratedBytes);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return vellora::bench::SendWorkspace("book.txt", text, lines + 1);
  }();
  return w;
}

void BM_SendTextFile(benchmark::State& state) { vellora::bench::measure_send(state, workspace(), &vellora::ImportText); }
BENCHMARK(BM_SendTextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendTextFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, workspace(), &vellora::ImportText);
}
BENCHMARK(BM_SendTextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// A user whose desktop is UTF-8 sending the same ASCII file: the codec
// reads it whole once to find nothing to transcode.
void BM_SendTextFileUtf8Setting(benchmark::State& state) {
  vellora::bench::measure_send(state, workspace(), &vellora::ImportText, &kUtf8Codec);
  if (!state.error_occurred() && state.counters["transcoded"] != 0)
    state.SkipWithError("an ASCII file was transcoded");
}
BENCHMARK(BM_SendTextFileUtf8Setting)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

vellora::bench::SendWorkspace& utf8_workspace() {
  static vellora::bench::SendWorkspace w = [] {
    Utf8Decoration decoration;
    const std::string text = generate_text(vellora::bench::kGeneratedBytes, &decoration);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    return vellora::bench::SendWorkspace("book-utf8.txt", text, lines + 1);
  }();
  return w;
}

void BM_SendUtf8TextFile(benchmark::State& state) {
  vellora::bench::measure_send(state, utf8_workspace(), &vellora::ImportText, &kUtf8Codec);
  if (!state.error_occurred() && (state.counters["transcoded"] != 1 || state.counters["replaced"] == 0))
    state.SkipWithError("the file was not transcoded, or nothing in it replaced");
}
BENCHMARK(BM_SendUtf8TextFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendUtf8TextFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, utf8_workspace(), &vellora::ImportText, &kUtf8Codec);
}
BENCHMARK(BM_SendUtf8TextFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PeerTxt2pdbdoc(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = workspace();
  vellora::bench::measure_peer(state, w, "txt2pdbdoc", {"A generated book", w.source, w.root / "peer.pdb"});
}
[[maybe_unused]] const bool kPeerAdded = vellora::bench::add_peer_benchmark("BM_PeerTxt2pdbdoc", BM_PeerTxt2pdbdoc);

// Short lines of a few words, one paragraph each, exactly as many as a
// database holds: the cost per paragraph rather than per byte.
vellora::bench::SendWorkspace& most_paragraphs_workspace() {
  static vellora::bench::SendWorkspace w = [] {
    std::mt19937 random(7);
    std::string text;
    for (std::size_t line = 0; line < vellora::kMaxParagraphs; ++line) {
      for (int words = 2 + static_cast<int>(random() % 5); words > 0; --words) {
        for (int letters = 1 + static_cast<int>(random() % 8); letters > 0; --letters)
          text += static_cast<char>('a' + random() % 26);
        text += words == 1 ? '\n' : ' ';
      }
    }
    return vellora::bench::SendWorkspace("paragraphs.txt", text, vellora::kMaxParagraphs);
  }();
  return w;
}

void BM_SendMostParagraphs(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = most_paragraphs_workspace();
  vellora::bench::measure_send(state, w, &vellora::ImportText);
  if (!state.error_occurred() && state.counters["paragraphs"] != static_cast<double>(w.paragraphs))
    state.SkipWithError("the database does not hold every generated paragraph");
}
BENCHMARK(BM_SendMostParagraphs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
