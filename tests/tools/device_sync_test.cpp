// `vellora sync --device` against the fake handheld, over a TCP port, the
// serial stack on a pty and NetSync framing on a pty, compared with the
// same session against a handheld folder seeded alike: the databases
// (name, type, creator, version, flags, every record with its category
// and attributes), the send and receive folders, and the lines printed
// must all be the same. Then the command's own lines and its failures.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hosts/linux/pdb_file.h"
#include "tests/support/fake_handheld/fake_handheld.h"
#include "tests/support/temp_dir.h"

namespace vellora {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using linux_host::read_pdb_file;
using linux_host::write_pdb_file;
using testing::FakeHandheld;
using testing::FakeHandheldOptions;

enum class Transport { network, serial_pty, netsync_pty };

const char* transport_name(Transport transport) {
  switch (transport) {
    case Transport::network: return "network";
    case Transport::serial_pty: return "serial on a pty";
    case Transport::netsync_pty: return "NetSync on a pty";
  }
  return "";
}

struct CliRun {
  int status = -1;
  std::vector<std::string> lines;  // stdout and stderr together
};

int exit_status(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

bool run_quietly(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Runs vellora with `args`; `on_line` sees each line as it comes.
CliRun vellora(const std::string& args, const std::function<void(const std::string&)>& on_line = {}) {
  CliRun run;
  const std::string command = std::string(VELLORA_CLI) + " " + args + " </dev/null 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (on_line) on_line(line);
    run.lines.push_back(line);
  }
  run.status = exit_status(::pclose(pipe));
  return run;
}

// A database as the comparison sees it: no dates, no unique IDs.
std::string describe(const PdbDatabase& db) {
  std::ostringstream out;
  out << db.header.name << " type " << four_cc_text(db.header.type) << " creator " << four_cc_text(db.header.creator)
      << " version " << db.header.version << " flags " << db.header.attributes << "\n";
  for (std::size_t i = 0; i < db.record_count(); ++i) {
    const PdbRecordView record = db.record(i);
    out << "  record " << i << " category " << int(record.category) << " attributes " << int(record.attributes) << ":";
    for (const std::uint8_t byte : record.data) out << ' ' << std::hex << int(byte) << std::dec;
    out << "\n";
  }
  return out.str();
}

// Every database of a folder, by name; and every plain file of a folder.
std::map<std::string, std::string> databases_in(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    PdbDatabase db;
    if (entry.path().extension() == ".pdb" && read_pdb_file(entry.path(), db)) out[db.header.name] = describe(db);
  }
  return out;
}

std::map<std::string, std::vector<std::uint8_t>> files_in(const fs::path& folder) {
  std::map<std::string, std::vector<std::uint8_t>> out;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) out[entry.path().filename().string()] = testing::read_file(entry.path());
  return out;
}

// The lines of a session without those only a device prints, with the
// side's folder written as SIDE.
std::vector<std::string> session_lines(const CliRun& run, const fs::path& side) {
  std::vector<std::string> out;
  for (std::string line : run.lines) {
    if (line.starts_with("waiting for a handheld on ") || line.starts_with("connected: ")) continue;
    for (std::size_t at; (at = line.find(side.string())) != std::string::npos;)
      line.replace(at, side.string().size(), "SIDE");
    out.push_back(line);
  }
  return out;
}

class DeviceSync : public ::testing::Test {
 protected:
  fs::path at(const std::string& name) const { return dir.path() / name; }

  // One side's world: a handheld seed, send and receive folders, settings.
  void make_side(const std::string& side, const std::function<void(const fs::path&)>& fill) {
    for (const char* folder : {"handheld", "send", "receive"}) fs::create_directories(at(side) / folder);
    fill(at(side));
    testing::write_file(at(side) / "registry.reg",
                        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Brisholm\\Vellora]\n"
                        "\"FolderForSFiles\"=\"" +
                            (at(side) / "send").string() +
                            "\"\n"
                            "\"FolderForRFiles\"=\"" +
                            (at(side) / "receive").string() +
                            "\"\n"
                            "\"FromPCToPalm\"=dword:0000000" +
                            std::to_string(policy) +
                            "\n"
                            "\"FromPalmToPC\"=dword:0000000" +
                            std::to_string(policy) + "\n");
  }
  std::string settings(const std::string& side) const {
    return "--registry " + quoted(at(side) / "registry.reg") + " --log " + quoted(at(side) / "hotsync.log") +
           " --answer yes";
  }

  // The session against the folder, then against the fake seeded alike,
  // and everything compared.
  void compare(Transport transport, const std::function<void(const fs::path&)>& fill) {
    SCOPED_TRACE(transport_name(transport));
    fs::remove_all(at("folder"));
    fs::remove_all(at("device"));
    make_side("folder", fill);
    make_side("device", fill);
    const CliRun folder = vellora("sync " + settings("folder") + " --handheld " + quoted(at("folder") / "handheld"));

    FakeHandheldOptions options;
    options.seed = at("device") / "handheld";
    FakeHandheld fake(options);
    ASSERT_EQ(fake.seed_error(), "");
    const CliRun device = run_device(fake, transport, settings("device") + " --timeout 20");
    std::string error;
    const fs::path dumped = at("device") / "dumped";
    fs::remove_all(dumped);
    ASSERT_TRUE(fake.dump(dumped, error)) << error;

    EXPECT_EQ(device.status, folder.status);
    EXPECT_EQ(session_lines(device, at("device")), session_lines(folder, at("folder")));
    EXPECT_EQ(databases_in(dumped), databases_in(at("folder") / "handheld"));
    EXPECT_EQ(files_in(at("device") / "send"), files_in(at("folder") / "send"));
    EXPECT_EQ(files_in(at("device") / "receive"), files_in(at("folder") / "receive"));
    EXPECT_TRUE(fake.has_received_end_of_sync());
  }

  CliRun run_device(FakeHandheld& fake, Transport transport, const std::string& args) {
    const auto deadline = testing::FakeClock::now() + 20s;
    std::future<testing::SessionOutcome> served;
    if (transport == Transport::network) {
      const CliRun run = vellora("sync " + args + " --device net:127.0.0.1:0", [&](const std::string& line) {
        const auto port_at = line.rfind(" port ");
        if (!line.starts_with("waiting for a handheld on ") || port_at == std::string::npos) return;
        std::string error;
        auto fd = testing::connect_tcp("127.0.0.1", static_cast<std::uint16_t>(std::stoi(line.substr(port_at + 6))),
                                       deadline, error);
        EXPECT_TRUE(fd.is_open()) << error;
        served = testing::serve_in_background(fake, testing::FakeLink::netsync, std::move(fd));
      });
      if (served.valid()) served.get();
      return run;
    }
    std::string error;
    testing::Pty pty = testing::open_pty(error);
    EXPECT_TRUE(pty.master.is_open()) << error;
    const std::string slave = pty.slave_path;
    served = testing::serve_pty_in_background(
        fake, transport == Transport::serial_pty ? testing::FakeLink::serial : testing::FakeLink::netsync,
        std::move(pty), deadline);
    const CliRun run = vellora("sync " + args + " --device " + slave);
    served.get();
    return run;
  }

  testing::TempDir dir;
  int policy = 2;
};

const Transport kTransports[] = {Transport::network, Transport::serial_pty, Transport::netsync_pty};

std::string sample(const std::string& name) { return std::string(VELLORA_SOURCE_DIR) + "/samples/" + name; }

// Documents on the handheld, each made as the handheld's reader leaves
// them, marked for the PC as `as` when given.
void put_on_handheld(const fs::path& side, const std::string& file, const std::string& as, bool with_catalog = true) {
  const fs::path work = side / "work";
  fs::create_directories(work);
  fs::copy_file(sample(file), work / file, fs::copy_options::overwrite_existing);
  ASSERT_TRUE(run_quietly(std::string(VELLORA_CLI) + " convert " + quoted(work / file) + " -o " +
                          quoted(side / "handheld" / (file + ".pdb"))));
  if (with_catalog && !as.empty()) {
    ASSERT_TRUE(run_quietly(std::string(VELLORA_CLI) + " mark " + file + " --as " + as + " --handheld " +
                            quoted(side / "handheld")));
  }
}

void put_in_send(const fs::path& side, const std::string& file, const std::string& as = "") {
  fs::copy_file(sample(file), side / "send" / (as.empty() ? file : as), fs::copy_options::overwrite_existing);
}

TEST_F(DeviceSync, EveryDocumentTypeBothWaysMatchesTheFolderHandheld) {
  for (const Transport transport : kTransports) {
    compare(transport, [](const fs::path& side) {
      put_in_send(side, "welcome.txt");
      put_in_send(side, "reading-list.htm");
      put_in_send(side, "trip-notes.htm", "trip-notes.html");
      put_in_send(side, "garden-plan.rtf");
      put_on_handheld(side, "meeting-notes.txt", "txt");
      put_on_handheld(side, "book-club.rtf", "rtf");
      put_on_handheld(side, "packing-list.txt", "htm");
      put_on_handheld(side, "allotment-newsletter.rtf", "doc");
    });
  }
}

TEST_F(DeviceSync, EachOverwritePolicyMatchesTheFolderHandheld) {
  for (const int each : {1, 2, 3}) {
    SCOPED_TRACE("policy " + std::to_string(each));
    policy = each;
    for (const Transport transport : kTransports) {
      compare(transport, [](const fs::path& side) {
        put_on_handheld(side, "welcome.txt", "txt");
        put_on_handheld(side, "book-club.rtf", "");
        fs::copy_file(sample("thank-you-letter.txt"), side / "receive" / "welcome.txt");
        put_in_send(side, "book-club.rtf");
        put_in_send(side, "packing-list.txt");
      });
    }
  }
}

TEST_F(DeviceSync, AFullHandheldAForeignNameAndNoCatalogMatchTheFolderHandheld) {
  for (const Transport transport : kTransports) {
    compare(transport, [](const fs::path& side) {
      // Room for the small file, not for the large one.
      testing::write_file(side / "handheld" / "handheld.conf", "memory = 20000\n");
      put_in_send(side, "welcome.txt");
      put_in_send(side, "allotment-newsletter.rtf");
      // Another application's database holds a file's name.
      put_in_send(side, "packing-list.txt");
      PdbDatabase foreign;
      foreign.header.name = "packing-list.txt";
      foreign.header.type = make_four_cc("DATA");
      foreign.header.creator = make_four_cc("memo");
      const std::uint8_t bytes[] = {1, 2, 3};
      foreign.append_record({bytes, 0x40, 1, 1});
      ASSERT_TRUE(write_pdb_file(side / "handheld" / "foreign.pdb", foreign));
      // A document on the handheld, and no catalog to mark it in.
      put_on_handheld(side, "meeting-notes.txt", "", false);
    });
  }
}

TEST_F(DeviceSync, TheCommandSaysWhereItWaitsWhoConnectedAndWhyASessionFailed) {
  make_side("device", [](const fs::path& side) { put_in_send(side, "welcome.txt"); });
  FakeHandheldOptions options;
  options.identity.user_name = "Ann Lee";
  FakeHandheld fake(options);
  const CliRun ok = run_device(fake, Transport::network, settings("device") + " --timeout 20");
  ASSERT_GE(ok.lines.size(), 3u);
  EXPECT_TRUE(ok.lines[0].starts_with("waiting for a handheld on 127.0.0.1 port ")) << ok.lines[0];
  EXPECT_EQ(ok.lines[1], "connected: \"Ann Lee\", Palm OS 4.1, by NetSync from 127.0.0.1");
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(fake.log_entries(), std::vector<std::string>{"Vellora: 1 sent, 0 received"});

  // The link lost at the first WriteRecord: one line naming it, status 1,
  // and the file still where it was.
  put_in_send(at("device"), "welcome.txt");
  FakeHandheldOptions dropping;
  dropping.faults.drop_at_request = 9;
  dropping.faults.drop_mode = testing::DropMode::before_carrying_out;
  FakeHandheld dropped(dropping);
  const CliRun lost = run_device(dropped, Transport::network, settings("device") + " --timeout 20");
  EXPECT_EQ(lost.status, 1);
  ASSERT_FALSE(lost.lines.empty());
  EXPECT_TRUE(lost.lines.back().starts_with("vellora: the handheld hung up during ")) << lost.lines.back();
  EXPECT_TRUE(fs::exists(at("device") / "send" / "welcome.txt"));

  // Nobody comes.
  const CliRun alone = vellora("sync " + settings("device") + " --device net:127.0.0.1:0 --timeout 0.2");
  EXPECT_EQ(alone.status, 1);
  ASSERT_EQ(alone.lines.size(), 2u);
  EXPECT_TRUE(alone.lines[1].starts_with("vellora: no handheld came within 0.2 s on 127.0.0.1 port "))
      << alone.lines[1];
  EXPECT_EQ(vellora("sync --device net --handheld " + quoted(at("x"))).status, 1);
}

TEST_F(DeviceSync, KeptRunningItServesHandheldAfterHandheldUntilNoneComes) {
  make_side("device", [](const fs::path& side) { put_in_send(side, "welcome.txt"); });
  std::vector<std::unique_ptr<FakeHandheld>> handhelds;
  std::vector<std::future<testing::SessionOutcome>> sessions;
  const CliRun run = vellora(
      "sync " + settings("device") + " --device net:127.0.0.1:0 --keep-running --timeout 2",
      [&](const std::string& line) {
        const auto port_at = line.rfind(" port ");
        if (!line.starts_with("waiting for a handheld on ") || handhelds.size() == 2) return;
        if (handhelds.size() == 1) put_in_send(at("device"), "book-club.rtf");
        std::string error;
        auto fd = testing::connect_tcp("127.0.0.1", static_cast<std::uint16_t>(std::stoi(line.substr(port_at + 6))),
                                       testing::FakeClock::now() + 10s, error);
        ASSERT_TRUE(fd.is_open()) << error;
        handhelds.push_back(std::make_unique<FakeHandheld>(FakeHandheldOptions{}));
        sessions.push_back(testing::serve_in_background(*handhelds.back(), testing::FakeLink::netsync, std::move(fd)));
      });
  for (auto& session : sessions) EXPECT_TRUE(session.get().has_reached_end_of_sync());
  ASSERT_EQ(handhelds.size(), 2u);
  EXPECT_EQ(handhelds[0]->log_entries(), std::vector<std::string>{"Vellora: 1 sent, 0 received"});
  EXPECT_EQ(handhelds[1]->log_entries(), std::vector<std::string>{"Vellora: 1 sent, 0 received"});
  EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(),
                       std::string("sent     book-club.rtf -> handheld \"book-club.rtf\"")),
            1);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(run.lines.back().starts_with("vellora: no handheld came within 2 s")) << run.lines.back();
}

TEST_F(DeviceSync, AHostileHandheldGetsOneLineAndTakesNothing) {
  const std::pair<testing::Hostility, const char*> cases[] = {
      {testing::Hostility::garbage_handshake, "127.0.0.1: the handheld sent"},
      {testing::Hostility::huge_length, "bytes, more than any it sends"},
      {testing::Hostility::wrong_xids, "transaction"},
      {testing::Hostility::error_everywhere, "ReadSysInfo"},
      {testing::Hostility::silence, "127.0.0.1: no answer within 1 s"},
  };
  for (const auto& [hostility, words] : cases) {
    SCOPED_TRACE(words);
    fs::remove_all(at("device"));
    make_side("device", [](const fs::path& side) { put_in_send(side, "welcome.txt"); });
    FakeHandheldOptions options;
    options.faults.hostility = hostility;
    options.command_timeout = 3s;
    FakeHandheld fake(options);
    const auto started = std::chrono::steady_clock::now();
    const CliRun run = run_device(fake, Transport::network, settings("device") + " --timeout 1");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s);
    EXPECT_EQ(run.status, 1);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_TRUE(run.lines.back().starts_with("vellora: ")) << run.lines.back();
    EXPECT_NE(run.lines.back().find(words), std::string::npos) << run.lines.back();
    EXPECT_TRUE(fs::exists(at("device") / "send" / "welcome.txt"));
  }
}

}  // namespace
}  // namespace vellora
