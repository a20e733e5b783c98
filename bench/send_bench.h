// What the send benchmarks of generated documents share: a workspace
// holding the document, one send as a sync performs it (importer, packer,
// PDB-folder handheld), its throughput and its peak memory.
#pragma once

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "conduit/convert_file.h"
#include "conduit/document_types.h"
#include "conduit/write_document.h"
#include "docmodel/pipelined_sink.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "platform/text_codec.h"

namespace vellora::bench {

namespace fs = std::filesystem;

constexpr std::size_t kGeneratedBytes = 10 * 1000 * 1000;

// The generated documents by file name, so that the whole-process
// benchmarks run the command on the very bytes timed here in process.
struct GeneratedInput {
  std::string name;
  std::string (*generate)();
};
inline std::vector<GeneratedInput>& generated_inputs() {
  static std::vector<GeneratedInput> inputs;
  return inputs;
}
inline bool add_generated_input(std::string name, std::string (*generate)()) {
  generated_inputs().push_back({std::move(name), generate});
  return true;
}

// A send folder holding one generated document, removed again at exit.
struct SendWorkspace {
  SendWorkspace(const std::string& file_name, const std::string& content, std::size_t generated_paragraphs)
      : name(file_name), paragraphs(generated_paragraphs), input_bytes(content.size()) {
    fs::create_directories(send);
    std::ofstream(source, std::ios::binary) << content;
  }
  ~SendWorkspace() { fs::remove_all(root); }
  SendWorkspace(const SendWorkspace&) = delete;
  SendWorkspace& operator=(const SendWorkspace&) = delete;

  std::string name;
  std::size_t paragraphs;
  std::size_t input_bytes;
  fs::path root = fs::temp_directory_path() / ("vellora-bench-" + name + "-" + std::to_string(::getpid()));
  fs::path source = root / name;
  fs::path send = root / "send";
  fs::path handheld = root / "handheld";
};

// As the send pass does it: the importer hands its paragraphs to the
// packer, and the database is written to the handheld. A codec reads the
// source as a sync on a desktop of that encoding does; `imported` receives
// what the importer reported.
inline BuildResult send_once(const SendWorkspace& w, Importer import, const TextCodec* codec = nullptr,
                             ImportResult* imported = nullptr) {
  fs::remove_all(w.handheld);
  fs::create_directories(w.handheld);
  const auto types = document_types();
  const auto type = std::ranges::find_if(types, [&](const DocumentType& row) { return &row.import == import; });
  if (type == types.end()) return {};
  ImportOptions options;
  options.codec = codec;
  const FileConversion conversion = convert_file(*type, w.source, w.name, w.send, options, w.input_bytes);
  if (imported != nullptr) *imported = conversion.imported;
  if (!conversion.imported || !conversion.packed) return {};
  linux_host::PdbFolderHandheld handheld(w.handheld);
  return write_document(conversion.document, handheld);
}

inline void measure_send(benchmark::State& state, const SendWorkspace& w, Importer import,
                         const TextCodec* codec = nullptr) {
  BuildResult built;
  ImportResult imported;
  for (auto _ : state) {
    built = send_once(w, import, codec, &imported);
    if (!built) state.SkipWithError("send failed");
  }
  if (built.was_cut) state.SkipWithError("the document was cut; the input is not what it claims");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.input_bytes));
  state.counters["generated"] = static_cast<double>(w.paragraphs);
  state.counters["paragraphs"] = static_cast<double>(built.paragraphs);
  if (codec != nullptr) {
    // Whether the codec took the file for UTF-8 decides what was measured.
    state.counters["transcoded"] = imported.was_transcoded ? 1 : 0;
    state.counters["replaced"] = static_cast<double>(imported.replaced);
  }
}

// What a forked child measured of one piece of work: its peak resident
// memory, its wall time and what the work returned (negative: it failed).
struct ChildRun {
  long peak_kb = -1;
  double wall_ms = 0;
  long result = -1;
};

// Runs `work` (returning a long, negative on failure) in a forked child.
// The child first hands back the heap the benchmark itself left free, puts
// the allocator's settings back as a fresh process has them and resets its
// high-water mark, so the peak is the program's own footprint plus what the
// work needs.
template <typename Work>
ChildRun run_in_child(Work work) {
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipe_ends[0]);
    ::malloc_trim(0);
    ::mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's starting value, which large frees raise
    std::ofstream("/proc/self/clear_refs") << "5";
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    run.result = work();
    run.wall_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::ifstream status("/proc/self/status");
    for (std::string line; run.result >= 0 && run.peak_kb < 0 && std::getline(status, line);)
      if (line.rfind("VmHWM:", 0) == 0) run.peak_kb = std::stol(line.substr(6));
    const bool written = ::write(pipe_ends[1], &run, sizeof run) == sizeof run;
    _exit(written ? 0 : 1);
  }
  ::close(pipe_ends[1]);
  ChildRun run;
  if (child < 0 || ::read(pipe_ends[0], &run, sizeof run) != sizeof run) run = {};
  ::close(pipe_ends[0]);
  int status = 0;
  if (child > 0) ::waitpid(child, &status, 0);
  return run;
}

// The bound every command's peak memory keeps to for an input of this size.
inline double peak_limit_mb(std::size_t input_bytes) {
  return 3.0 * static_cast<double>(input_bytes) / (1024.0 * 1024.0) + 16.0;
}

// Peak memory of one send, measured in a forked child.
inline long send_once_peak_kb(const SendWorkspace& w, Importer import, const TextCodec* codec) {
  return run_in_child([&]() -> long { return send_once(w, import, codec) ? 0 : -1; }).peak_kb;
}

inline void measure_send_peak(benchmark::State& state, const SendWorkspace& w, Importer import,
                              const TextCodec* codec = nullptr) {
  long peak_kb = 0;
  for (auto _ : state) {
    peak_kb = send_once_peak_kb(w, import, codec);
    if (peak_kb <= 0) state.SkipWithError("send failed");
  }
  state.counters["peak_MB"] = static_cast<double>(peak_kb) / 1024.0;
  state.counters["limit_MB"] = peak_limit_mb(w.input_bytes);
}

}  // namespace vellora::bench
