#include "option_flags.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

using host::GadgetKind;

std::string Number(Real value) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.10g", value);
  return text;
}

bool Settable(GadgetKind kind) {
  switch (kind) {
    case GadgetKind::Check:
    case GadgetKind::Radio:
    case GadgetKind::Integer:
    case GadgetKind::Real:
    case GadgetKind::Text:
    case GadgetKind::Popup:
      return true;
    default:
      return false;
  }
}

std::string Range(const host::GadgetInfo& g) {
  if (!g.hasLimits) return std::string();
  return " from " + Number(g.min) + " to " + Number(g.max);
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// The items as lines of at most about 80 columns, each starting with indent.
std::string Wrapped(const std::vector<std::string>& items, const std::string& indent) {
  std::string out, line = indent;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
    if (line.size() > indent.size() && line.size() + 1 + item.size() > 80) {
      out += line + "\n";
      line = indent;
    }
    line += (line.size() > indent.size() ? " " : "") + item;
  }
  return out + line;
}

bool OnOff(const std::string& text) {
  std::string t;
  for (const char c : text) t.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  for (const char* word : {"on", "off", "yes", "no", "true", "false", "1", "0"})
    if (t == word) return true;
  return false;
}

// An optional sign and digits, in the range of a 64-bit integer (the dialog clamps).
bool Whole(const std::string& text) {
  size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size()) return false;
  for (; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  errno = 0;
  std::strtoll(text.c_str(), nullptr, 10);
  return errno != ERANGE;
}

bool Decimal(const std::string& text) {
  if (text.empty() || text[0] == ' ' || text[0] == '\t') return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  return end && *end == '\0' && std::isfinite(v);
}

std::string Lower(const std::string& text) {
  std::string t;
  for (const char c : text) t.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  return t;
}

// The choice of a choice set that value names, in any case ("" when none). A popup's
// entry is named by its short value, the short value without its "%", or its label;
// the entry's label is returned.
std::string Choice(const OptionKey& key, const std::string& value) {
  const std::string v = Lower(value);
  for (size_t i = 0; i < key.choices.size(); ++i) {
    const std::string choice = Lower(key.choices[i]);
    const bool percent = choice.size() > 1 && choice.back() == '%';
    const bool label = i < key.labels.size() && Lower(key.labels[i]) == v;
    if (choice == v || label || (percent && choice.substr(0, choice.size() - 1) == v))
      return i < key.labels.size() ? key.labels[i] : key.choices[i];
  }
  return std::string();
}

bool Valid(const OptionKey& key, const std::string& value) {
  if (key.kind == "check" || key.kind == "radio") return OnOff(value);
  if (key.kind == "integer") return Whole(value);
  if (key.kind == "real") return Decimal(value);
  if (key.kind == "choice") return !Choice(key, value).empty();
  if (key.kind == "popup" && !key.choices.empty()) return !Choice(key, value).empty();
  return true;  // texts take anything; popups not yet filled are checked by the dialog
}

// A valid number outside the key's range.
bool OutOfRange(const OptionKey& key, const std::string& value) {
  if (!key.hasLimits || (key.kind != "integer" && key.kind != "real")) return false;
  const double v = std::strtod(value.c_str(), nullptr);
  return v < key.min || v > key.max;
}

}  // namespace

bool DescribeOptionKeys(LONG dialogId, std::vector<OptionKey>* keys, std::string* error) {
  std::vector<host::GadgetInfo> gadgets;
  std::string why;
  if (!host::DescribeDialogResource(dialogId, nullptr, &gadgets, &why)) {
    *error = "cannot read dialog resource " + std::to_string(dialogId) + ": " + why;
    return false;
  }
  keys->clear();
  for (const host::GadgetInfo& g : gadgets) {
    if (!g.choiceSet.empty()) {
      OptionKey* set = nullptr;
      for (OptionKey& k : *keys)
        if (k.kind == "choice" && k.key == g.choiceSet) set = &k;
      if (!set) {
        keys->push_back(OptionKey{g.choiceSet, "choice", std::string(), std::string(), {}});
        set = &keys->back();
      }
      set->choices.push_back(g.choice);
      set->label += (set->label.empty() ? "" : " / ") + g.label;
      set->values = "one of " + Joined(set->choices, ", ");
    }
    if (g.key.empty() || !Settable(g.kind)) continue;
    OptionKey key{g.key, host::GadgetKindName(g.kind), std::string(), g.label, {}, {}, g.hasLimits, g.min, g.max};
    switch (g.kind) {
      case GadgetKind::Check:
      case GadgetKind::Radio:
        key.values = "on or off";
        break;
      case GadgetKind::Integer:
        key.values = "a whole number" + Range(g);
        break;
      case GadgetKind::Real:
        key.values = "a number" + Range(g);
        break;
      case GadgetKind::Text:
        key.values = "any text";
        break;
      default:
        key.values = "an entry's label, or its index from 0";
        break;
    }
    keys->push_back(std::move(key));
  }
  return true;
}

bool OptionFlagActions(LONG dialogId, const std::string& preset, const std::vector<std::string>& sets,
                       std::vector<host::DialogAction>* actions, std::string* error,
                       const host::DialogRecord* filled) {
  std::vector<OptionKey> keys;
  if (!DescribeOptionKeys(dialogId, &keys, error)) return false;
  if (filled) AddPopupChoices(*filled, &keys);
  std::vector<host::DialogAction> out;
  if (!preset.empty()) out.push_back(host::DialogAction::ChooseLabel("preset", preset));
  for (const std::string& flag : sets) {
    const size_t equals = flag.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "--set takes KEY=VALUE, not '" + flag + "'";
      return false;
    }
    const std::string name = flag.substr(0, equals);
    const std::string value = flag.substr(equals + 1);
    const OptionKey* key = nullptr;
    for (const OptionKey& k : keys)
      if (k.key == name) key = &k;
    if (!key) {
      std::vector<std::string> names;
      for (const OptionKey& k : keys) names.push_back(k.key);
      *error = "--set " + flag + ": there is no key '" + name + "'; the keys are:\n" + Wrapped(names, "  ");
      return false;
    }
    if (!Valid(*key, value)) {
      std::string takes = key->values;
      if (key->kind == "check" || key->kind == "radio") takes += " (also yes/no, true/false, 1/0)";
      if (key->kind == "choice" || key->kind == "popup") takes = "one of: " + Joined(key->choices, ", ");
      *error = "--set " + flag + ": " + name + " takes " + takes + ", not '" + value + "'";
      return false;
    }
    if (OutOfRange(*key, value)) {
      *error = "--set " + flag + ": " + name + " takes " + key->values + ", not " + value;
      return false;
    }
    const bool named = key->kind == "choice" || (key->kind == "popup" && !key->choices.empty());
    out.push_back(host::DialogAction::Set(name, named ? Choice(*key, value) : value));
  }
  *actions = std::move(out);
  return true;
}

std::string ShortValue(const std::string& label) {
  const size_t colon = label.find(": ");
  std::string text = colon == std::string::npos ? label : label.substr(colon + 2);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ') {
      if (i + 1 < text.size() && text[i + 1] == '%') continue;
      if (!out.empty() && out.back() != '-') out.push_back('-');
      continue;
    }
    out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out;
}

void AddPopupChoices(const host::DialogRecord& filled, std::vector<OptionKey>* keys) {
  for (OptionKey& key : *keys) {
    if (key.kind != "popup" || key.key == "preset") continue;
    for (const host::GadgetRecord& g : filled.gadgets) {
      if (g.key != key.key || g.kind != GadgetKind::Popup || g.entries.empty()) continue;
      key.choices.clear();
      key.labels = g.entries;
      for (const std::string& entry : g.entries) key.choices.push_back(ShortValue(entry));
      key.values = "one of " + Joined(key.choices, ", ");
    }
  }
}

std::vector<std::string> ChangedOptions(const host::DialogRecord& from, const host::DialogRecord& to) {
  std::vector<std::string> changed;
  for (const host::GadgetRecord& g : to.gadgets) {
    if (g.key.empty() && g.choiceSet.empty()) continue;
    if (g.key == "preset") continue;
    const host::GadgetRecord* was = from.Find(g.id);
    if (!was) continue;
    if (!g.choiceSet.empty()) {
      // The set once, at its chosen radio.
      if (g.number != 0.0 && was->number == 0.0) changed.push_back(g.choiceSet + "=" + g.choice);
      continue;
    }
    switch (g.kind) {
      case GadgetKind::Check:
      case GadgetKind::Radio:
        if ((g.number != 0.0) != (was->number != 0.0)) changed.push_back(g.key + (g.number != 0.0 ? "=on" : "=off"));
        break;
      case GadgetKind::Integer:
      case GadgetKind::Real:
      case GadgetKind::Text:
        if (g.value != was->value) changed.push_back(g.key + "=" + g.value);
        break;
      case GadgetKind::Popup:
        if (g.value != was->value) changed.push_back(g.key + "=" + ShortValue(g.value));
        break;
      default:
        break;
    }
  }
  return changed;
}
