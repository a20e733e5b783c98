// The fake handheld driven by the desktop's own codecs: NetSync over a
// socket pair and a pty, the serial stack over a pty with a desktop side
// written from recorded bytes, DLP answers and errors checked against the
// folder handheld and a dumped folder, and the faults it plays.
#include "tests/support/fake_handheld/fake_handheld.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/byte_order.h"
#include "hosts/linux/hotsync/dlp_codec.h"
#include "hosts/linux/hotsync/dlp_commands.h"
#include "hosts/linux/hotsync/netsync_frames.h"
#include "hosts/linux/pdb_file.h"
#include "hosts/linux/pdb_folder_handheld.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_handheld/serial_frames.h"
#include "tests/support/temp_dir.h"

extern char** environ;

namespace vellora::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using linux_host::DlpFunction;

Bytes hex(const std::string& text) { return hex_bytes(text); }

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The desktop's two handshake messages, as desktops send them.
const Bytes kDesktopFirst =
    hex("12 01 00000000 00000020 00000024 ffffffff 3c00 3c00 00000000 00000000 c0a80121 0427 "
        "0000000000000000000000000000");
const Bytes kDesktopSecond =
    hex("13 01 00000000 00000020 00000020 ffffffff 003c 003c 00000000 00000001 00000000000000000000000000000000");

// Waits up to `timeout` for bytes on `fd`: what came, empty at the end of
// the stream or the deadline.
Bytes read_some(int fd, std::chrono::milliseconds timeout = 5s) {
  pollfd one{fd, POLLIN, 0};
  if (::poll(&one, 1, static_cast<int>(timeout.count())) <= 0) return {};
  std::array<std::uint8_t, 4096> chunk;
  const ssize_t got = ::read(fd, chunk.data(), chunk.size());
  return got > 0 ? Bytes(chunk.begin(), chunk.begin() + got) : Bytes{};
}

Bytes read_exactly(int fd, std::size_t count) {
  Bytes out;
  while (out.size() < count) {
    pollfd one{fd, POLLIN, 0};
    if (::poll(&one, 1, 5000) <= 0) break;
    std::array<std::uint8_t, 1> byte;
    if (::read(fd, byte.data(), 1) != 1) break;
    out.push_back(byte[0]);
  }
  return out;
}

void write_bytes(int fd, const Bytes& bytes) {
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A decoded answer with the bytes it views.
struct Reply {
  Bytes bytes;
  linux_host::DlpResponse response;
  std::uint16_t error() const { return response.error; }
};

// The desktop's end of a NetSync link, built from the desktop's codecs.
class NetSyncDesktop {
 public:
  explicit NetSyncDesktop(int fd) : fd_(fd) {}

  std::optional<linux_host::NetSyncMessage> read() {
    for (;;) {
      if (auto message = reader_.next()) return message;
      if (reader_.error() != linux_host::NetSyncError::none) return std::nullopt;
      const Bytes bytes = read_some(fd_);
      if (bytes.empty()) return std::nullopt;
      reader_.feed(bytes);
    }
  }

  void write(std::uint8_t xid, const Bytes& payload) { write_bytes(fd_, linux_host::netsync_frame(xid, payload)); }

  void handshake() {
    ASSERT_TRUE(read());
    write(next_xid(), kDesktopFirst);
    ASSERT_TRUE(read());
    write(next_xid(), kDesktopSecond);
    ASSERT_TRUE(read());
  }

  // Sends a request and returns the answer's bytes, empty when none came.
  Bytes exchange(const Bytes& request) {
    const std::uint8_t xid = next_xid();
    write(xid, request);
    auto message = read();
    if (!message) return {};
    EXPECT_EQ(message->xid, xid);
    return std::move(message->payload);
  }

  // The answer to `request`, which must decode as an answer to its function.
  Reply call(const Bytes& request) {
    Reply reply{exchange(request), {}};
    EXPECT_EQ(linux_host::decode_dlp_response(reply.bytes, static_cast<DlpFunction>(request.at(0)), reply.response),
              linux_host::DlpDecodeStatus::ok)
        << "request " << ::testing::PrintToString(request);
    return reply;
  }

  std::uint8_t next_xid() { return xid_ = linux_host::next_netsync_xid(xid_); }
  linux_host::NetSyncReader& reader() { return reader_; }

 private:
  int fd_;
  linux_host::NetSyncReader reader_;
  std::uint8_t xid_ = 0;
};

// A session over a socket pair. The desktop's end closes first when the
// test ends, so the handheld's thread ends before the handheld goes.
struct NetSyncSession {
  explicit NetSyncSession(FakeHandheldOptions options) : NetSyncSession(std::move(options), socket_pair()) {}
  NetSyncSession(FakeHandheldOptions options, std::array<int, 2> fds)
      : handheld(std::move(options)),
        outcome(serve_in_background(handheld, FakeLink::netsync, linux_host::UniqueFd(fds[1]))),
        desktop_fd(fds[0]),
        desktop(fds[0]) {}
  static std::array<int, 2> socket_pair() {
    std::array<int, 2> fds{-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds.data()), 0);
    return fds;
  }
  SessionOutcome hang_up() {
    desktop_fd.reset();
    return outcome.get();
  }

  FakeHandheld handheld;
  std::future<SessionOutcome> outcome;
  linux_host::UniqueFd desktop_fd;
  NetSyncDesktop desktop;
};

// The desktop's end of the serial stack from the desktop's side: wakes
// up with CMP, then sends each request in fragments of the size asked,
// awaiting each ack, and reads the answer's fragments, acking each.
class SerialDesktop {
 public:
  explicit SerialDesktop(int fd) : fd_(fd) {}

  std::optional<SlpPacket> next() {
    for (;;) {
      if (auto packet = reader_.next()) return packet;
      const Bytes bytes = read_some(fd_);
      if (bytes.empty()) return std::nullopt;
      reader_.feed(bytes);
    }
  }

  // Acks the wakeup and agrees long packets; returns once the init is acked.
  void wake_up() {
    ASSERT_TRUE(next());
    write_bytes(fd_, slp_packet(kSlpTypePadp, 0xFF, padp_body(kPadpAck, 0xC0, kCmpBytes)));
    write_bytes(fd_,
                slp_packet(kSlpTypePadp, 1, padp_body(kPadpData, 0xC0, kCmpBytes, hex("02 10 01 01 0000 00000000"))));
    for (auto packet = next(); packet; packet = next())
      if (packet->xid == 1 && packet->body.at(0) == kPadpAck) return;
    ADD_FAILURE() << "no ack of the init";
  }

  Bytes exchange(std::uint8_t xid, const Bytes& request, std::size_t fragment_bytes) {
    for (std::size_t at = 0; at < request.size(); at += fragment_bytes) {
      const std::size_t n = std::min(fragment_bytes, request.size() - at);
      const auto flags =
          static_cast<std::uint8_t>((at == 0 ? kPadpFirst : 0) | (at + n == request.size() ? kPadpLast : 0));
      const auto data = std::span(request).subspan(at, n);
      write_bytes(fd_, slp_packet(kSlpTypePadp, xid, padp_body(kPadpData, flags, at == 0 ? request.size() : at, data)));
      const auto ack = next();
      if (!ack || ack->xid != xid || ack->body.at(0) != kPadpAck) return {};
    }
    Bytes answer;
    for (std::uint32_t total = 0;;) {
      const auto packet = next();
      const auto header = packet ? decode_padp(packet->body) : std::nullopt;
      if (!header || packet->xid != xid || header->type != kPadpData) return {};
      if ((header->flags & kPadpFirst) != 0) total = header->size_or_offset;
      EXPECT_EQ(header->size_or_offset, (header->flags & kPadpFirst) != 0 ? total : answer.size());
      EXPECT_LE(packet->body.size() - header->header_bytes, kPadpMostFragmentBytes);
      answer.insert(answer.end(), packet->body.begin() + static_cast<std::ptrdiff_t>(header->header_bytes),
                    packet->body.end());
      ++answer_fragments;
      write_bytes(fd_, slp_packet(kSlpTypePadp, xid, padp_body(kPadpAck, header->flags, header->size_or_offset)));
      if (answer.size() >= total) return answer;
    }
  }

  int answer_fragments = 0;

 private:
  int fd_;
  SlpReader reader_;
};

FakeHandheldOptions quick(std::filesystem::path seed = {}) {
  FakeHandheldOptions options;
  options.seed = std::move(seed);
  options.command_timeout = 5s;
  options.ack_timeout = 200ms;
  return options;
}

PdbDatabase database(const std::string& name, std::vector<std::string> records) {
  PdbDatabase db;
  db.header.name = name;
  db.header.type = make_four_cc("TEXt");
  db.header.creator = make_four_cc("REAd");
  db.header.version = 1;
  db.header.unique_id_seed = 100;
  std::uint32_t id = 1;
  for (const auto& text : records) {
    const Bytes data(text.begin(), text.end());
    EXPECT_TRUE(db.append_record({.data = data, .attributes = 0x40, .category = 0, .unique_id = id++}));
  }
  return db;
}

void write_database(const std::filesystem::path& folder, const PdbDatabase& db) {
  ASSERT_TRUE(linux_host::write_pdb_file(folder / database_file_name(db.header.name), db));
}

Bytes name_bytes(const std::string& name) {
  Bytes out(name.begin(), name.end());
  out.push_back(0);
  return out;
}

// SetDBInfo changing nothing but, when given, the name.
Bytes set_db_info_request(std::uint8_t handle, const std::string& name) {
  Bytes data(40, 0);
  data[0] = handle;
  put_be16(&data[6], 0xFFFF);  // keep the version
  const Bytes name_data = name_bytes(name);
  data.insert(data.end(), name_data.begin(), name_data.end());
  const std::array<linux_host::DlpArgument, 1> arguments{linux_host::DlpArgument{0x20, data}};
  return linux_host::dlp_request(DlpFunction::set_db_info, arguments);
}

std::uint8_t handle_of(const Reply& reply) {
  std::uint8_t handle = 0;
  EXPECT_TRUE(linux_host::db_handle_result(reply.response, handle));
  return handle;
}

CardInfo card_of(NetSyncDesktop& desktop) {
  const Reply reply = desktop.call(linux_host::read_storage_info_request(0));
  CardInfo card;
  EXPECT_TRUE(linux_host::read_storage_info_result(reply.response, card));
  return card;
}

CardInfo folder_card(const std::filesystem::path& folder) {
  linux_host::PdbFolderHandheld handheld(folder);
  CardInfo card;
  EXPECT_EQ(handheld.SyncReadSingleCardInfo(card), kSyncOk) << handheld.last_error();
  return card;
}

// ---------------------------------------------------------------------------
// NetSync

TEST(FakeHandheldNetSync, HandshakeIsTheRecordedOneWithOrWithoutItsHeader) {
  for (const bool is_headerless : {false, true}) {
    SCOPED_TRACE(is_headerless);
    auto options = quick();
    options.is_first_message_headerless = is_headerless;
    NetSyncSession session(options);
    const int fd = session.desktop_fd.get();
    const Bytes first = hex("90 01 00000000 00000020 00000008 02 00 00 00 00 00 00 00");
    Bytes framed = hex("01 ff 00 00 00 16");
    framed.insert(framed.end(), first.begin(), first.end());
    EXPECT_TRUE(
        BytesEqual(read_exactly(fd, is_headerless ? first.size() : framed.size()), is_headerless ? first : framed));
    write_bytes(fd, linux_host::netsync_frame(1, kDesktopFirst));
    EXPECT_TRUE(
        BytesEqual(read_exactly(fd, 56), hex("01 01 00000032 92 01 00000000 00000020 00000024 ffffffff 3c00 3c00 "
                                             "00000040 00000002 c0a80205 e06b 0000000000000000000000000000")));
    write_bytes(fd, linux_host::netsync_frame(2, kDesktopSecond));
    EXPECT_TRUE(BytesEqual(read_exactly(fd, 14), hex("01 02 00000008 93 00 00000000 0000")));

    write_bytes(fd, linux_host::netsync_frame(3, linux_host::read_sys_info_request()));
    const Bytes sys_info =
        hex("01 03 00000022 92 02 0000 20 0e 04103000 00010000 00 04 01000000 "
            "21 0c 0001 0002 0003 0000 0000ffe1");
    EXPECT_TRUE(BytesEqual(read_exactly(fd, sys_info.size()), sys_info));
    write_bytes(fd, linux_host::netsync_frame(4, linux_host::end_of_sync_request(0)));
    EXPECT_TRUE(BytesEqual(read_exactly(fd, 10), hex("01 04 00000004 af 00 0000")));
    EXPECT_EQ(session.hang_up().end, SessionEnd::end_of_sync);
    EXPECT_TRUE(session.handheld.has_received_end_of_sync());
  }
}

// A whole session: every function the conduit uses, then the card dumped
// over a copy of its seed folder, where the folder handheld must find what
// the desktop wrote and report the free memory the fake reports.
TEST(FakeHandheldNetSync, SessionRoundTripsThroughTheDumpedFolder) {
  TempDir seed;
  write_database(seed.path(), database("Seeded", {"one", "two"}));
  write_file(seed / "junk.pdb", Bytes(100, 0x55));  // no database, yet it takes room
  write_file(seed / "handheld.conf", "memory = 100000\n");
  NetSyncSession session(quick(seed.path()));
  auto& desktop = session.desktop;
  desktop.handshake();

  const CardInfo card = card_of(desktop);
  const CardInfo seed_card = folder_card(seed.path());
  EXPECT_EQ(card.free_bytes, seed_card.free_bytes);
  EXPECT_EQ(card.ram_bytes, 100000u);
  EXPECT_EQ(card.card_name, seed_card.card_name);

  const std::uint8_t created = handle_of(
      desktop.call(linux_host::create_db_request(make_four_cc("VLTx"), make_four_cc("DATA"), 0, 0, 3, "Notes")));
  std::uint32_t ids[2] = {};
  for (int i = 0; i < 2; ++i) {
    const Bytes data(10 + i, static_cast<std::uint8_t>('a' + i));
    EXPECT_TRUE(linux_host::record_id_result(
        desktop.call(linux_host::write_record_request(created, 0x40, i + 1, data)).response, ids[i]));
  }
  EXPECT_NE(ids[0], 0u);
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_EQ(desktop.call(linux_host::close_db_request(created)).error(), 0);

  DbInfo found;
  EXPECT_TRUE(
      linux_host::find_db_result(desktop.call(linux_host::find_db_by_name_request(0, "Notes")).response, found));
  EXPECT_EQ(found.type, make_four_cc("DATA"));
  EXPECT_EQ(found.creator, make_four_cc("VLTx"));
  EXPECT_EQ(found.version, 3);

  const std::uint8_t opened = handle_of(desktop.call(linux_host::open_db_request(0, 0x80, "Notes")));
  std::uint16_t count = 0;
  EXPECT_TRUE(
      linux_host::record_count_result(desktop.call(linux_host::read_open_db_info_request(opened)).response, count));
  EXPECT_EQ(count, 2);
  const Reply record_reply = desktop.call(linux_host::read_record_by_index_request(opened, 1));
  linux_host::DlpRecord record;
  ASSERT_TRUE(linux_host::read_record_result(record_reply.response, record));
  EXPECT_EQ(record.id, ids[1]);
  EXPECT_EQ(Bytes(record.data.begin(), record.data.end()), Bytes(11, 'b'));
  EXPECT_EQ(record.category, 2);
  EXPECT_EQ(record.attributes, 0x40);
  EXPECT_TRUE(linux_host::find_db_result(desktop.call(linux_host::find_db_by_handle_request(opened)).response, found));
  EXPECT_EQ(found.name, "Notes");
  EXPECT_EQ(desktop.call(set_db_info_request(opened, "Renamed")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::close_db_request(opened)).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::delete_db_request(0, "Seeded")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::add_sync_log_entry_request("Sent 1 document")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::end_of_sync_request(0)).error(), 0);
  EXPECT_EQ(session.hang_up().end, SessionEnd::end_of_sync);

  const auto& handheld = session.handheld;
  EXPECT_EQ(handheld.log_entries(), std::vector<std::string>{"Sent 1 document"});
  EXPECT_EQ(handheld.request_count(), 15u);
  EXPECT_EQ(handheld.functions().front(), 0x15);
  TempDir out;
  std::filesystem::copy(seed.path(), out.path(), std::filesystem::copy_options::recursive);
  std::string error;
  ASSERT_TRUE(handheld.dump(out.path(), error)) << error;
  EXPECT_EQ(file_names(out.path()), (std::vector<std::string>{"Renamed.pdb", "handheld.conf", "junk.pdb"}));
  PdbDatabase dumped;
  ASSERT_TRUE(linux_host::read_pdb_file(out / "Renamed.pdb", dumped));
  ASSERT_EQ(dumped.record_count(), 2u);
  EXPECT_EQ(dumped.record(0).unique_id, ids[0]);
  EXPECT_EQ(dumped.record(1).category, 2);
  EXPECT_EQ(dumped.header.type, make_four_cc("DATA"));
  EXPECT_EQ(folder_card(out.path()).free_bytes, handheld.store().free_bytes());
}

TEST(FakeHandheldNetSync, ErrorsAreThoseAHandheldAnswers) {
  TempDir seed;
  write_database(seed.path(), database("Seeded", {"one"}));
  write_database(seed.path(), database("Other", {}));
  // Room for a new database and one small record.
  const auto used = std::filesystem::file_size(seed / "Seeded.pdb") + std::filesystem::file_size(seed / "Other.pdb");
  write_file(seed / "handheld.conf", "memory = " + std::to_string(used + 300) + "\n");
  NetSyncSession session(quick(seed.path()));
  auto& desktop = session.desktop;
  desktop.handshake();

  const std::uint8_t writer = handle_of(desktop.call(linux_host::open_db_request(0, 0xC0, "Seeded")));
  const std::uint8_t reader = handle_of(desktop.call(linux_host::open_db_request(0, 0x80, "Other")));
  Bytes long_name_create = hex("18 01 20 2f 00000000 00000000 00 00 0000 0000");
  const Bytes long_name = name_bytes(std::string(32, 'n'));
  long_name_create.insert(long_name_create.end(), long_name.begin(), long_name.end());
  const struct {
    Bytes request;
    std::uint16_t error;
  } cases[] = {
      {linux_host::open_db_request(0, 0x80, "Missing"), 0x05},
      {linux_host::delete_db_request(0, "Missing"), 0x05},
      {linux_host::read_record_by_index_request(writer, 1), 0x05},
      {hex("16 01 20 04 80 00 00 02"), 0x05},  // ReadDBList past the end
      {linux_host::create_db_request(1, 2, 0, 0, 0, "Seeded"), 0x09},
      {set_db_info_request(reader, "Seeded"), 0x09},
      {long_name_create, 0x04},
      {linux_host::open_db_request(0, 0x80, "Seeded"), 0x07},  // open for writing elsewhere
      {linux_host::delete_db_request(0, "Seeded"), 0x07},
      {linux_host::write_record_request(reader, 0, 0, Bytes(4, 1)), 0x0F},
      {linux_host::read_open_db_info_request(99), 0x04},
      {linux_host::write_record_request(writer, 0, 0, Bytes(300, 1)), 0x10},
      {hex("7e 00"), 0x02},
      {hex("16 01 20 04 80"), 0x13},  // the argument runs past the end
      {hex("15 00"), 0x14},
      {hex("15 01 20 01 00"), 0x15},
  };
  for (const auto& c : cases) {
    const Reply reply = desktop.call(c.request);
    EXPECT_EQ(reply.error(), c.error) << ::testing::PrintToString(c.request);
    EXPECT_EQ(reply.bytes.size(), 4u);  // an error answer carries no arguments
  }
  // What the failed write could not take, a smaller one still may.
  EXPECT_EQ(desktop.call(linux_host::write_record_request(writer, 0, 0, Bytes(200, 1))).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::write_record_request(writer, 0, 0, Bytes(100, 1))).error(), 0x10);
}

TEST(FakeHandheldNetSync, DatabaseListPagesThroughTheCard) {
  TempDir seed;
  for (const char* name : {"A", "Bb", "Ccc"}) write_database(seed.path(), database(name, {}));
  // A resource database is listed, never read record by record.
  Bytes resource(78, 0);
  resource[0] = 'R';
  resource[33] = 0x01;
  write_file(seed / "R.pdb", resource);
  NetSyncSession session(quick(seed.path()));
  auto& desktop = session.desktop;
  desktop.handshake();

  std::vector<std::string> names;
  for (std::uint16_t start = 0;;) {
    const Bytes request =
        hex("16 01 20 04 80 00") + Bytes{static_cast<std::uint8_t>(start >> 8), static_cast<std::uint8_t>(start)};
    const Reply reply = desktop.call(request);
    if (reply.error() == 0x05) break;
    std::vector<DbInfo> infos;
    bool has_more = false;
    ASSERT_TRUE(linux_host::read_db_list_result(reply.response, infos, start, has_more));
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(reply.bytes[10] % 2, 0);  // the entry's size is even
    names.push_back(infos[0].name);
    EXPECT_EQ(has_more, names.size() < 4);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A", "Bb", "Ccc", "R"}));
  const Reply all = desktop.call(hex("16 01 20 04 a0 00 00 00"));
  std::vector<DbInfo> infos;
  std::uint16_t next = 0;
  bool has_more = true;
  ASSERT_TRUE(linux_host::read_db_list_result(all.response, infos, next, has_more));
  EXPECT_EQ(infos.size(), 4u);
  EXPECT_FALSE(has_more);
  const std::uint8_t handle = handle_of(desktop.call(linux_host::open_db_request(0, 0x80, "R")));
  EXPECT_EQ(desktop.call(linux_host::read_record_by_index_request(handle, 0)).error(), 0x0D);
  session.hang_up();
  TempDir out;
  std::string error;
  ASSERT_TRUE(session.handheld.dump(out.path(), error)) << error;
  EXPECT_EQ(read_file(out / "R.pdb"), resource);
}

TEST(FakeHandheldNetSync, OlderHandheldsLackTheNewerFunctions) {
  auto options = quick();
  options.identity.dlp_minor = 1;
  NetSyncSession session(options);
  auto& desktop = session.desktop;
  desktop.handshake();
  const Reply sys_info = desktop.call(linux_host::read_sys_info_request());
  EXPECT_EQ(sys_info.response.arguments.size(), 1u);
  EXPECT_EQ(desktop.call(linux_host::find_db_by_name_request(0, "Any")).error(), 0x02);
  EXPECT_EQ(desktop.call(set_db_info_request(1, "Any")).error(), 0x02);
}

TEST(FakeHandheldNetSync, FindsByTypeAndCreatorAndClosesAll) {
  TempDir seed;
  for (const auto& [name, version] : {std::pair{"Old", 1}, std::pair{"Other", 1}, std::pair{"New", 7}}) {
    auto db = database(name, {"abc"});
    db.header.version = static_cast<std::uint16_t>(version);
    if (std::string(name) == "Other") db.header.creator = make_four_cc("OTHR");
    write_database(seed.path(), db);
  }
  NetSyncSession session(quick(seed.path()));
  auto& desktop = session.desktop;
  desktop.handshake();
  // Options 0xC0: attributes and sizes; search flags 0x80 new, 0x40 only the latest version.
  const auto find = [&](std::uint8_t search) {
    return desktop.call(hex("39 01 22 0a c0") + Bytes{search} + hex("54 45 58 74  52 45 41 64"));
  };
  std::vector<std::string> names;
  for (Reply reply = find(0x80); reply.error() == 0; reply = find(0)) {
    DbInfo info;
    ASSERT_TRUE(linux_host::find_db_result(reply.response, info));
    names.push_back(info.name);
    const auto sizes = reply.response.argument(0x21);
    ASSERT_EQ(sizes.size(), 12u);
    EXPECT_EQ(get_be32(sizes.data()), 1u);  // records
    EXPECT_EQ(get_be32(sizes.data() + 4), std::filesystem::file_size(seed / (info.name + ".pdb")));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"New", "Old"}));
  DbInfo latest;
  ASSERT_TRUE(linux_host::find_db_result(find(0xC0).response, latest));
  EXPECT_EQ(latest.version, 7);

  (void)handle_of(desktop.call(linux_host::open_db_request(0, 0x80, "Old")));
  (void)handle_of(desktop.call(linux_host::open_db_request(0, 0xC0, "New")));
  EXPECT_EQ(desktop.call(linux_host::delete_db_request(0, "New")).error(), 0x07);
  EXPECT_EQ(desktop.call(hex("19 01 21 00")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::delete_db_request(0, "New")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::delete_db_request(0, "Old")).error(), 0);
}

// NetSync framing on a pty, as a USB cradle's tty carries it: the session
// runs once the desktop opens the slave, and the desktop's close ends it.
TEST(FakeHandheldNetSync, RunsOnAPtyAndSeesTheHangUp) {
  std::string error;
  Pty pty = open_pty(error);
  ASSERT_TRUE(pty.master.is_open()) << error;
  const std::string path = pty.slave_path;
  FakeHandheld handheld(quick());
  auto outcome = serve_pty_in_background(handheld, FakeLink::netsync, std::move(pty), FakeClock::now() + 5s);
  linux_host::UniqueFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(slave.is_open());
  NetSyncDesktop desktop(slave.get());
  desktop.handshake();
  EXPECT_EQ(desktop.call(linux_host::open_conduit_request()).error(), 0);
  slave.reset();
  EXPECT_EQ(outcome.get().end, SessionEnd::closed);
  EXPECT_EQ(handheld.functions(), Bytes{0x2E});
}

// ---------------------------------------------------------------------------
// Serial

// The desktop's side from recorded bytes: wakeup, ack and init, then a DLP
// request behind garbage and a packet with a bad CRC, whose answer comes
// again until it is acknowledged.
TEST(FakeHandheldSerial, WakesTheDesktopAndAnswersOverPadp) {
  EXPECT_EQ(crc16_xmodem(Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x31C3);
  std::string error;
  Pty pty = open_pty(error);
  ASSERT_TRUE(pty.master.is_open()) << error;
  const std::string path = pty.slave_path;
  auto options = quick();
  options.wakeup_interval = 100ms;
  FakeHandheld handheld(options);
  auto outcome = serve_pty_in_background(handheld, FakeLink::serial, std::move(pty), FakeClock::now() + 5s);
  linux_host::UniqueFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(slave.is_open());
  const int fd = slave.get();

  const Bytes wakeup = hex("be ef ed 03 03 02 00 0e ff af 01 c0 00 0a 01 10 01 03 00 00 00 01 c2 00 6d 2e");
  EXPECT_TRUE(BytesEqual(read_exactly(fd, wakeup.size()), wakeup));
  EXPECT_TRUE(BytesEqual(read_exactly(fd, wakeup.size()), wakeup));  // again, until acknowledged
  const Bytes ack_of_wakeup = hex("be ef ed 03 03 02 00 04 ff a5 02 c0 00 0a 1a 85");
  write_bytes(fd, ack_of_wakeup);
  write_bytes(fd, hex("be ef ed 03 03 02 00 0e ff af 01 c0 00 0a 02 90 01 01 00 00 00 01 c2 00 03 b0"));
  // Wakeups sent before the ack arrived may still come; the init's ack is
  // the same bytes as the wakeup's.
  Bytes got = read_exactly(fd, ack_of_wakeup.size());
  while (got == Bytes(wakeup.begin(), wakeup.begin() + 16)) {
    (void)read_exactly(fd, wakeup.size() - 16);
    got = read_exactly(fd, ack_of_wakeup.size());
  }
  EXPECT_TRUE(BytesEqual(got, ack_of_wakeup));

  const Bytes request = hex("be ef ed 03 03 02 00 0c 01 af 01 c0 00 08 12 01 20 04 00 01 00 04 1d 8b");
  const Bytes bad_crc = hex("be ef ed 03 03 02 00 0c 01 af 01 c0 00 08 12 01 20 04 00 01 00 04 1d 74");
  write_bytes(fd, hex("00 be ef 13") + bad_crc + request);
  EXPECT_TRUE(BytesEqual(read_exactly(fd, 18), hex("be ef ed 03 03 02 00 06 01 a9 02 d0 00 00 00 08 28 96")));
  const Bytes answer_packet = read_exactly(fd, 10 + 6 + 34 + 2);
  EXPECT_TRUE(BytesEqual(read_exactly(fd, answer_packet.size()), answer_packet));  // sent again: no ack yet
  SlpReader reader;
  reader.feed(answer_packet);
  const auto packet = reader.next();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->xid, 0x01);
  const auto header = decode_padp(packet->body);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->flags, kPadpFirst | kPadpLast | kPadpLong);
  const Bytes answer(packet->body.begin() + 6, packet->body.end());
  linux_host::DlpResponse response;
  ASSERT_EQ(linux_host::decode_dlp_response(answer, DlpFunction::read_sys_info, response),
            linux_host::DlpDecodeStatus::ok);
  linux_host::DlpSysInfo sys_info;
  ASSERT_TRUE(linux_host::read_sys_info_result(response, sys_info));
  EXPECT_TRUE(sys_info.is_at_least(1, 2));
  write_bytes(fd, slp_packet(kSlpTypePadp, 0x01, padp_body(kPadpAck, 0xD0, 34)));

  write_bytes(fd, slp_packet(kSlpTypePadp, 0x02, padp_body(kPadpData, 0xC0, 6, linux_host::end_of_sync_request(0))));
  EXPECT_TRUE(BytesEqual(read_exactly(fd, 18), slp_packet(kSlpTypePadp, 0x02, padp_body(kPadpAck, 0xD0, 6))));
  EXPECT_TRUE(BytesEqual(read_exactly(fd, 22),
                         slp_packet(kSlpTypePadp, 0x02, padp_body(kPadpData, 0xD0, 4, hex("af 00 00 00")))));
  write_bytes(fd, slp_packet(kSlpTypePadp, 0x02, padp_body(kPadpAck, 0xD0, 4)));
  EXPECT_EQ(outcome.get().end, SessionEnd::end_of_sync);
  EXPECT_EQ(handheld.functions(), (Bytes{0x12, 0x2F}));
}

// Messages longer than a fragment: a record read back in three answer
// fragments, a record written in three request fragments.
TEST(FakeHandheldSerial, LongMessagesTravelInFragments) {
  TempDir seed;
  const std::string big(3000, 'x');
  write_database(seed.path(), database("Big", {big}));
  std::string error;
  Pty pty = open_pty(error);
  ASSERT_TRUE(pty.master.is_open()) << error;
  const std::string path = pty.slave_path;
  FakeHandheld handheld(quick(seed.path()));
  auto outcome = serve_pty_in_background(handheld, FakeLink::serial, std::move(pty), FakeClock::now() + 5s);
  linux_host::UniqueFd slave(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  ASSERT_TRUE(slave.is_open());
  SerialDesktop desktop(slave.get());
  desktop.wake_up();

  Reply opened{desktop.exchange(2, linux_host::open_db_request(0, 0xC0, "Big"), 1024), {}};
  ASSERT_EQ(linux_host::decode_dlp_response(opened.bytes, DlpFunction::open_db, opened.response),
            linux_host::DlpDecodeStatus::ok);
  const std::uint8_t handle = handle_of(opened);
  Reply read{desktop.exchange(3, linux_host::read_record_by_index_request(handle, 0), 1024), {}};
  EXPECT_EQ(desktop.answer_fragments, 4);  // two answers above, one in three fragments
  ASSERT_EQ(linux_host::decode_dlp_response(read.bytes, DlpFunction::read_record, read.response),
            linux_host::DlpDecodeStatus::ok);
  linux_host::DlpRecord record;
  ASSERT_TRUE(linux_host::read_record_result(read.response, record));
  EXPECT_EQ(std::string(record.data.begin(), record.data.end()), big);

  const Bytes written(2500, 0x5A);
  Reply wrote{desktop.exchange(4, linux_host::write_record_request(handle, 0, 0, written), 1000), {}};
  ASSERT_EQ(linux_host::decode_dlp_response(wrote.bytes, DlpFunction::write_record, wrote.response),
            linux_host::DlpDecodeStatus::ok);
  EXPECT_EQ(wrote.error(), 0);
  EXPECT_EQ(desktop.exchange(5, linux_host::end_of_sync_request(0), 1024), hex("af 00 00 00"));
  slave.reset();
  EXPECT_EQ(outcome.get().end, SessionEnd::end_of_sync);
  const CardDatabase* db = handheld.store().find("Big");
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(db->records.size(), 2u);
  EXPECT_EQ(db->records[1].data, written);
}

// ---------------------------------------------------------------------------
// Faults

TEST(FakeHandheldFaults, ADroppedLinkCarriesTheRequestOutOrNotAsAsked) {
  for (const auto mode : {DropMode::after_carrying_out, DropMode::before_carrying_out}) {
    auto options = quick();
    options.faults.drop_at_request = 2;
    options.faults.drop_mode = mode;
    NetSyncSession session(options);
    session.desktop.handshake();
    EXPECT_EQ(session.desktop.call(linux_host::open_conduit_request()).error(), 0);
    EXPECT_TRUE(session.desktop.exchange(linux_host::create_db_request(1, 2, 0, 0, 0, "New")).empty());
    EXPECT_EQ(session.hang_up().end, SessionEnd::dropped);
    EXPECT_EQ(session.handheld.store().find("New") != nullptr, mode == DropMode::after_carrying_out);
    EXPECT_EQ(session.handheld.fired_faults().size(), 1u);
  }
}

TEST(FakeHandheldFaults, InjectedErrorsHitOnlyTheCallAskedFor) {
  auto options = quick();
  options.faults.errors.push_back({.function = 0x21, .error = 0x10, .nth_call = 2});
  NetSyncSession session(options);
  auto& desktop = session.desktop;
  desktop.handshake();
  const std::uint8_t handle = handle_of(desktop.call(linux_host::create_db_request(1, 2, 0, 0, 0, "Db")));
  std::vector<std::uint16_t> errors;
  for (int i = 0; i < 3; ++i)
    errors.push_back(desktop.call(linux_host::write_record_request(handle, 0, 0, Bytes{1})).error());
  EXPECT_EQ(errors, (std::vector<std::uint16_t>{0, 0x10, 0}));
  session.hang_up();
  EXPECT_EQ(session.handheld.store().find("Db")->records.size(), 2u);
}

TEST(FakeHandheldFaults, MalformedAnswersFailTheDesktopsDecoder) {
  const std::pair<Malformation, linux_host::DlpDecodeStatus> cases[] = {
      {Malformation::garbage, linux_host::DlpDecodeStatus::wrong_function},
      {Malformation::wrong_function, linux_host::DlpDecodeStatus::wrong_function},
      {Malformation::truncated, linux_host::DlpDecodeStatus::past_the_end},
  };
  for (const auto& [kind, status] : cases) {
    auto options = quick();
    options.faults.malformed_at_request = 1;
    options.faults.malformation = kind;
    NetSyncSession session(options);
    session.desktop.handshake();
    const Bytes bytes = session.desktop.exchange(linux_host::read_sys_info_request());
    linux_host::DlpResponse response;
    EXPECT_EQ(linux_host::decode_dlp_response(bytes, DlpFunction::read_sys_info, response), status);
  }
}

TEST(FakeHandheldFaults, HostileHandhelds) {
  {
    auto options = quick();
    options.faults.hostility = Hostility::huge_length;
    NetSyncSession session(options);
    session.desktop.handshake();
    session.desktop.write(session.desktop.next_xid(), linux_host::read_user_info_request());
    EXPECT_FALSE(session.desktop.read());
    EXPECT_EQ(session.desktop.reader().error(), linux_host::NetSyncError::too_long);
  }
  {
    auto options = quick();
    options.faults.hostility = Hostility::wrong_xids;
    NetSyncSession session(options);
    ASSERT_TRUE(session.desktop.read());
    session.desktop.write(1, kDesktopFirst);
    const auto reply = session.desktop.read();
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->xid, 1);
  }
  {
    auto options = quick();
    options.faults.hostility = Hostility::error_everywhere;
    options.faults.hostile_error = 0x03;
    NetSyncSession session(options);
    session.desktop.handshake();
    EXPECT_EQ(session.desktop.call(linux_host::read_user_info_request()).error(), 0x03);
    EXPECT_EQ(session.desktop.call(linux_host::end_of_sync_request(0)).error(), 0x03);
  }
  for (const auto hostility : {Hostility::silence, Hostility::garbage_handshake}) {
    auto options = quick();
    options.faults.hostility = hostility;
    NetSyncSession session(options);
    if (hostility == Hostility::silence)
      EXPECT_TRUE(read_some(session.desktop_fd.get(), 300ms).empty());
    else
      EXPECT_FALSE(session.desktop.read());
    EXPECT_EQ(session.hang_up().end, SessionEnd::closed);
  }
}

TEST(FakeHandheldFaults, LateAndPiecemealAnswersStillArriveWhole) {
  auto options = quick();
  options.faults.late_at_request = 1;
  options.faults.late_delay = 300ms;
  options.write_chunk_bytes = 3;
  NetSyncSession session(options);
  session.desktop.handshake();
  const auto start = FakeClock::now();
  EXPECT_EQ(session.desktop.call(linux_host::read_user_info_request()).error(), 0);
  EXPECT_GE(FakeClock::now() - start, 300ms);
  EXPECT_EQ(session.desktop.call(linux_host::end_of_sync_request(0)).error(), 0);
  EXPECT_EQ(session.hang_up().end, SessionEnd::end_of_sync);
}

// ---------------------------------------------------------------------------
// The program

// Started before the desktop listens, it keeps trying, runs the session
// and dumps its card.
TEST(FakeHandheldProgram, ConnectsOnceTheDesktopListensAndDumps) {
  linux_host::UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int yes = 1;
  ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t size = sizeof address;
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  TempDir out;
  const std::string connect = "127.0.0.1:" + port;
  const std::string dump = out.path().string();
  std::vector<const char*> argv = {FAKE_HANDHELD, "--connect", connect.c_str(), "--dump",
                                   dump.c_str(),  "--user",    "Tester",        nullptr};
  pid_t child = 0;
  ASSERT_EQ(::posix_spawn(&child, FAKE_HANDHELD, nullptr, nullptr, const_cast<char**>(argv.data()), environ), 0);
  std::this_thread::sleep_for(200ms);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  linux_host::UniqueFd connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
  ASSERT_TRUE(connection.is_open());
  NetSyncDesktop desktop(connection.get());
  desktop.handshake();
  linux_host::DlpUserInfo user;
  EXPECT_TRUE(linux_host::read_user_info_result(desktop.call(linux_host::read_user_info_request()).response, user));
  EXPECT_EQ(user.user_name, "Tester");
  EXPECT_EQ(desktop.call(linux_host::create_db_request(1, 2, 0, 0, 0, "Made")).error(), 0);
  EXPECT_EQ(desktop.call(linux_host::end_of_sync_request(0)).error(), 0);
  connection.reset();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(file_names(out.path()), (std::vector<std::string>{"Made.pdb", "handheld.conf"}));
}

}  // namespace
}  // namespace vellora::testing
