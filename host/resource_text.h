// Reading of the plug-in's resource files (symbols, string tables, dialog layouts):
// one tokenizer and the symbol table, shared by the host's resource loaders.
#pragma once

#include <string>
#include <unordered_map>

#include "ge_types.h"

namespace host::internal {

constexpr const char* kSymbolsFile = "c4d_symbols.h";

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
      // A point is part of a number: dialog layouts give real limits.
      while (m_pos < m_text.size() && (IsNameStart(m_text[m_pos]) || IsDigit(m_text[m_pos]) || m_text[m_pos] == '.'))
        ++m_pos;
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

// The whole file; false when it cannot be read.
bool ReadText(const std::string& path, std::string* text);
// A decimal or 0x-hexadecimal 32-bit number, optionally negative.
bool ParseNumber(const std::string& spelling, LONG* value);
// Reads the enum entries of c4d_symbols.h; false with "file:line: reason" in *error.
bool ParseSymbols(const std::string& path, std::unordered_map<std::string, LONG>* symbols, std::string* error);
// Base of the resource file parsers: the current token and the steps every layout
// file is read with.
class ResourceParser {
 public:
  ResourceParser(std::string text, std::string file, const std::unordered_map<std::string, LONG>& symbols)
      : m_lexer(std::move(text), std::move(file)), m_symbols(symbols) {}
  const std::string& Error() const { return m_lexer.Error(); }

 protected:
  bool Next() { return m_lexer.Next(&m_t); }
  bool Fail(int line, const std::string& why) { return m_lexer.Fail(line, why); }
  bool IsPunct(const char* p) const { return m_t.kind == Token::kPunct && m_t.text == p; }
  bool Expect(const char* p) {
    if (IsPunct(p)) return true;
    return Fail(m_t.line, std::string("expected '") + p + "', found '" + m_t.text + "'");
  }
  // The current token as an ID: a symbol of c4d_symbols.h or a number.
  bool Id(LONG* id) {
    if (m_t.kind == Token::kNumber) {
      if (!ParseNumber(m_t.text, id)) return Fail(m_t.line, "'" + m_t.text + "' is no ID");
      return true;
    }
    if (m_t.kind != Token::kName) return Fail(m_t.line, "expected an ID, found '" + m_t.text + "'");
    const auto it = m_symbols.find(m_t.text);
    if (it == m_symbols.end()) return Fail(m_t.line, "'" + m_t.text + "' is not declared in c4d_symbols.h");
    *id = it->second;
    return true;
  }
  // The next token as a quoted text, then ";".
  bool Text(std::string* out) {
    if (!Next()) return false;
    if (m_t.kind != Token::kText) return Fail(m_t.line, "expected a quoted text");
    *out = m_t.text;
    return Next() && Expect(";");
  }

  Lexer m_lexer;
  const std::unordered_map<std::string, LONG>& m_symbols;
  Token m_t;
};

// The res/ folder for a given folder: its res/ sub-folder, or the folder itself
// when it is already one.
std::string ResourceFolderOf(const std::string& folder);
// The res/ folder of the plug-in: the one GeResource::Init last loaded, else the one
// of the plug-in folder.
std::string PluginResourceFolder();

}  // namespace host::internal
