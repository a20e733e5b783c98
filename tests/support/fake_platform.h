// Recording stand-ins for the registry, message boxes, the HotSync log and
// the language library, and a fixture that wires them into a Conduit with
// the fake handheld and temporary send and receive folders.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "conduit/session.h"
#include "tests/support/fake_converters.h"
#include "tests/support/fake_sync_manager.h"
#include "tests/support/temp_dir.h"

namespace vellora::testing {

class FakeRegistry : public Registry {
 public:
  std::map<std::string, std::string> strings;  // value name -> string, settings key only
  std::map<std::string, std::uint32_t> numbers;
  // (key, value name) -> string, under HKEY_LOCAL_MACHINE
  std::map<std::pair<std::string, std::string>, std::string> machine_strings;
  std::optional<std::string> read_string(RegistryHive hive, std::string_view key,
                                         std::string_view value) const override {
    if (hive == RegistryHive::local_machine) {
      const auto found = machine_strings.find({std::string(key), std::string(value)});
      if (found == machine_strings.end()) return std::nullopt;
      return found->second;
    }
    auto it = strings.find(std::string(value));
    if (hive != RegistryHive::current_user || key != kSettingsKey || it == strings.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::uint32_t> read_dword(RegistryHive hive, std::string_view key,
                                          std::string_view value) const override {
    auto it = numbers.find(std::string(value));
    if (hive != RegistryHive::current_user || key != kSettingsKey || it == numbers.end()) return std::nullopt;
    return it->second;
  }
};

struct ShownBox {
  std::string text, caption;
  std::uint32_t style;
};

class ScriptedMessageBox : public MessageBoxes {
 public:
  std::vector<ShownBox> shown;
  std::deque<int> answers;  // Yes/No answers in order; No when empty
  int show(std::string_view text, std::string_view caption, std::uint32_t style) override {
    shown.push_back({std::string(text), std::string(caption), style});
    if (style != kStyleYesNoWarning) return kAnswerOk;
    if (answers.empty()) return kAnswerNo;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class RecordingLog : public HotSyncLog {
 public:
  std::vector<std::pair<std::string, std::int32_t>> entries;
  void add_entry(std::string_view text, std::int32_t activity) override { entries.emplace_back(text, activity); }
};

class RecordingLanguage : public LanguageLibrary {
 public:
  std::vector<std::string> calls;
  ModuleHandle load(std::string_view file, ModuleHandle instance, int*) override {
    calls.push_back("load " + std::string(file) + " " + std::to_string(instance));
    return 0x5000;
  }
  void release(ModuleHandle library, ModuleHandle instance) override {
    calls.push_back("release " + std::to_string(library) + " " + std::to_string(instance));
  }
};

// A conduit over fakes, with send and receive folders set in the registry.
class ConduitFixture {
 public:
  ConduitFixture() {
    std::filesystem::create_directories(send_dir());
    std::filesystem::create_directories(receive_dir());
    registry.strings["FolderForSFiles"] = send_dir().string();
    registry.strings["FolderForRFiles"] = receive_dir().string();
    conduit.on_event = [this](const SessionEvent& e) { events.push_back(e); };
  }
  std::filesystem::path send_dir() const { return root / "send"; }
  std::filesystem::path receive_dir() const { return root / "receive"; }
  std::filesystem::path sent(const std::string& name) const { return send_dir() / name; }
  std::filesystem::path received(const std::string& name) const { return receive_dir() / name; }
  bool has_event(SessionEventKind kind, const std::string& subject) const {
    for (const auto& e : events)
      if (e.kind == kind && e.subject == subject) return true;
    return false;
  }

  TempDir root;
  FakeSyncManager handheld;
  FakeRegistry registry;
  ScriptedMessageBox boxes;
  RecordingLog log;
  RecordingLanguage language;
  FakeConverters converters;
  Conduit conduit{Platform{handheld, registry, boxes, log, language, converters}};
  std::vector<SessionEvent> events;
};

}  // namespace vellora::testing
