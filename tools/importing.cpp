// The way from a command-line file into an importer.
#include "tools/importing.h"

#include <cstdio>

#include "base/ascii.h"
#include "hosts/linux/terminal_text.h"
#include "tools/encoding_option.h"
#include "tools/registry_option.h"

namespace vellora::cli {

namespace fs = std::filesystem;

const DocumentType* importer_for(const fs::path& file, std::string& why_not) {
  const std::string extension = to_lower_ascii(file.extension().string());
  const DocumentType* type = find_document_type(extension);
  if (type == nullptr) {
    why_not = not_a_document_type_reason();
    return nullptr;
  }
  return type;
}

bool is_readable_file(const fs::path& file, std::string& why_not) {
  why_not = not_a_regular_file(file);
  return why_not.empty();
}

bool Importing::load(const std::string& registry_file, const std::string& encoding, std::string& why_not) {
  if (!load_registry(registry_file, linux_host::default_registry_file(), registry, why_not)) return false;
  options.codec = choose_codec(encoding, &registry, why_not);
  if (options.codec == nullptr) return false;
  options.registry = &registry;
  options.converters = &converters;
  options.on_converter = [](const std::string& converter) {
    std::printf("converting with the text converter %s\n", linux_host::terminal_safe(converter).c_str());
    std::fflush(stdout);
  };
  return true;
}

}  // namespace vellora::cli
