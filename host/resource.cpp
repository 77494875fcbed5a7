// The plug-in's resource: its folder, and the string table read from res/.
//
// res/c4d_symbols.h names the IDs as C enum entries; res/strings_us/c4d_strings.str
// gives the texts by those names:
//   STRINGTABLE { IDS_NAME "text" "more text"; ... }
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "c4d_file.h"
#include "c4d_general.h"
#include "host_control.h"
#include "resource_text.h"

GeResource resource;

namespace {

using host::internal::kSymbolsFile;
using host::internal::Lexer;
using host::internal::ParseSymbols;
using host::internal::ReadText;
using host::internal::ResourceFolderOf;
using host::internal::Token;

constexpr const char* kStringsFile = "strings_us/c4d_strings.str";

struct ResourceState {
  std::string pluginFolder;
  std::string error;
  std::string resFolder;  // of the last successful load
  bool loaded = false;
  std::unordered_map<LONG, std::string> strings;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

bool ParseStrings(const std::string& path, const std::string& symbolsPath,
                  const std::unordered_map<std::string, LONG>& symbols, std::unordered_map<LONG, std::string>* strings,
                  std::string* error) {
  std::string text;
  if (!ReadText(path, &text)) {
    *error = "cannot read the string table '" + path + "'";
    return false;
  }
  Lexer lexer(std::move(text), path);
  Token t;
  auto fail = [&](int line, const std::string& why) {
    lexer.Fail(line, why);
    *error = lexer.Error();
    return false;
  };
  if (!lexer.Next(&t)) return fail(t.line, "");
  if (t.kind != Token::kName || t.text != "STRINGTABLE") return fail(t.line, "expected STRINGTABLE");
  if (!lexer.Next(&t)) return fail(t.line, "");
  if (t.kind != Token::kPunct || t.text != "{") return fail(t.line, "expected '{' after STRINGTABLE");
  std::unordered_map<std::string, int> seen;
  for (;;) {
    if (!lexer.Next(&t)) return fail(t.line, "");
    if (t.kind == Token::kPunct && t.text == "}") break;
    if (t.kind == Token::kEnd) return fail(t.line, "the table is not closed with '}'");
    if (t.kind != Token::kName) return fail(t.line, "expected a string name");
    const std::string name = t.text;
    const int line = t.line;
    const auto symbol = symbols.find(name);
    if (symbol == symbols.end()) return fail(line, "'" + name + "' is not declared in '" + symbolsPath + "'");
    if (seen.count(name))
      return fail(line, "'" + name + "' already has a text (line " + std::to_string(seen[name]) + ")");
    seen[name] = line;
    std::string value;
    int pieces = 0;
    for (;;) {
      if (!lexer.Next(&t)) return fail(t.line, "");
      if (t.kind != Token::kText) break;
      value += t.text;  // adjacent literals join
      ++pieces;
    }
    if (pieces == 0) return fail(line, "expected a quoted text after '" + name + "'");
    if (t.kind != Token::kPunct || t.text != ";") return fail(t.line, "expected ';' after the text of '" + name + "'");
    (*strings)[symbol->second] = std::move(value);
  }
  if (!lexer.Next(&t)) return fail(t.line, "");
  if (t.kind != Token::kEnd) return fail(t.line, "unexpected '" + t.text + "' after the table");
  return true;
}

bool Load(const std::string& folder) {
  ResourceState& state = State();
  state.strings.clear();
  state.loaded = false;
  state.error.clear();
  std::error_code ec;
  const std::string res = ResourceFolderOf(folder);
  if (!std::filesystem::is_directory(std::filesystem::u8path(res), ec)) {
    state.error = "no resource folder '" + res + "'";
    return false;
  }
  std::unordered_map<std::string, LONG> symbols;
  const std::string symbolsPath = res + "/" + kSymbolsFile;
  std::unordered_map<LONG, std::string> strings;
  if (!ParseSymbols(symbolsPath, &symbols, &state.error) ||
      !ParseStrings(res + "/" + kStringsFile, symbolsPath, symbols, &strings, &state.error))
    return false;
  state.strings = std::move(strings);
  state.resFolder = res;
  state.loaded = true;
  return true;
}

}  // namespace

Filename GeGetPluginPath() { return Filename(String(State().pluginFolder)); }

Bool GeResource::Init() { return Load(State().pluginFolder); }

Bool GeResource::Init(const Filename& folder) { return Load(folder.GetString().Std()); }

void GeResource::Free() {
  State().strings.clear();
  State().loaded = false;
}

Bool GeResource::IsLoaded() const { return State().loaded; }

String GeLoadString(LONG id) {
  const auto& strings = State().strings;
  const auto it = strings.find(id);
  return it == strings.end() ? String() : String(it->second);
}

String GeLoadString(LONG id, const String& p1, const String& p2) {
  const String text = GeLoadString(id);
  const std::string& in = text.Std();
  std::string out;
  int replaced = 0;
  for (const char c : in) {
    if (c == '#' && replaced < 2) {
      out += (replaced == 0 ? p1 : p2).Std();
      ++replaced;
    } else {
      out.push_back(c);
    }
  }
  return String(std::move(out));
}

namespace host::internal {

std::string PluginResourceFolder() {
  const ResourceState& state = State();
  return state.loaded ? state.resFolder : ResourceFolderOf(state.pluginFolder);
}

}  // namespace host::internal

namespace host {

void SetPluginFolder(const std::string& folder) { State().pluginFolder = folder; }

std::string ResourceError() { return State().error; }

}  // namespace host
