// Document database to plain text, one line per paragraph, through the
// shared document reader.
#include "exporters/text_exporter.h"

#include "docmodel/document_reader.h"
#include "exporters/export_file.h"

namespace vellora {

ExportResult ExportText(SyncManager& sync, std::string_view database_name, const std::filesystem::path& output,
                        const ExportOptions& options) {
  DocumentReader document(sync);
  if (auto opened = document.open(database_name); !opened) return export_failure(opened);

  ExportFile file(output, options.leaves_flush_pending);
  if (auto opened = file.open(); !opened) return opened;
  const TextCodec& codec = options.codec != nullptr ? *options.codec : TextCodec::identity();
  DocumentParagraph paragraph;
  std::string line;
  for (std::uint16_t index = 1; index < document.record_count(); ++index) {
    if (auto read = document.read_paragraph(index, paragraph); !read) return export_failure(read);
    bool ok = true;
    if (paragraph.kind == DocumentParagraph::Kind::text) {
      line.clear();
      codec.append_pc_text(paragraph.text.text, line);
      line += '\n';
      ok = file.write(line);
    } else if (paragraph.kind == DocumentParagraph::Kind::empty_line) {
      ok = file.write("\n");
    }
    if (!ok) return file.failure();
  }
  return file.finish();
}

}  // namespace vellora
