#include "dialog_text.h"

#include <vector>

namespace {

using host::GadgetKind;

constexpr size_t kKeyColumn = 52;

// How many titled groups enclose gadget i; untitled groups only arrange.
int Depth(const host::DialogRecord& d, int i) {
  int depth = 0;
  for (int p = d.gadgets[static_cast<size_t>(i)].parent; p >= 0; p = d.gadgets[static_cast<size_t>(p)].parent)
    if (!d.gadgets[static_cast<size_t>(p)].label.empty()) ++depth;
  return depth;
}

std::string Shown(const host::GadgetRecord& g) {
  switch (g.kind) {
    case GadgetKind::Check:
      return std::string(g.number != 0.0 ? "[x] " : "[ ] ") + g.label;
    case GadgetKind::Radio:
      return std::string(g.number != 0.0 ? "(*) " : "( ) ") + g.label;
    case GadgetKind::Text:
      return g.label + ": \"" + g.value + "\"";
    case GadgetKind::Static:
      return g.label;
    default:  // numbers, popups (the chosen entry's label), list views (their rows)
      return g.label + ": " + g.value;
  }
}

std::string Key(const host::GadgetRecord& g) {
  if (!g.choiceSet.empty()) return g.choiceSet + "=" + g.choice;
  return g.key;
}

}  // namespace

std::string DialogText(const host::DialogRecord& d) {
  std::string out = d.title + "\n" + std::string(d.title.size(), '=') + "\n";
  for (size_t i = 0; i < d.gadgets.size(); ++i) {
    const host::GadgetRecord& g = d.gadgets[i];
    const int depth = Depth(d, static_cast<int>(i));
    if (g.kind == GadgetKind::Group) {
      if (g.label.empty()) continue;
      if (depth == 0) out += "\n";
      out += std::string(2 * static_cast<size_t>(depth), ' ') + g.label + (g.enabled ? "" : " (disabled)") + "\n";
      continue;
    }
    if (g.kind == GadgetKind::Button || g.kind == GadgetKind::UserArea) continue;
    // The banner line beside the logos repeats the title.
    if (g.kind == GadgetKind::Static && g.label == d.title) continue;
    std::string line = std::string(2 * static_cast<size_t>(depth) + 2, ' ') + Shown(g);
    const std::string key = Key(g);
    if (!key.empty()) {
      line += line.size() < kKeyColumn ? std::string(kKeyColumn - line.size(), ' ') : std::string("  ");
      line += key;
    }
    if (!g.enabled && g.kind != GadgetKind::Static) line += " (disabled)";
    out += line + "\n";
  }
  return out;
}
