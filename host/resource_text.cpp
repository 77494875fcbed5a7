// The tokenizer's helpers and the symbol table of the plug-in's resource files.
#include "resource_text.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace host::internal {

namespace {
constexpr const char* kDummyElement = "_DUMMY_ELEMENT_";
}  // namespace

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  *text = ss.str();
  return true;
}

bool ParseNumber(const std::string& spelling, LONG* value) {
  const char* first = spelling.data();
  const char* last = first + spelling.size();
  bool negative = false;
  if (first < last && *first == '-') {
    negative = true;
    ++first;
  }
  int base = 10;
  if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
    base = 16;
    first += 2;
  }
  long long v = 0;
  const auto result = std::from_chars(first, last, v, base);
  if (result.ec != std::errc() || result.ptr != last) return false;
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<LONG>(v);
  return true;
}

// Reads the enum entries "NAME = number," (or "NAME," counting on from the entry
// before, as C does).
bool ParseSymbols(const std::string& path, std::unordered_map<std::string, LONG>* symbols, std::string* error) {
  std::string text;
  if (!ReadText(path, &text)) {
    *error = "cannot read '" + path + "'";
    return false;
  }
  Lexer lexer(std::move(text), path);
  Token t;
  LLONG next = 0;  // wider than an ID: counting on from the largest one is refused
  auto fail = [&](int line, const std::string& why) {
    lexer.Fail(line, why);
    *error = lexer.Error();
    return false;
  };
  for (;;) {
    if (!lexer.Next(&t)) return fail(t.line, "");
    if (t.kind == Token::kEnd) return true;
    if (t.kind == Token::kPunct && (t.text == "{" || t.text == "}" || t.text == ";" || t.text == ",")) continue;
    if (t.kind == Token::kName && t.text == "enum") continue;
    if (t.kind != Token::kName) return fail(t.line, "expected a name, found '" + t.text + "'");
    const std::string name = t.text;
    const int line = t.line;
    LONG value = 0;
    if (!lexer.Next(&t)) return fail(t.line, "");
    if (t.kind == Token::kPunct && t.text == "=") {
      if (!lexer.Next(&t)) return fail(t.line, "");
      if (t.kind != Token::kNumber || !ParseNumber(t.text, &value))
        return fail(t.line, "expected a number after '" + name + " ='");
      if (!lexer.Next(&t)) return fail(t.line, "");
    } else if (next > INT32_MAX) {
      if (name != kDummyElement) return fail(line, "'" + name + "' counts past the largest ID");
    } else {
      value = static_cast<LONG>(next);
    }
    if (!(t.kind == Token::kPunct && (t.text == "," || t.text == "}")))
      return fail(line, "expected ',' after '" + name + "'");
    if (name != kDummyElement) {
      if (symbols->count(name)) return fail(line, "'" + name + "' is declared twice");
      (*symbols)[name] = value;
    }
    next = LLONG(value) + 1;
  }
}

std::string ResourceFolderOf(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = folder.empty() ? fs::current_path(ec) : fs::u8path(folder);
  base = fs::absolute(base, ec).lexically_normal();
  const fs::path res = base / "res";
  if (!fs::is_directory(res, ec) && fs::is_regular_file(base / kSymbolsFile, ec)) return base.u8string();
  std::string s = res.u8string();
  return s;
}

}  // namespace host::internal
