// Send-side throughput for RTF documents: a generated 10 MB RTF file
// through the RTF importer, the builder and the PDB-folder handheld, as one
// sync sends it, the peak memory of one send and unrtf on the same file.
#include <random>
#include <string>

#include "bench/peer_tool.h"
#include "bench/send_bench.h"
#include "importers/rtf/rtf_importer.h"

namespace {

// A long document as word processors write it: font, colour and style
// tables and document information up front, then paragraphs that each
// restate their formatting (\pard\plain, a size, an alignment, sometimes an
// indent) and hold prose with bold words, coloured and sized runs, hex
// escapes for accented letters and curly quotes, now and then a heading or
// a table row, with lines wrapped at about 70 columns. Some 12,000
// paragraphs, each under the paragraph limit, so every byte is laid out.
class DocumentWriter {
 public:
  std::string document(std::size_t bytes) {
    rtf_.reserve(bytes + 4096);
    rtf_ =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033\n"
        "{\\fonttbl{\\f0\\froman\\fprq2\\fcharset0 Times New Roman;}{\\f1\\fswiss\\fprq2\\fcharset0 Arial;}"
        "{\\f2\\fmodern\\fprq1\\fcharset0 Courier New;}}\n"
        "{\\colortbl;\\red0\\green0\\blue0;\\red192\\green0\\blue0;\\red0\\green0\\blue160;\\red0\\green128\\blue0;"
        "\\red139\\green69\\blue19;\\red255\\green255\\blue0;}\n"
        "{\\stylesheet{\\s0\\snext0\\fs24 Normal;}{\\s1\\sbasedon0\\snext0\\b\\fs36 heading 1;}}\n"
        "{\\*\\generator Bench Writer 1.0;}{\\info{\\title A generated book}{\\author Nobody}"
        "{\\creatim\\yr2024\\mo1\\dy2\\hr3\\min4}}\n"
        "\\paperw12240\\paperh15840\\margl1440\\margr1440\\margt1440\\margb1440\\sectd\\sbknone\\pgndec\n";
    for (int chapter = 1; rtf_.size() < bytes - 4096; ++chapter) {
      rtf_ += "\\pard\\plain\\s1\\qc\\b\\fs48 Chapter " + std::to_string(chapter) + "\\par\n";
      ++paragraphs_;
      for (int block = 0; block < 40 && rtf_.size() < bytes - 4096; ++block) add_block();
    }
    rtf_ += "\\pard\\plain\\qr\\fs16 The end.\\par\n}\n";
    ++paragraphs_;
    return std::move(rtf_);
  }
  std::size_t paragraphs() const { return paragraphs_; }

 private:
  void add_block() {
    const auto pick = random_() % 40;
    if (pick == 0) {
      rtf_ += "\\trowd\\trgaph108\\cellx4000\\cellx8000\\pard\\intbl Name\\cell Value\\cell\\row\n";
    } else if (pick == 1) {
      rtf_ += "\\pard\\plain\\s1\\b\\fs36 Section " + std::to_string(random_() % 100) + "\\par\n";
      ++paragraphs_;
    } else {
      static const char* const kAlignments[] = {"\\ql", "\\qj", "\\qc", "\\qr"};
      static const char* const kIndents[] = {"", "", "\\li720", "\\li1440\\fi-360"};
      rtf_ += "\\pard\\plain";
      rtf_ += kAlignments[random_() % 4];
      rtf_ += kIndents[random_() % 4];
      rtf_ += "\\f0\\fs24 ";
      add_prose(500 + random_() % 300);
      rtf_ += "\\par\n";
      ++paragraphs_;
    }
  }

  void add_word() {
    for (int letters = 1 + static_cast<int>(random_() % 10); letters > 0; --letters)
      rtf_ += static_cast<char>('a' + random_() % 26);
  }

  // About `visible` characters of text with inline formatting.
  void add_prose(std::size_t visible) {
    static const char* const kEscapes[] = {"\\'e9", "\\'e8", "\\'fc", "\\lquote", "\\rquote", "\\'96", "\\tab"};
    std::size_t column = 0;
    for (std::size_t shown = 0; shown < visible;) {
      const std::size_t before = rtf_.size();
      switch (random_() % 30) {
        case 0:
        case 1:
          rtf_ += "{\\b ";
          add_word();
          rtf_ += "}";
          break;
        case 2:
          rtf_ += "{\\cf" + std::to_string(2 + random_() % 4) + " ";
          add_word();
          rtf_ += "}";
          break;
        case 3:
          rtf_ += "{\\fs48 ";
          add_word();
          rtf_ += "}";
          break;
        case 4:
          rtf_ += "{\\highlight6 ";
          add_word();
          rtf_ += "}";
          break;
        case 5:
          add_word();
          rtf_ += kEscapes[random_() % 7];
          add_word();
          break;
        case 6:
          rtf_ += "{\\i ";
          add_word();
          rtf_ += "}";
          break;
        default: add_word();
      }
      shown += std::min<std::size_t>(rtf_.size() - before, 10);
      column += rtf_.size() - before;
      if (column > 70) {
        rtf_ += "\r\n";
        column = 0;
      }
      rtf_ += ' ';
      ++column;
      ++shown;
    }
  }

  std::mt19937 random_{42};
  std::string rtf_;
  std::size_t paragraphs_ = 0;
};

std::string generated_document() { return DocumentWriter().document(vellora::bench::kGeneratedBytes); }
[[maybe_unused]] const bool kInputAdded = vellora::bench::add_generated_input("book.rtf", generated_document);

vellora::bench::SendWorkspace& workspace() {
  static vellora::bench::SendWorkspace w = [] {
    DocumentWriter writer;
    const std::string content = writer.document(vellora::bench::kGeneratedBytes);
    return vellora::bench::SendWorkspace("book.rtf", content, writer.paragraphs());
  }();
  return w;
}

void BM_SendRtfFile(benchmark::State& state) { vellora::bench::measure_send(state, workspace(), &vellora::ImportRtf); }
BENCHMARK(BM_SendRtfFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendRtfFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, workspace(), &vellora::ImportRtf);
}
BENCHMARK(BM_SendRtfFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PeerUnrtf(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = workspace();
  vellora::bench::measure_peer(state, w, "unrtf", {"--text", w.source});
}
[[maybe_unused]] const bool kPeerAdded = vellora::bench::add_peer_benchmark("BM_PeerUnrtf", BM_PeerUnrtf);

}  // namespace
