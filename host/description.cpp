// Descriptions from res/description/<NAME>.res: the parameters a plug-in tag or object
// shows in the attribute view, with their container IDs, kinds and labels
// (docs/resources.md describes the format):
//
//   DESCRIPTION Txpromask
//   {
//     TITLE "OBJ Export Mask";
//     BOOL XPMASK_SKIP_OBJECT { LABEL "Leave the object out of the export"; }
//   }
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "host_control.h"
#include "resource_text.h"

namespace {

using host::ParameterInfo;
using host::ParameterKind;
using host::internal::ResourceParser;
using host::internal::Token;

bool KindByName(const std::string& name, ParameterKind* kind) {
  static const std::map<std::string, ParameterKind> kinds = {
      {"BOOL", ParameterKind::Bool},
      {"LONG", ParameterKind::Long},
      {"REAL", ParameterKind::Real},
      {"STRING", ParameterKind::String},
      {"FILENAME", ParameterKind::FileName},
      {"BITMAPBUTTON", ParameterKind::BitmapButton},
  };
  const auto it = kinds.find(name);
  if (it == kinds.end()) return false;
  *kind = it->second;
  return true;
}

// A name is a file name too: letters, digits and underscores only.
bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 64 || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

class Parser : public ResourceParser {
 public:
  using ResourceParser::ResourceParser;

  bool Parse(const std::string& wanted, std::string* title, std::vector<ParameterInfo>* parameters) {
    if (!Next()) return false;
    if (m_t.kind != Token::kName || m_t.text != "DESCRIPTION") return Fail(m_t.line, "expected DESCRIPTION");
    if (!Next()) return false;
    if (m_t.kind != Token::kName) return Fail(m_t.line, "expected the description's name");
    if (m_t.text != wanted) return Fail(m_t.line, "the file holds description " + m_t.text + ", not " + wanted);
    if (!Next() || !Expect("{")) return false;
    const int open = m_t.line;
    for (;;) {
      if (!Next()) return false;
      if (m_t.kind == Token::kEnd) return Fail(open, "the description is not closed");
      if (IsPunct("}")) break;
      if (m_t.kind != Token::kName) return Fail(m_t.line, "expected a parameter or TITLE, found '" + m_t.text + "'");
      ParameterKind kind;
      if (m_t.text == "TITLE") {
        if (!Text(title)) return false;
      } else if (KindByName(m_t.text, &kind)) {
        if (!Parameter(kind, parameters)) return false;
      } else {
        return Fail(m_t.line, "'" + m_t.text + "' is no parameter kind or description property");
      }
    }
    if (!Next()) return false;
    if (m_t.kind != Token::kEnd) return Fail(m_t.line, "unexpected '" + m_t.text + "' after the description");
    return true;
  }

 private:

  bool Parameter(ParameterKind kind, std::vector<ParameterInfo>* parameters) {
    const std::string kindName = m_t.text;
    const int line = m_t.line;
    if (!Next()) return false;
    ParameterInfo p;
    p.kind = kind;
    if (m_t.kind != Token::kNumber && m_t.kind != Token::kName) return Fail(m_t.line, kindName + " needs an ID");
    if (!Id(&p.id)) return false;
    if (m_t.kind == Token::kName) p.symbol = m_t.text;
    if (p.id <= 0) return Fail(line, "parameter IDs are above 0, not " + std::to_string(p.id));
    const auto seen = m_lines.find(p.id);
    if (seen != m_lines.end())
      return Fail(line, "ID " + std::to_string(p.id) + " is used twice (first on line " + std::to_string(seen->second) + ")");
    m_lines[p.id] = line;
    if (!Next() || !Expect("{")) return false;
    for (;;) {
      if (!Next()) return false;
      if (m_t.kind == Token::kEnd) return Fail(line, kindName + " " + std::to_string(p.id) + " is not closed");
      if (IsPunct("}")) break;
      if (m_t.kind != Token::kName || m_t.text != "LABEL")
        return Fail(m_t.line, "'" + m_t.text + "' is no parameter property (LABEL)");
      if (!Text(&p.label)) return false;
    }
    if (p.label.empty()) return Fail(line, kindName + " " + std::to_string(p.id) + " has no LABEL");
    parameters->push_back(std::move(p));
    return true;
  }

  std::map<LONG, int> m_lines;  // ID -> line of its first use
};

}  // namespace

namespace host {

const char* ParameterKindName(ParameterKind kind) {
  switch (kind) {
    case ParameterKind::Bool: return "BOOL";
    case ParameterKind::Long: return "LONG";
    case ParameterKind::Real: return "REAL";
    case ParameterKind::String: return "STRING";
    case ParameterKind::FileName: return "FILENAME";
    case ParameterKind::BitmapButton: return "BITMAPBUTTON";
  }
  return "?";
}

bool DescribeDescription(const std::string& name, std::string* title, std::vector<ParameterInfo>* parameters,
                         std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  if (!ValidName(name)) return fail("'" + name + "' is no description name");
  const std::string res = internal::PluginResourceFolder();
  std::unordered_map<std::string, LONG> symbols;
  std::string why;
  if (!internal::ParseSymbols(res + "/" + internal::kSymbolsFile, &symbols, &why)) return fail(why);
  const std::string path = res + "/description/" + name + ".res";
  std::string text;
  if (!internal::ReadText(path, &text)) return fail("cannot read '" + path + "'");
  std::string parsedTitle;
  std::vector<ParameterInfo> parsed;
  Parser parser(std::move(text), path, symbols);
  if (!parser.Parse(name, &parsedTitle, &parsed)) return fail(parser.Error());
  if (title) *title = std::move(parsedTitle);
  if (parameters) *parameters = std::move(parsed);
  return true;
}

}  // namespace host
