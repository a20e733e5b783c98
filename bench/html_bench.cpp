// Send-side throughput for web pages: a generated 10 MB HTML page through
// the HTML importer, the builder and the PDB-folder handheld, as one sync
// sends it, and the peak memory of one send.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "docmodel/builder.h"
#include "importers/html/html_importer.h"
#include "platform/posix/pdb_folder_handheld.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kInputBytes = 10 * 1000 * 1000;

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
    html_ = "<!DOCTYPE html>\n<html lang=en>\n<head>\n<meta charset=iso-8859-1>\n"
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
        case 6:
          html_ += kReferences[random_() % 6];
          break;
        case 7:
          html_ += "<i>";
          add_word();
          html_ += "</i>";
          break;
        default:
          add_word();
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

struct Workspace {
  fs::path root = fs::temp_directory_path() / ("vellora-html-bench-" + std::to_string(::getpid()));
  fs::path source = root / "book.htm";
  fs::path send = root / "send";
  fs::path handheld = root / "handheld";
  std::size_t input_bytes = 0;
  std::size_t blocks = 0;

  Workspace() {
    fs::create_directories(send);
    PageWriter writer;
    const std::string html = writer.page(kInputBytes);
    std::ofstream(source, std::ios::binary) << html;
    input_bytes = html.size();
    blocks = writer.blocks();
  }
  ~Workspace() { fs::remove_all(root); }
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;
};

Workspace& workspace() {
  static Workspace w;
  return w;
}

vellora::BuildResult send_once(const Workspace& w) {
  fs::remove_all(w.handheld);
  fs::create_directories(w.handheld);
  if (!vellora::ImportHtml(w.source, w.send, "book.htm")) return {};
  vellora::posix::PdbFolderHandheld handheld(w.handheld);
  return vellora::build_document(w.send, handheld);
}

void BM_SendHtmlFile(benchmark::State& state) {
  auto& w = workspace();
  vellora::BuildResult built;
  for (auto _ : state) {
    built = send_once(w);
    if (!built) state.SkipWithError("send failed");
  }
  if (built.was_cut) state.SkipWithError("the document was cut; the input is not what it claims");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.input_bytes));
  state.counters["blocks"] = static_cast<double>(w.blocks);
  state.counters["paragraphs"] = static_cast<double>(built.paragraphs);
}
BENCHMARK(BM_SendHtmlFile)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// Peak memory of one send, measured in a forked child. The child first
// hands back the heap the benchmark itself left free, puts the allocator's
// settings back as a fresh process has them and resets its high-water mark,
// so the peak is the program's own footprint plus what one send needs.
long send_once_peak_kb(const Workspace& w) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return -1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    ::malloc_trim(0);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's starting value, which large frees raise
    std::ofstream("/proc/self/clear_refs") << "5";
    long peak_kb = send_once(w) ? 0 : -1;
    std::ifstream status("/proc/self/status");
    for (std::string line; peak_kb == 0 && std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) peak_kb = std::stol(line.substr(6));
    const bool written = ::write(pipe_ends[1], &peak_kb, sizeof peak_kb) == sizeof peak_kb;
    _exit(written ? 0 : 1);
  }
  ::close(pipe_ends[1]);
  long peak_kb = -1;
  if (::read(pipe_ends[0], &peak_kb, sizeof peak_kb) != sizeof peak_kb) peak_kb = -1;
  ::close(pipe_ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  return peak_kb;
}

void BM_SendHtmlFilePeakMemory(benchmark::State& state) {
  auto& w = workspace();
  long peak_kb = 0;
  for (auto _ : state) {
    peak_kb = send_once_peak_kb(w);
    if (peak_kb <= 0) state.SkipWithError("send failed");
  }
  state.counters["peak_MB"] = static_cast<double>(peak_kb) / 1024.0;
  state.counters["limit_MB"] = 3.0 * static_cast<double>(w.input_bytes) / (1024.0 * 1024.0) + 16.0;
}
BENCHMARK(BM_SendHtmlFilePeakMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
