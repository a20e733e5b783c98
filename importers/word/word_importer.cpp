#include "importers/word/word_importer.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/files.h"
#include "base/private_folder.h"
#include "importers/rtf/rtf_importer.h"
#include "importers/word/converter_stream.h"

namespace vellora {

namespace fs = std::filesystem;

namespace {

// The converter's RTF is read in pieces of this size.
constexpr std::size_t kPieceBytes = 4096;
constexpr std::string_view kRtfSignature = "{\\rtf";

// The registered converter libraries in order of preference. A path that
// does not fit the interface's buffer cannot be loaded as it stands, so it
// is passed over rather than cut to another path.
std::vector<std::string> registered_converters(const Registry& registry) {
  std::vector<std::string> paths;
  for (const std::string_view key : {kWord6ConverterKey, kWord8ConverterKey}) {
    const auto path = registry.read_string(RegistryHive::local_machine, key, kConverterPathValue);
    if (path && !path->empty() && path->size() < kConverterPathBytes) paths.push_back(*path);
  }
  return paths;
}

bool names_a_file(const std::string& path) {
  std::error_code error;
  const auto status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_directory(status);
}

// Copies the converter's RTF into `temp`, reading the stream to its end
// whatever happens to the file, so that the converter thread can finish.
ImportResult collect_rtf(ConverterStream& stream, const fs::path& temp, const std::string& source,
                         const std::string& converter) {
  UniqueFile out = create_new_file(temp);
  int write_error = out ? 0 : errno;
  std::vector<std::uint8_t> piece(kPieceBytes);
  for (std::size_t got; (got = stream.read(piece.data(), piece.size())) != 0;) {
    if (write_error == 0 && std::fwrite(piece.data(), 1, got, out.get()) != got) write_error = errno ? errno : EIO;
  }
  if (out && std::fclose(out.release()) != 0 && write_error == 0) write_error = errno ? errno : EIO;
  if (stream.failed())
    return {ImportStatus::cannot_convert, source + ": the text converter " + converter + " failed", 0};
  if (write_error != 0) return {ImportStatus::cannot_write, host_text(temp) + ": " + errno_text(write_error), 0};
  return {};
}

// Whether the file starts with "{\rtf": RTF saved under a .doc name.
ImportResult check_rtf(const fs::path& source, bool& is_rtf) {
  is_rtf = false;
  const UniqueFile input = open_file(source, "rb");
  if (!input) return {ImportStatus::cannot_read, host_text(source) + ": " + errno_text(errno), 0};
  std::array<char, kRtfSignature.size()> start{};
  const std::size_t got = std::fread(start.data(), 1, start.size(), input.get());
  if (std::ferror(input.get()))
    return {ImportStatus::cannot_read, host_text(source) + ": read failed: " + errno_text(errno), 0};
  is_rtf = got == start.size() && std::string_view(start.data(), start.size()) == kRtfSignature;
  return {};
}

// The private folder the converter's RTF is collected in, removed with
// that file when the conversion is done.
class WorkFolder {
 public:
  explicit WorkFolder(const fs::path& staging_folder)
      : path_(make_private_folder(staging_folder, kWordWorkFolderPrefix, error_)) {}
  ~WorkFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    fs::remove(temp_file(), ignored);
    fs::remove(path_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  explicit operator bool() const { return !path_.empty(); }
  fs::path temp_file() const { return path_ / kWordTempFile; }
  const std::error_code& error() const { return error_; }

 private:
  std::error_code error_;
  fs::path path_;
};

}  // namespace

void remove_stale_word_work(const fs::path& staging_folder) {
  remove_private_folders(staging_folder, kWordWorkFolderPrefix);
  remove_if_empty_file(staging_folder / kWordTempFile);
}

ImportResult ImportWordDocument(const fs::path& source, const fs::path& staging_folder, std::string_view file_name,
                                const ImportOptions& options) {
  const std::string input = host_text(source);
  if (const std::string why = not_a_regular_file(source); !why.empty())
    return {ImportStatus::cannot_read, input + ": " + why, 0};
  if (options.registry != nullptr && options.converters != nullptr) {
    for (const std::string& converter : registered_converters(*options.registry)) {
      if (!names_a_file(converter)) continue;
      // The converter reads the source by its path: a sync's source must be
      // the listed file before, and unchanged after.
      FileStamp before;
      if (options.listed_source != nullptr &&
          (!stamp_entry(source, before) || !before.is_regular || !before.is_same_file(*options.listed_source)))
        return {ImportStatus::changed, input + ": was replaced by another file while the sync ran", 0};
      std::optional<WorkFolder> work;
      ImportResult collected;
      {
        ConverterStream stream(*options.converters, converter);
        if (!stream.is_format_correct(input)) continue;
        if (options.on_converter) options.on_converter(converter);
        work.emplace(staging_folder);
        if (!*work)
          return {
              ImportStatus::cannot_write,
              host_text(staging_folder) + ": cannot make a folder for the converted text: " + work->error().message(),
              0};
        if (!stream.open(input))
          return {ImportStatus::cannot_convert, input + ": the text converter " + converter + " could not be started",
                  0};
        collected = collect_rtf(stream, work->temp_file(), input, converter);
      }  // the converter thread has ended and the library is released
      if (!collected) return collected;
      ImportOptions rtf_options = options;
      rtf_options.listed_source = nullptr;  // the converter's RTF is no listed file
      ImportResult imported = ImportRtf(work->temp_file(), staging_folder, file_name, rtf_options);
      if (!imported || options.listed_source == nullptr) return imported;
      if (FileStamp after; !stamp_entry(source, after) || !(after == before))
        return {ImportStatus::changed, input + ": changed while it was being read", 0};
      imported.source_stamp = before;
      return imported;
    }
  }
  bool is_rtf = false;
  if (ImportResult checked = check_rtf(source, is_rtf); !checked) return checked;
  if (is_rtf) return ImportRtf(source, staging_folder, file_name, options);
  return {ImportStatus::cannot_convert, input + ": no text converter takes it, and it is not RTF", 0};
}

}  // namespace vellora
