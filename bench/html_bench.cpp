// Send-side throughput for web pages: a generated 10 MB HTML page through
// the HTML importer, the builder and the PDB-folder handheld, as one sync
// sends it, the peak memory of one send and html2text on the same page.
#include <random>
#include <string>

#include "bench/peer_tool.h"
#include "bench/send_bench.h"
#include "importers/html/html_importer.h"

namespace {

// A long page as editors and converters write it: headings, paragraphs of
// prose with bold words, coloured and sized fonts, links and character
// references, bulleted and numbered lists, now and then a bordered table or
// a rule, and lines wrapped at about 70 columns. Some 12,000 blocks, each
// under the paragraph limit, so the staged document stays below the
// database's 32,765 paragraphs and every byte is laid out.
class PageWriter {
 public:
  std::string page(std::size_t bytes) {
    html_.reserve(bytes + 4096);
    html_ =
        "<!DOCTYPE html>\n<html lang=en>\n<head>\n<meta charset=iso-8859-1>\n"
        "<title>A generated book</title>\n<style>p { margin: 0 }</style>\n</head>\n"
        "<body bgcolor=\"#FFFFF0\" text=\"#202020\" link=\"navy\">\n";
    for (int chapter = 1; html_.size() < bytes - 4096; ++chapter) {
      html_ += "<h2 align=center>Chapter " + std::to_string(chapter) + "</h2>\n";
      ++blocks_;
      for (int block = 0; block < 40 && html_.size() < bytes - 4096; ++block) add_block();
    }
    html_ += "<hr>\n<p align=right><small>The end.</small></p>\n</body>\n</html>\n";
    return std::move(html_);
  }
  std::size_t blocks() const { return blocks_; }

 private:
  void add_block() {
    const auto pick = random_() % 40;
    if (pick < 3) {
      html_ += pick == 0 ? "<ol start=3>\n" : "<ul>\n";
      for (std::size_t items = 2 + random_() % 4; items > 0; --items) {
        html_ += "<li>";
        add_prose(60 + random_() % 200);
        ++blocks_;
      }
      html_ += pick == 0 ? "</ol>\n" : "</ul>\n";
    } else if (pick == 3) {
      html_ += "<table border=1 bordercolor=gray>\n<tr><th>Name<th>Value</tr>\n<tr><td>";
      add_prose(40);
      html_ += "<td>";
      add_prose(40);
      html_ += "</tr>\n</table>\n";
      blocks_ += 4;
    } else if (pick == 4) {
      html_ += "<h3>Section " + std::to_string(random_() % 100) + "</h3>\n";
      ++blocks_;
    } else if (pick == 5) {
      html_ += "<hr color=silver>\n";
      ++blocks_;
    } else {
      html_ += pick == 6 ? "<p align=justify>" : "<p>";
      add_prose(700 + random_() % 300);
      html_ += "</p>\n";
      ++blocks_;
    }
  }

  void add_word() {
    for (int letters = 1 + static_cast<int>(random_() % 10); letters > 0; --letters)
      html_ += static_cast<char>('a' + random_() % 26);
  }

  // About `visible` characters of text with inline markup.
  void add_prose(std::size_t visible) {
    static const char* const kColours[] = {"red", "#0000CC", "darkgreen", "#8B4513", "purple"};
    static const char* const kReferences[] = {"&amp;", "&eacute;", "&nbsp;", "&#169;", "&lt;", "&quot;"};
    std::size_t column = 0;
    for (std::size_t shown = 0; shown < visible;) {
      const std::size_t before = html_.size();
      switch (random_() % 40) {
        case 0:
        case 1:
        case 2:
          html_ += "<b>";
          add_word();
          html_ += "</b>";
          break;
        case 3:
          html_ += "<font color=\"";
          html_ += kColours[random_() % 5];
          html_ += "\">";
          add_word();
          html_ += "</font>";
          break;
        case 4:
          html_ += "<font size=+2>";
          add_word();
          html_ += "</font>";
          break;
        case 5:
          html_ += "<a href=\"chapter.htm#s" + std::to_string(random_() % 100) + "\">";
          add_word();
          html_ += "</a>";
          break;
        case 6: html_ += kReferences[random_() % 6]; break;
        case 7:
          html_ += "<i>";
          add_word();
          html_ += "</i>";
          break;
        default: add_word();
      }
      shown += std::min<std::size_t>(html_.size() - before, 10);
      column += html_.size() - before;
      if (column > 70) {
        html_ += '\n';
        column = 0;
      } else {
        html_ += ' ';
        ++column;
      }
      ++shown;
    }
    html_ += '\n';
  }

  std::mt19937 random_{42};
  std::string html_;
  std::size_t blocks_ = 0;
};

std::string generated_page() { return PageWriter().page(vellora::bench::kGeneratedBytes); }
[[maybe_unused]] const bool kInputAdded = vellora::bench::add_generated_input("book.htm", generated_page);

vellora::bench::SendWorkspace& workspace() {
  static vellora::bench::SendWorkspace w = [] {
    PageWriter writer;
    const std::string content = writer.page(vellora::bench::kGeneratedBytes);
    return vellora::bench::SendWorkspace("book.htm", content, writer.blocks());
  }();
  return w;
}

void BM_SendHtmlFile(benchmark::State& state) {
  vellora::bench::measure_send(state, workspace(), &vellora::ImportHtml);
}
BENCHMARK(BM_SendHtmlFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

void BM_SendHtmlFilePeakMemory(benchmark::State& state) {
  vellora::bench::measure_send_peak(state, workspace(), &vellora::ImportHtml);
}
BENCHMARK(BM_SendHtmlFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PeerHtml2text(benchmark::State& state) {
  const vellora::bench::SendWorkspace& w = workspace();
  vellora::bench::measure_peer(state, w, "html2text", {w.source});
}
[[maybe_unused]] const bool kPeerAdded = vellora::bench::add_peer_benchmark("BM_PeerHtml2text", BM_PeerHtml2text);

}  // namespace
