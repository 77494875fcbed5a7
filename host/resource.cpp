// The plug-in's resource: its folder, and the string table read from res/.
//
// res/c4d_symbols.h names the IDs as C enum entries; res/strings_us/c4d_strings.str
// gives the texts by those names:
//   STRINGTABLE { IDS_NAME "text" "more text"; ... }
#include <charconv>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "c4d_file.h"
#include "c4d_general.h"
#include "host_control.h"

GeResource resource;

namespace {

constexpr const char* kSymbolsFile = "c4d_symbols.h";
constexpr const char* kStringsFile = "strings_us/c4d_strings.str";
constexpr const char* kDummyElement = "_DUMMY_ELEMENT_";

struct ResourceState {
  std::string pluginFolder;
  std::string error;
  bool loaded = false;
  std::unordered_map<LONG, std::string> strings;
};

ResourceState& State() {
  static ResourceState state;
  return state;
}

struct Token {
  enum Kind { kEnd, kName, kNumber, kText, kPunct } kind = kEnd;
  std::string text;  // name, number spelling, decoded text or the punctuation character
  int line = 0;
};

// Splits a resource file into tokens, skipping blanks and comments. Lines starting
// with '#' (preprocessor lines) are skipped too.
class Lexer {
 public:
  Lexer(std::string text, std::string file) : m_text(std::move(text)), m_file(std::move(file)) {}

  const std::string& Error() const { return m_error; }

  bool Fail(int line, const std::string& why) {
    if (m_error.empty()) m_error = m_file + ":" + std::to_string(line) + ": " + why;
    return false;
  }

  bool Next(Token* t) {
    if (!SkipSpace()) return false;
    t->line = m_line;
    t->text.clear();
    if (m_pos >= m_text.size()) {
      t->kind = Token::kEnd;
      return true;
    }
    const char c = m_text[m_pos];
    if (IsNameStart(c)) {
      const size_t start = m_pos;
      while (m_pos < m_text.size() && (IsNameStart(m_text[m_pos]) || IsDigit(m_text[m_pos]))) ++m_pos;
      t->kind = Token::kName;
      t->text = m_text.substr(start, m_pos - start);
      return true;
    }
    if (IsDigit(c) || (c == '-' && m_pos + 1 < m_text.size() && IsDigit(m_text[m_pos + 1]))) {
      const size_t start = m_pos++;
      while (m_pos < m_text.size() && (IsNameStart(m_text[m_pos]) || IsDigit(m_text[m_pos]))) ++m_pos;
      t->kind = Token::kNumber;
      t->text = m_text.substr(start, m_pos - start);
      return true;
    }
    if (c == '"') return Literal(t);
    if (c == '{' || c == '}' || c == '=' || c == ',' || c == ';') {
      ++m_pos;
      t->kind = Token::kPunct;
      t->text = std::string(1, c);
      return true;
    }
    return Fail(m_line, std::string("unexpected character '") + c + "'");
  }

 private:
  static bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool SkipSpace() {
    bool lineStart = m_pos == 0;
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos];
      if (c == '\n') {
        ++m_line;
        ++m_pos;
        lineStart = true;
      } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
        ++m_pos;
      } else if (c == '#' && lineStart) {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') ++m_pos;
      } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '/') {
        while (m_pos < m_text.size() && m_text[m_pos] != '\n') ++m_pos;
      } else if (c == '/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == '*') {
        const int startLine = m_line;
        m_pos += 2;
        for (;;) {
          if (m_pos + 1 >= m_text.size()) return Fail(startLine, "comment not closed");
          if (m_text[m_pos] == '*' && m_text[m_pos + 1] == '/') break;
          if (m_text[m_pos] == '\n') ++m_line;
          ++m_pos;
        }
        m_pos += 2;
        lineStart = false;
      } else {
        return true;
      }
    }
    return true;
  }

  bool Literal(Token* t) {
    ++m_pos;  // opening quote
    t->kind = Token::kText;
    while (m_pos < m_text.size()) {
      const char c = m_text[m_pos++];
      if (c == '"') return true;
      if (c == '\n') return Fail(t->line, "text not closed on its line");
      if (c != '\\') {
        t->text.push_back(c);
        continue;
      }
      if (m_pos >= m_text.size()) break;
      const char e = m_text[m_pos++];
      switch (e) {
        case 'n':
          t->text.push_back('\n');
          break;
        case 't':
          t->text.push_back('\t');
          break;
        case '"':
          t->text.push_back('"');
          break;
        case '\\':
          t->text.push_back('\\');
          break;
        default:
          return Fail(t->line, std::string("unknown escape '\\") + e + "'");
      }
    }
    return Fail(t->line, "text not closed on its line");
  }

  std::string m_text;
  std::string m_file;
  size_t m_pos = 0;
  int m_line = 1;
  std::string m_error;
};

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
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
  LONG next = 0;
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
    LONG value = next;
    if (!lexer.Next(&t)) return fail(t.line, "");
    if (t.kind == Token::kPunct && t.text == "=") {
      if (!lexer.Next(&t)) return fail(t.line, "");
      if (t.kind != Token::kNumber || !ParseNumber(t.text, &value))
        return fail(t.line, "expected a number after '" + name + " ='");
      if (!lexer.Next(&t)) return fail(t.line, "");
    }
    if (!(t.kind == Token::kPunct && (t.text == "," || t.text == "}")))
      return fail(line, "expected ',' after '" + name + "'");
    if (name != kDummyElement) {
      if (symbols->count(name)) return fail(line, "'" + name + "' is declared twice");
      (*symbols)[name] = value;
    }
    next = value + 1;
  }
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

// The res/ folder for a given folder: its res/ sub-folder, or the folder itself
// when it is already one.
std::string ResourceFolderOf(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path base = folder.empty() ? fs::current_path(ec) : fs::path(folder);
  base = fs::absolute(base, ec).lexically_normal();
  const fs::path res = base / "res";
  if (!fs::is_directory(res, ec) && fs::is_regular_file(base / kSymbolsFile, ec)) return base.string();
  std::string s = res.string();
  return s;
}

bool Load(const std::string& folder) {
  ResourceState& state = State();
  state.strings.clear();
  state.loaded = false;
  state.error.clear();
  std::error_code ec;
  const std::string res = ResourceFolderOf(folder);
  if (!std::filesystem::is_directory(res, ec)) {
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

namespace host {

void SetPluginFolder(const std::string& folder) { State().pluginFolder = folder; }

std::string ResourceError() { return State().error; }

}  // namespace host
