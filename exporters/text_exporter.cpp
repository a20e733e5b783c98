// Document database to plain text, one line per paragraph, through the
// shared document reader.
#include "exporters/text_exporter.h"

#include "docmodel/document_reader.h"
#include "exporters/export_file.h"

namespace vellora {

ExportResult ExportText(SyncManager& sync, std::string_view database_name,
                        const std::filesystem::path& output, const ExportOptions& options) {
  DocumentReader document(sync);
  if (auto opened = document.open(database_name); !opened) return export_failure(opened);

  ExportFile file(output, options.is_flushed_by_caller);
  if (auto opened = file.open(); !opened) return opened;
  DocumentParagraph paragraph;
  for (std::uint16_t index = 1; index < document.record_count(); ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return export_failure(read);
    bool ok = true;
    if (paragraph.kind == DocumentParagraph::Kind::text) {
      const auto& text = paragraph.text.text;
      ok = file.write({reinterpret_cast<const char*>(text.data()), text.size()}) && file.write("\n");
    } else if (paragraph.kind == DocumentParagraph::Kind::empty_line) {
      ok = file.write("\n");
    }
    if (!ok) return file.failure();
  }
  return file.finish();
}

}  // namespace vellora
