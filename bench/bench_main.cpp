// The benchmarks' entry point: Google Benchmark's table, then a summary
// with one line per figure that has a target: what this run measured, the
// target, whether it is met and, where a peer tool converts the same
// generated input, that tool's time in this run and the ratio between them.
// A slowdown is measured against another benchmark of the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/peer_tool.h"
#include "bench/send_bench.h"

namespace {

using Run = benchmark::BenchmarkReporter::Run;

// What a figure reads from its run: the wall time of one iteration, the
// throughput in MB/s (10^6 bytes), the peak_MB counter of a peak-memory
// benchmark, or how much longer, in percent, each input byte takes than in
// the baseline benchmark, so that inputs of slightly different sizes
// compare fairly.
enum class Measure { wall_ms, megabytes_per_s, peak_mb, slowdown_percent };

// One line of the summary. A time, peak or slowdown must stay under its
// target, a throughput must reach it; a peak's target is its run's
// limit_MB counter. The peer is the benchmark running another program on
// the same input.
struct Figure {
  std::string_view label;
  std::string_view benchmark;
  Measure measure;
  double target = 0;
  std::string_view peer_tool = {};
  std::string_view peer_benchmark = {};
  std::string_view baseline = {};
};

constexpr Figure kFigures[] = {
    {"session: 1,000 sent + 100 received", "BM_SyncSession", Measure::wall_ms, 300},
    {"text 10 MB import + build", "BM_SendTextFile", Measure::megabytes_per_s, 150, "txt2pdbdoc", "BM_PeerTxt2pdbdoc"},
    {.label = "text 10 MB, UTF-8 setting (ASCII file)",
     .benchmark = "BM_SendTextFileUtf8Setting",
     .measure = Measure::slowdown_percent,
     .target = 10,
     .baseline = "BM_SendTextFile"},
    // Shown for what it costs, without a target: every 42nd byte starts a
    // character to transcode.
    {.label = "text 10 MB, UTF-8 transcoded",
     .benchmark = "BM_SendUtf8TextFile",
     .measure = Measure::slowdown_percent,
     .target = 0,
     .baseline = "BM_SendTextFile"},
    {"HTML 10 MB import + build", "BM_SendHtmlFile", Measure::megabytes_per_s, 100, "html2text", "BM_PeerHtml2text"},
    {"RTF 10 MB import + build", "BM_SendRtfFile", Measure::megabytes_per_s, 100, "unrtf", "BM_PeerUnrtf"},
    {"32,765 paragraphs import + build", "BM_SendMostParagraphs", Measure::wall_ms, 50},
    {"text 10 MB peak memory", "BM_SendTextFilePeakMemory", Measure::peak_mb},
    {"text 10 MB, UTF-8 peak memory", "BM_SendUtf8TextFilePeakMemory", Measure::peak_mb},
    {"HTML 10 MB peak memory", "BM_SendHtmlFilePeakMemory", Measure::peak_mb},
    {"RTF 10 MB peak memory", "BM_SendRtfFilePeakMemory", Measure::peak_mb},
    {"preview: first 3 screens of 32,765 paragraphs", "BM_PreviewMostParagraphs", Measure::wall_ms, 100},
    {"preview --screens all of 10 MB text: peak memory", "BM_PreviewAllScreensPeakMemory", Measure::peak_mb},
};

// `value` with `decimals` places and thousands separated by commas.
std::string with_commas(double value, int decimals) {
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", decimals, value);
  std::string text = digits;
  const std::size_t point = std::min(text.find('.'), text.size());
  const std::size_t first_digit = text[0] == '-' ? 1 : 0;
  for (std::size_t at = point; at > first_digit + 3; at -= 3) text.insert(at - 3, ",");
  return text;
}

double counter(const Run& run, const std::string& name) {
  const auto found = run.counters.find(name);
  return found == run.counters.end() ? 0.0 : found->second.value;
}

double wall_ms(const Run& run) {
  return run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e3;
}

// Forwards every run to the console table and keeps, for each benchmark,
// its run (the median when there are repetitions) for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  // Google Benchmark's own choice: colour on a terminal, counters after the times.
  SummaryReporter() : ConsoleReporter(::isatty(STDOUT_FILENO) != 0 ? OO_Color : OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "median") runs_[run.run_name.function_name] = run;
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    out << '\n';
    line(out, {"figure", "measured", "target", "", "peer (same input)", "ratio"});
    int met = 0;
    int targets = 0;
    for (const Figure& figure : kFigures) {
      met += summarise(out, figure) ? 1 : 0;
      targets += has_target(figure) ? 1 : 0;
    }
    out << met << " of " << targets << " targets met. A ratio compares the wall times of one conversion"
        << " of the same generated file.\n";
    std::set<std::string_view> baselines;
    for (const Figure& figure : kFigures)
      if (figure.measure == Measure::slowdown_percent) baselines.insert(figure.baseline);
    for (const std::string_view baseline : baselines)
      out << "A slowdown compares the wall time per input byte with " << baseline << "'s in this run.\n";
    out << "Throughput counts 10^6 bytes a MB, memory 2^20 as peak_MB does.\n";
  }

 private:
  // One row of the summary, each cell but the last padded to its column.
  static void line(std::ostream& out, const std::vector<std::string>& cells) {
    static constexpr std::size_t kColumnEnds[] = {50, 70, 85, 95, 121};
    std::string text;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i < std::size(kColumnEnds)) text.resize(std::max(kColumnEnds[i], text.size() + 1), ' ');
    }
    out << text.substr(0, text.find_last_not_of(' ') + 1) << '\n';
  }

  static bool has_target(const Figure& figure) { return figure.measure == Measure::peak_mb || figure.target > 0; }

  // Prints the figure's line; true when its target is met.
  bool summarise(std::ostream& out, const Figure& figure) const {
    const std::string label(figure.label);
    const auto found = runs_.find(std::string(figure.benchmark));
    if (found == runs_.end()) {
      line(out, {label, "-", "", "not run", "", ""});
      return false;
    }
    if (found->second.error_occurred) {
      line(out, {label, "-", "", "FAILED", found->second.error_message, ""});
      return false;
    }
    const Run& run = found->second;
    std::string measured, target;
    bool is_met = false;
    switch (figure.measure) {
      case Measure::wall_ms:
        measured = with_commas(wall_ms(run), 1) + " ms";
        target = "< " + with_commas(figure.target, 0) + " ms";
        is_met = wall_ms(run) < figure.target;
        break;
      case Measure::megabytes_per_s: {
        const double rate = counter(run, "bytes_per_second") / 1e6;
        measured = with_commas(rate, 1) + " MB/s";
        target = ">= " + with_commas(figure.target, 0) + " MB/s";
        is_met = rate >= figure.target;
        break;
      }
      case Measure::peak_mb:
        measured = with_commas(counter(run, "peak_MB"), 1) + " MB";
        target = "< " + with_commas(counter(run, "limit_MB"), 1) + " MB";
        is_met = counter(run, "peak_MB") < counter(run, "limit_MB");
        break;
      case Measure::slowdown_percent: {
        const auto baseline = runs_.find(std::string(figure.baseline));
        if (baseline == runs_.end() || baseline->second.error_occurred) {
          line(out, {label, "-", "", "no baseline", std::string(figure.baseline), ""});
          return false;
        }
        const double rate = counter(run, "bytes_per_second");
        const double percent = (counter(baseline->second, "bytes_per_second") / rate - 1) * 100;
        char shown[32];
        std::snprintf(shown, sizeof shown, "%+.1f%%", percent);
        measured = std::string(shown) + ", " + with_commas(rate / 1e6, 1) + " MB/s";
        if (!has_target(figure)) {
          line(out, {label, measured, "-", "", "", ""});
          return false;
        }
        target = "<= +" + with_commas(figure.target, 0) + "%";
        is_met = percent <= figure.target;
        break;
      }
    }
    const auto [peer, ratio] = compare_with_peer(figure, run);
    line(out, {label, measured, target, is_met ? "met" : "NOT MET", peer, ratio});
    return is_met;
  }

  // The peer column and the ratio column of a figure.
  std::pair<std::string, std::string> compare_with_peer(const Figure& figure, const Run& run) const {
    if (figure.peer_tool.empty()) return {"-", ""};
    const std::string tool(figure.peer_tool);
    const auto found = runs_.find(std::string(figure.peer_benchmark));
    if (found == runs_.end()) return {tool + " not run", ""};
    const Run& peer = found->second;
    if (!peer.error_occurred) return {tool + " " + with_commas(wall_ms(peer), 0) + " ms", ratio(wall_ms(peer), run)};
    const auto says = [&](std::string_view what) { return peer.error_message.find(what) != std::string::npos; };
    if (says(vellora::bench::kNotInstalled)) return {tool, std::string(vellora::bench::kNotInstalled)};
    if (!says(vellora::bench::kStopped)) return {tool, "failed"};
    // The peer was stopped, so its time, and the ratio, are at least this.
    const double limit_ms = vellora::bench::kPeerTimeLimitSeconds * 1e3;
    return {tool + " > " + with_commas(limit_ms, 0) + " ms", "> " + ratio(limit_ms, run)};
  }

  static std::string ratio(double peer_ms, const Run& run) {
    const double times = peer_ms / wall_ms(run);
    const auto shown = [](double x) { return with_commas(x, x < 10 ? 1 : 0); };
    return times >= 1 ? shown(times) + "x faster" : shown(1 / times) + "x slower";
  }

  std::map<std::string, Run> runs_;
};

// `--write-inputs=FOLDER`: writes the generated documents there and exits,
// for the whole-process benchmarks.
bool write_inputs(int argc, char** argv, int& status) {
  constexpr std::string_view kOption = "--write-inputs=";
  if (argc != 2 || std::string_view(argv[1]).substr(0, kOption.size()) != kOption) return false;
  const std::filesystem::path folder(std::string(argv[1] + kOption.size()));
  status = 0;
  for (const vellora::bench::GeneratedInput& input : vellora::bench::generated_inputs()) {
    std::ofstream out(folder / input.name, std::ios::binary);
    out << input.generate();
    if (!out.flush()) {
      std::fprintf(stderr, "vellora_bench: cannot write %s\n", (folder / input.name).c_str());
      status = 1;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (int status = 0; write_inputs(argc, argv, status)) return status;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Registered last, so their child processes run after every peak measured by forking.
  for (const vellora::bench::PeerBenchmark& peer : vellora::bench::peer_benchmarks())
    benchmark::RegisterBenchmark(peer.name.c_str(), peer.run)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3)
        ->UseRealTime();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
