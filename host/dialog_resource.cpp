// Dialog layouts from res/dialogs/<SYMBOL>.res, one dialog per file, named after the
// dialog's symbol in c4d_symbols.h (docs/resources.md describes the format):
//
//   DIALOG DLG_MDD_EXPORT_OPTIONS
//   {
//     TITLE "MDD Export";
//     GROUP IDC_MDDXP_SCALE_GROUP { TITLE "Scale"; COLUMNS 2;
//       RADIO IDC_MDDXP_MULTIPLY { LABEL "Multiply"; KEY "multiply"; }
//       INTEGER IDC_MDDXP_SCALE { LABEL "Scale"; KEY "scale"; MIN 1; MAX 100000; }
//       RADIO IDC_MDDXP_DIVIDE { LABEL "Divide"; KEY "divide"; CHOICE "scale-mode" "divide"; }
//     }
//     BUTTON 1 { LABEL "OK"; }
//   }
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "dialog_internal.h"
#include "resource_text.h"

namespace {

using host::GadgetKind;
using host::internal::DialogLayout;
using host::internal::GadgetSpec;
using host::internal::ResourceParser;
using host::internal::Token;

std::string& LastError() {
  static std::string error;
  return error;
}

bool KindByName(const std::string& name, GadgetKind* kind) {
  static const std::map<std::string, GadgetKind> kinds = {
      {"GROUP", GadgetKind::Group},       {"STATIC", GadgetKind::Static},     {"CHECK", GadgetKind::Check},
      {"RADIO", GadgetKind::Radio},       {"BUTTON", GadgetKind::Button},     {"INTEGER", GadgetKind::Integer},
      {"REAL", GadgetKind::Real},         {"TEXT", GadgetKind::Text},         {"POPUP", GadgetKind::Popup},
      {"USERAREA", GadgetKind::UserArea}, {"LISTVIEW", GadgetKind::ListView},
  };
  const auto it = kinds.find(name);
  if (it == kinds.end()) return false;
  *kind = it->second;
  return true;
}

// Lower-case words of letters and digits joined by single dashes.
bool ValidKey(const std::string& key) {
  if (key.empty() || key.front() == '-' || key.back() == '-') return false;
  for (size_t i = 0; i < key.size(); ++i) {
    const char c = key[i];
    if (c == '-') {
      if (key[i + 1] == '-') return false;
      continue;
    }
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// Groups inside groups deeper than this are refused (the reader recurses).
constexpr int kMaxNesting = 64;

bool TakesKey(GadgetKind k) {
  return k != GadgetKind::Group && k != GadgetKind::Static && k != GadgetKind::UserArea;
}

class Parser : public ResourceParser {
 public:
  Parser(std::string text, std::string file, const std::unordered_map<std::string, LONG>& symbols)
      : ResourceParser(std::move(text), file, symbols), m_file(std::move(file)) {}

  bool Parse(LONG wantedId, DialogLayout* layout) {
    m_layout = layout;
    if (!Next()) return false;
    if (m_t.kind != Token::kName || m_t.text != "DIALOG") return Fail(m_t.line, "expected DIALOG");
    if (!Next()) return false;
    LONG id = 0;
    const std::string symbol = m_t.text;
    if (!Id(&id)) return false;
    if (id != wantedId)
      return Fail(m_t.line, "the file holds dialog " + std::to_string(id) + ", not " + std::to_string(wantedId));
    layout->id = id;
    layout->symbol = symbol;
    if (!Next() || !Expect("{")) return false;
    const int open = m_t.line;
    if (!Body(-1, GadgetKind::Group, open, "the dialog", 0)) return false;
    if (!Next()) return false;
    if (m_t.kind != Token::kEnd) return Fail(m_t.line, "unexpected '" + m_t.text + "' after the dialog");
    // A set is named where a key could be: the two may not meet.
    for (const GadgetSpec& g : layout->gadgets) {
      const auto set = m_setLines.find(g.key);
      if (!g.key.empty() && set != m_setLines.end())
        return Fail(set->second, "choice set '" + g.key + "' has the name of a gadget's key");
    }
    return true;
  }

 private:

  bool Number(Real* out) {
    if (!Next()) return false;
    if (m_t.kind != Token::kNumber) return Fail(m_t.line, "expected a number, found '" + m_t.text + "'");
    char* end = nullptr;
    const double v = std::strtod(m_t.text.c_str(), &end);
    if (!end || *end != '\0' || !std::isfinite(v)) return Fail(m_t.line, "'" + m_t.text + "' is no number");
    *out = v;
    return true;
  }

  bool Whole(LONG* out) {
    Real v = 0.0;
    if (!Number(&v)) return false;
    if (v != std::floor(v) || v < 0.0 || v > 100000.0) return Fail(m_t.line, "expected a whole number from 0 to 100000");
    *out = static_cast<LONG>(v);
    return true;
  }

  // The content of a group (or the dialog, index -1) up to its closing brace; depth
  // counts the groups around it.
  bool Body(int self, GadgetKind kind, int openLine, const std::string& what, int depth) {
    for (;;) {
      if (!Next()) return false;
      if (m_t.kind == Token::kEnd) return Fail(openLine, what + " is not closed");
      if (IsPunct("}")) return true;
      if (m_t.kind != Token::kName) return Fail(m_t.line, "expected a gadget or a property, found '" + m_t.text + "'");
      GadgetKind childKind;
      if (KindByName(m_t.text, &childKind)) {
        if (kind != GadgetKind::Group) return Fail(m_t.line, "only groups hold gadgets");
        if (!Gadget(self, childKind, depth + 1)) return false;
        continue;
      }
      if (!Property(self)) return false;
    }
  }

  bool Property(int self) {
    const std::string name = m_t.text;
    const int line = m_t.line;
    if (self < 0) {
      if (name == "TITLE") return Text(&m_layout->title);
      return Fail(line, "'" + name + "' is no gadget kind or dialog property");
    }
    GadgetSpec& g = m_layout->gadgets[static_cast<size_t>(self)];
    const bool isGroup = g.kind == GadgetKind::Group;
    const bool isNumber = g.kind == GadgetKind::Integer || g.kind == GadgetKind::Real;
    if (name == "LABEL" || name == "TITLE") return Text(&g.label);
    if (name == "KEY") {
      std::string key;
      if (!Text(&key)) return false;
      if (!TakesKey(g.kind))
        return Fail(line, std::string("a ") + host::GadgetKindName(g.kind) + " takes no key: the user sets nothing there");
      if (!ValidKey(key)) return Fail(line, "key '" + key + "' is not lower-case words joined by dashes");
      for (const GadgetSpec& other : m_layout->gadgets)
        if (&other != &g && other.key == key) return Fail(line, "key '" + key + "' is used twice");
      g.key = key;
      return true;
    }
    if (name == "CHOICE") return Choice(g, line);
    if (name == "COLUMNS" || name == "ROWS") {
      if (!isGroup) return Fail(line, name + " belongs to groups");
      if (!Whole(name == "COLUMNS" ? &g.cols : &g.rows)) return false;
      return Next() && Expect(";");
    }
    if (name == "MIN" || name == "MAX" || name == "STEP") {
      if (!isNumber) return Fail(line, name + " belongs to number fields");
      Real v = 0.0;
      if (!Number(&v)) return false;
      if (g.kind == GadgetKind::Integer && v != std::floor(v)) return Fail(line, "an integer field takes whole limits");
      if (name == "STEP") {
        if (!(v > 0.0)) return Fail(line, "STEP must be above 0");
        g.step = v;
      } else {
        if (!g.hasLimits) {
          g.min = g.kind == GadgetKind::Integer ? MINLONGl : MINREALr;
          g.max = g.kind == GadgetKind::Integer ? MAXLONGl : MAXREALr;
        }
        g.hasLimits = true;
        (name == "MIN" ? g.min : g.max) = v;
        if (g.min > g.max) return Fail(line, "MIN lies above MAX");
      }
      return Next() && Expect(";");
    }
    if (name == "SIZE") {
      if (!Whole(&g.width) || !Whole(&g.height)) return false;
      return Next() && Expect(";");
    }
    return Fail(line, "'" + name + "' is no gadget kind or property");
  }

  // CHOICE "set" "name"; a radio's place in a named exclusive set.
  bool Choice(GadgetSpec& g, int line) {
    std::string set, choice;
    if (!Next()) return false;
    if (m_t.kind != Token::kText) return Fail(m_t.line, "CHOICE takes a set name and a choice name, both quoted");
    set = m_t.text;
    if (!Next()) return false;
    if (m_t.kind != Token::kText) return Fail(m_t.line, "CHOICE takes a set name and a choice name, both quoted");
    choice = m_t.text;
    if (!Next() || !Expect(";")) return false;
    if (g.kind != GadgetKind::Radio) return Fail(line, "CHOICE belongs to radios");
    if (!g.choiceSet.empty()) return Fail(line, "a radio belongs to one choice set");
    if (!ValidKey(set)) return Fail(line, "choice set '" + set + "' is not lower-case words joined by dashes");
    if (!ValidKey(choice)) return Fail(line, "choice '" + choice + "' is not lower-case words joined by dashes");
    for (const GadgetSpec& other : m_layout->gadgets)
      if (&other != &g && other.choiceSet == set && other.choice == choice)
        return Fail(line, "choice '" + choice + "' is used twice in set '" + set + "'");
    g.choiceSet = set;
    g.choice = choice;
    m_setLines.emplace(set, line);
    return true;
  }

  bool Gadget(int parent, GadgetKind kind, int depth) {
    const std::string kindName = m_t.text;
    const int line = m_t.line;
    if (depth > kMaxNesting) return Fail(line, "groups nested deeper than " + std::to_string(kMaxNesting));
    if (!Next()) return false;
    LONG id = 0;
    if (!IsPunct("{")) {
      if (!Id(&id)) return false;
      if (!Next()) return false;
    }
    if (id == 0 && kind != GadgetKind::Group && kind != GadgetKind::Static)
      return Fail(line, kindName + " needs an ID");
    if (id != 0) {
      const auto seen = m_lines.find(id);
      if (seen != m_lines.end())
        return Fail(line, "ID " + std::to_string(id) + " is used twice (first on line " + std::to_string(seen->second) + ")");
      m_lines[id] = line;
    }
    if (!Expect("{")) return false;
    GadgetSpec g;
    g.id = id;
    g.kind = kind;
    g.parent = parent;
    m_layout->gadgets.push_back(g);
    const int self = static_cast<int>(m_layout->gadgets.size() - 1);
    return Body(self, kind, line, kindName + " " + std::to_string(id) + " (line " + std::to_string(line) + ")", depth);
  }

  std::string m_file;
  DialogLayout* m_layout = nullptr;
  std::map<LONG, int> m_lines;  // ID -> line of its first use
  std::map<std::string, int> m_setLines;  // choice set -> line of its first choice
};

}  // namespace

namespace host::internal {

bool ReadDialogLayout(LONG id, DialogLayout* layout, std::string* error) {
  namespace fs = std::filesystem;
  LastError().clear();
  auto fail = [&](const std::string& why) {
    *error = why;
    LastError() = why;
    return false;
  };
  const std::string res = PluginResourceFolder();
  std::unordered_map<std::string, LONG> symbols;
  std::string why;
  if (!ParseSymbols(res + "/" + kSymbolsFile, &symbols, &why)) return fail(why);
  std::string path;
  std::error_code ec;
  for (const auto& entry : symbols) {
    if (entry.second != id) continue;
    const std::string candidate = res + "/dialogs/" + entry.first + ".res";
    if (fs::is_regular_file(candidate, ec)) {
      path = candidate;
      break;
    }
  }
  if (path.empty())
    return fail("no dialog resource " + std::to_string(id) + " in '" + res +
                "/dialogs' (a file named after a symbol of that value)");
  std::string text;
  if (!ReadText(path, &text)) return fail("cannot read '" + path + "'");
  DialogLayout parsed;
  Parser parser(std::move(text), path, symbols);
  if (!parser.Parse(id, &parsed)) return fail(parser.Error());
  *layout = std::move(parsed);
  return true;
}

}  // namespace host::internal

namespace host {

std::string DialogResourceError() { return LastError(); }

bool DescribeDialogResource(LONG id, std::string* title, std::vector<GadgetInfo>* gadgets, std::string* error) {
  internal::DialogLayout layout;
  std::string why;
  if (!internal::ReadDialogLayout(id, &layout, &why)) {
    if (error) *error = why;
    return false;
  }
  if (title) *title = layout.title;
  if (gadgets) {
    gadgets->clear();
    for (const auto& spec : layout.gadgets) {
      GadgetInfo info;
      info.id = spec.id;
      info.kind = spec.kind;
      info.key = spec.key;
      info.label = spec.label;
      info.parent = spec.parent < 0 ? 0 : layout.gadgets[static_cast<size_t>(spec.parent)].id;
      info.hasLimits = spec.hasLimits;
      info.min = spec.min;
      info.max = spec.max;
      info.choiceSet = spec.choiceSet;
      info.choice = spec.choice;
      gadgets->push_back(std::move(info));
    }
  }
  return true;
}

}  // namespace host
