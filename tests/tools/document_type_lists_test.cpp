// The type lists of the command line come from the type table; the bash
// completion and the man page are written by hand, so they are read here
// and held to the same table, and to the commands and options that the
// subcommands' files in tools/ declare.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/ascii.h"
#include "conduit/document_types.h"
#include "tests/support/temp_dir.h"
#include "tools/document_type_choices.h"

namespace vellora {
namespace {

using cli::document_type_names;
using cli::export_type_named;
using cli::export_type_names;
using cli::names_in_words;

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

std::string source_file(const std::string& name) {
  const auto bytes = testing::read_file(std::filesystem::path(VELLORA_SOURCE_DIR) / name);
  return std::string(bytes.begin(), bytes.end());
}

// The text between the first `before` after `anchor` and the next `after`.
std::string text_between(const std::string& text, const std::string& anchor, const std::string& before,
                         const std::string& after) {
  const std::size_t at = text.find(anchor);
  if (at == std::string::npos) return "(no " + anchor + ")";
  const std::size_t from = text.find(before, at + anchor.size());
  if (from == std::string::npos) return "(nothing after " + anchor + ")";
  const std::size_t start = from + before.size();
  return text.substr(start, text.find(after, start) - start);
}

std::vector<std::string> sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

// The first string literal passed to each call of `call` ("sync->add_flag(")
// in `source`, where the call's name is not the tail of a longer one.
std::vector<std::string> first_arguments(const std::string& source, const std::string& call) {
  std::vector<std::string> found;
  for (std::size_t at = source.find(call); at != std::string::npos; at = source.find(call, at + call.size())) {
    if (at > 0 && (std::isalnum(static_cast<unsigned char>(source[at - 1])) || source[at - 1] == '_')) continue;
    std::size_t from = at + call.size();
    while (from < source.size() && (source[from] == ' ' || source[from] == '\n')) ++from;
    if (from >= source.size() || source[from] != '"') continue;
    found.push_back(source.substr(from + 1, source.find('"', from + 1) - from - 1));
  }
  return found;
}

// The options the command held in `variable` declares, each name apart
// ("-o,--output" is -o and --output), sorted; positional arguments left out.
std::vector<std::string> declared_options(const std::string& source, const std::string& variable) {
  // A long call is broken before its arrow: "command\n      ->add_option(".
  std::string joined;
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\n' || source[i] == ' ') {
      std::size_t next = i;
      while (next < source.size() && (source[next] == '\n' || source[next] == ' ')) ++next;
      if (source.compare(next, 2, "->") == 0) {
        i = next - 1;
        continue;
      }
    }
    joined += source[i];
  }
  std::vector<std::string> options;
  for (const std::string& call : {variable + "->add_option(", variable + "->add_flag("})
    for (const std::string& names : first_arguments(joined, call))
      for (const std::string& name : split(names, ","))
        if (name.starts_with('-')) options.push_back(name);
  return sorted(options);
}

// Each command of the program, the file that declares it and the
// variable that holds it there; `device` takes its options through its
// one subcommand, info.
struct DeclaredCommand {
  const char* name;
  const char* file;
  const char* variable;
};
constexpr DeclaredCommand kCommands[] = {
    {"sync", "tools/sync.cpp", "command"},       {"stage", "tools/stage.cpp", "command"},
    {"convert", "tools/convert.cpp", "command"}, {"dump", "tools/dump.cpp", "command"},
    {"preview", "tools/preview.cpp", "command"}, {"export", "tools/export.cpp", "command"},
    {"mark", "tools/mark.cpp", "command"},       {"device", "tools/device.cpp", "info"}};

// The commands the files of tools/ add to the program.
std::vector<std::string> declared_commands() {
  std::vector<std::string> commands;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(VELLORA_SOURCE_DIR) / "tools")) {
    if (entry.path().extension() != ".cpp") continue;
    for (const std::string& name :
         first_arguments(source_file("tools/" + entry.path().filename().string()), "app.add_subcommand("))
      commands.push_back(name);
  }
  return sorted(commands);
}

// Extensions a file list may use for the PC files convert and stage take:
// each must be a type with an importer, and every such type must be there.
void expect_every_importable_type(const std::vector<std::string>& extensions) {
  for (const std::string& extension : extensions) {
    const DocumentType* type = find_document_type(to_lower_ascii(extension));
    EXPECT_TRUE(type != nullptr) << extension;
  }
  for (const DocumentType& type : document_types()) {
    EXPECT_NE(std::find(extensions.begin(), extensions.end(), std::string(type.extension)), extensions.end())
        << type.extension;
  }
}

TEST(DocumentTypeNames, ListInWordsAsSentencesDo) {
  EXPECT_EQ(names_in_words({}, "or"), "");
  EXPECT_EQ(names_in_words({"txt"}, "or"), "txt");
  EXPECT_EQ(names_in_words({"txt", "htm"}, "and"), "txt and htm");
  EXPECT_EQ(names_in_words({"txt", "htm", "doc", "rtf"}, "or"), "txt, htm, doc or rtf");
}

TEST(DocumentTypeNames, EveryOfferedExportTypeHasItsOwnExporter) {
  ASSERT_FALSE(export_type_names().empty());
  for (const std::string& name : export_type_names()) {
    const DocumentType* type = export_type_named(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_EQ(type->extension, "." + name);
  }
  // The .doc exporter writes RTF: a file named .doc that is not one.
  EXPECT_EQ(export_type_named("doc"), nullptr);
  EXPECT_EQ(export_type_named("pdf"), nullptr);
  EXPECT_EQ(export_type_named(""), nullptr);
}

TEST(DocumentTypeNames, ExportTypesAreNamedInAnyCaseAndHtmlAsHtm) {
  EXPECT_EQ(export_type_named("TXT"), find_document_type(".txt"));
  EXPECT_EQ(export_type_named("Rtf"), find_document_type(".rtf"));
  EXPECT_EQ(export_type_named("html"), find_document_type(".htm"));
}

TEST(DocumentTypeNames, TheCompletionOffersTheTypesOfTheTable) {
  const std::string script = source_file("tools/vellora-completion.bash");
  EXPECT_EQ(split(text_between(script, "--to)", "compgen -W \"", "\""), " "), export_type_names());
  EXPECT_EQ(split(text_between(script, "--as)", "compgen -W \"", "\""), " "), document_type_names());
  // The file patterns of convert and stage, each in lower and upper case.
  const auto patterns = split(text_between(script, "convert | stage)", "_filedir '@(", ")'"), "|");
  std::vector<std::string> lower_case;
  for (const std::string& pattern : patterns) {
    if (pattern != to_lower_ascii(pattern)) continue;
    lower_case.push_back("." + pattern);
    std::string upper = pattern;
    for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
    EXPECT_NE(std::find(patterns.begin(), patterns.end(), upper), patterns.end()) << upper;
  }
  EXPECT_EQ(lower_case.size() * 2, patterns.size());
  expect_every_importable_type(lower_case);
}

TEST(CommandLineLists, TheCompletionOffersEveryDeclaredCommandAndOption) {
  const std::string script = source_file("tools/vellora-completion.bash");
  const auto declared = declared_commands();
  std::vector<std::string> known;
  for (const DeclaredCommand& command : kCommands) known.push_back(command.name);
  ASSERT_EQ(sorted(known), declared) << "a new command needs its row in kCommands";
  EXPECT_EQ(first_arguments(source_file("tools/device.cpp"), "device->add_subcommand("),
            std::vector<std::string>{"info"});
  // Offered after "vellora ", and recognised as the command in the words before.
  EXPECT_EQ(sorted(split(text_between(script, "local commands=", "\"", "\""), " ")), declared);
  EXPECT_EQ(sorted(split(text_between(script, "for word in", "case \"$word\" in ", ")"), " | ")), declared);
  for (const DeclaredCommand& command : kCommands)
    EXPECT_EQ(sorted(split(text_between(script, std::string(command.name) + ") options=", "\"", "\""), " ")),
              declared_options(source_file(command.file), command.variable))
        << command.name;
  EXPECT_EQ(split(text_between(script, "--speed)", "compgen -W \"", "\""), " "),
            split(text_between(source_file("tools/handheld_link.h"), "kSerialSpeeds = ", "{", "}"), ", "));
}

TEST(CommandLineLists, TheManPageNamesEveryDeclaredOption) {
  const std::string page = source_file("docs/vellora.1");
  for (const DeclaredCommand& command : kCommands) {
    for (const std::string& option : declared_options(source_file(command.file), command.variable)) {
      std::string escaped;  // roff writes every hyphen as \-
      for (const char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(page.find(escaped), std::string::npos) << command.name << " " << option;
    }
  }
}

TEST(DocumentTypeNames, TheManPageListsTheTypesOfTheTable) {
  const std::string page = source_file("docs/vellora.1");
  EXPECT_EQ(split(text_between(page, ".B \\-\\-to\n", ".BR ", "\n"), " | "), export_type_names());
  EXPECT_EQ(split(text_between(page, ".RB [ \\-\\-as\n", ".BR ", " ]\n"), " | "), document_type_names());
  expect_every_importable_type(split(text_between(page, "Converts one document", "(", ")"), ", "));
}

}  // namespace
}  // namespace vellora
