// Document database to plain text, one line per paragraph, through the
// shared document reader.
#include "exporters/text_exporter.h"

#include <cerrno>
#include <system_error>

#include "docmodel/document_reader.h"
#include "docmodel/files.h"

namespace vellora {

ExportResult ExportText(SyncManager& sync, std::string_view database_name,
                        const std::filesystem::path& output, const ExportOptions&) {
  DocumentReader document(sync);
  if (auto opened = document.open(database_name); !opened) return export_failure(opened);

  UniqueFile file = open_file(output, "wb");
  const auto write_failure = [&] {
    return ExportResult{ExportStatus::cannot_write, output.string() + ": " + std::generic_category().message(errno)};
  };
  if (!file) return write_failure();
  const auto discard = [&](ExportResult result) {
    file.reset();
    std::error_code ignored;
    std::filesystem::remove(output, ignored);
    return result;
  };

  DocumentParagraph paragraph;
  for (std::uint16_t index = 1; index < document.record_count(); ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return discard(export_failure(read));
    bool ok = true;
    if (paragraph.kind == DocumentParagraph::Kind::text) {
      const auto& text = paragraph.text.text;
      ok = (text.empty() || std::fwrite(text.data(), 1, text.size(), file.get()) == text.size()) &&
           std::fputc('\n', file.get()) != EOF;
    } else if (paragraph.kind == DocumentParagraph::Kind::empty_line) {
      ok = std::fputc('\n', file.get()) != EOF;
    }
    if (!ok) return discard(write_failure());
  }
  if (!close_written_file(file)) return discard(write_failure());
  return {};
}

}  // namespace vellora
