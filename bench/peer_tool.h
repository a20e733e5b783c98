// Times a peer converter on the same generated input as a send benchmark:
// the tool runs as a child process with its standard streams on /dev/null,
// reading and writing only the files named on its command line, and each
// iteration is the wall time of one run.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/send_bench.h"

namespace vellora::bench {

// The benchmarks that time peer tools. main registers them after every
// benchmark of this program, so no child process runs while a peak is
// measured by forking.
struct PeerBenchmark {
  std::string name;
  void (*run)(benchmark::State&);
};

inline std::vector<PeerBenchmark>& peer_benchmarks() {
  static std::vector<PeerBenchmark> all;
  return all;
}

// For a file-scope initialiser, as BENCHMARK is used.
inline bool add_peer_benchmark(std::string name, void (*run)(benchmark::State&)) {
  peer_benchmarks().push_back({std::move(name), run});
  return true;
}

// The executable `tool` names on PATH; empty when it is not installed.
inline std::filesystem::path find_on_path(std::string_view tool) {
  const char* path = std::getenv("PATH");
  for (std::string_view rest = path != nullptr ? path : ""; !rest.empty();) {
    const std::size_t colon = std::min(rest.find(':'), rest.size());
    const std::filesystem::path candidate = std::filesystem::path(rest.substr(0, colon)) / tool;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    rest.remove_prefix(std::min(colon + 1, rest.size()));
  }
  return {};
}

// How long one run of a peer may take. Some tools slow down faster than
// their input grows; a stopped run still bounds the ratio.
inline constexpr int kPeerTimeLimitSeconds = 20;

// The summary recognises these endings of a peer run's error message.
inline constexpr std::string_view kNotInstalled = "not installed";
inline constexpr std::string_view kStopped = "was stopped at the time limit";

enum class PeerOutcome { ok, failed, stopped };

// Runs `tool` with `args`, stdin, stdout and stderr on /dev/null, and
// waits for it, killing it at the time limit.
inline PeerOutcome run_quietly(const std::filesystem::path& tool, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(tool.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (int fd : {1, 2}) ::posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return PeerOutcome::failed;
  // Polling every millisecond costs nothing next to runs of seconds.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kPeerTimeLimitSeconds);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return PeerOutcome::stopped;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? PeerOutcome::ok : PeerOutcome::failed;
}

inline void measure_peer(benchmark::State& state, const SendWorkspace& w, std::string_view tool,
                         const std::vector<std::string>& args) {
  const std::string name(tool);
  const std::filesystem::path path = find_on_path(tool);
  if (path.empty()) {
    state.SkipWithError((name + " is " + std::string(kNotInstalled)).c_str());
    return;
  }
  for (auto _ : state) {
    const PeerOutcome outcome = run_quietly(path, args);
    if (outcome == PeerOutcome::ok) continue;
    const std::string why =
        outcome == PeerOutcome::stopped
            ? "ran " + std::to_string(kPeerTimeLimitSeconds) + " s on the generated input and " + std::string(kStopped)
            : "failed on the generated input";
    state.SkipWithError((name + " " + why).c_str());
    break;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * w.input_bytes));
}

}  // namespace vellora::bench
