// Headless dialogs: the gadget tree, typed values with limits, enable states, and the
// scripted user's play of a dialog. A modal dialog is played through inside Open; an
// asynchronous one takes the actions addressed to it whenever the plug-in yields
// (GetInputState, EventAdd) or the shell pumps them (host::PumpDialogs).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "c4d_gui.h"
#include "c4d_memory.h"
#include "dialog_internal.h"

using host::DialogAction;
using host::GadgetKind;
using host::internal::Gadget;

struct GeDialogAccess {
  static GeDialogState* State(GeDialog* dlg) { return dlg ? dlg->m_state : nullptr; }
  static const GeDialogState* State(const GeDialog* dlg) { return dlg ? dlg->m_state : nullptr; }
  static bool Ensure(GeDialog* dlg) {
    if (!dlg->m_state) dlg->m_state = gNew GeDialogState;
    return dlg->m_state != nullptr;
  }
};

namespace {

// Open asynchronous dialogs, in the order they opened.
std::vector<GeDialog*>& AsyncDialogs() {
  static std::vector<GeDialog*> dialogs;
  return dialogs;
}

void ForgetAsync(GeDialog* dlg) {
  auto& open = AsyncDialogs();
  open.erase(std::remove(open.begin(), open.end(), dlg), open.end());
}

Gadget* Find(GeDialogState* s, LONG id) {
  if (!s) return nullptr;
  for (Gadget& g : s->gadgets)
    if (g.id == id && id != 0) return &g;
  return nullptr;
}


bool EnabledInTree(const GeDialogState* s, const Gadget& g) {
  if (!g.enabled) return false;
  for (int p = g.parent; p >= 0; p = s->gadgets[static_cast<size_t>(p)].parent)
    if (!s->gadgets[static_cast<size_t>(p)].enabled) return false;
  return true;
}

std::string DialogName(const GeDialogState* s) {
  if (!s) return "dialog";
  if (!s->title.empty()) return "dialog '" + s->title + "'";
  if (!s->symbol.empty()) return "dialog " + s->symbol;
  return "dialog " + std::to_string(s->resourceId ? s->resourceId : s->pluginId);
}

std::string GadgetName(const Gadget& g) {
  std::string name = std::string(host::GadgetKindName(g.kind)) + " " + std::to_string(g.id);
  if (!g.key.empty()) name += " (" + g.key + ")";
  return name;
}

std::string FormatReal(Real v) { return String::RealToString(v).Std(); }

LONG ClampLong(const Gadget& g, Real v) {
  if (g.hasLimits) v = std::min(std::max(v, g.min), g.max);
  v = std::min(std::max(v, Real(MINLONGl)), Real(MAXLONGl));
  return static_cast<LONG>(v);
}

constexpr Real kDegreesPerRadian = 57.295779513082320876798;

// A real field's value as the person sees it, and back.
Real ShownReal(const Gadget& g) { return g.degrees ? g.realValue * kDegreesPerRadian : g.realValue; }
Real FromShown(const Gadget& g, Real shown) { return g.degrees ? shown / kDegreesPerRadian : shown; }

// v in the code's unit. A value inside the limits keeps its exact bits; only one beyond
// them becomes the limit.
Real ClampReal(const Gadget& g, Real v) {
  if (!g.hasLimits) return v;
  const Real shown = g.degrees ? v * kDegreesPerRadian : v;
  if (shown < g.min) return FromShown(g, g.min);
  if (shown > g.max) return FromShown(g, g.max);
  return v;
}

// Adds a gadget inside the open group; false for a taken ID or missing memory.
bool AddGadget(GeDialog* dlg, LONG id, GadgetKind kind, LONG flags, LONG w, LONG h, const String& label) {
  if (!GeDialogAccess::Ensure(dlg)) return false;
  GeDialogState* s = GeDialogAccess::State(dlg);
  if (Find(s, id)) {
    host::internal::ReportDialogError(DialogName(s) + ": gadget ID " + std::to_string(id) + " is used twice");
    return false;
  }
  try {
    Gadget g;
    g.id = id;
    g.kind = kind;
    g.flags = flags;
    g.width = w;
    g.height = h;
    g.label = label.Std();
    g.parent = s->groupStack.empty() ? -1 : s->groupStack.back();
    s->gadgets.push_back(std::move(g));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

GeDialogState* GroupState(GeDialog* dlg) {
  GeDialogState* s = GeDialogAccess::State(dlg);
  return s && !s->groupStack.empty() ? s : nullptr;
}

void Detach(GeDialogState* s) {
  if (!s) return;
  for (Gadget& g : s->gadgets) {
    if (g.area) host::internal::DetachArea(g.area);
    if (g.list) host::internal::DetachList(g.list);
    g.area = nullptr;
    g.list = nullptr;
  }
}

std::string RecordValue(const Gadget& g, Real* number) {
  switch (g.kind) {
    case GadgetKind::Check:
    case GadgetKind::Radio:
      *number = g.longValue ? 1.0 : 0.0;
      return g.longValue ? "on" : "off";
    case GadgetKind::Integer:
      *number = g.longValue;
      return std::to_string(g.longValue);
    case GadgetKind::Real:
      *number = ShownReal(g);
      return FormatReal(ShownReal(g));
    case GadgetKind::Text:
      return g.text;
    case GadgetKind::Popup:
      *number = g.longValue;
      for (const auto& child : g.children)
        if (child.first == g.longValue) return child.second;
      return std::to_string(g.longValue);
    case GadgetKind::ListView:
      return host::internal::ListRowsText(g.list);
    default:
      return g.label;
  }
}

// What s shows now; false when memory ran out.
bool MakeRecord(const GeDialogState* s, host::DialogRecord* record) {
  try {
    record->title = s->title;
    record->resourceId = s->resourceId;
    record->pluginId = s->pluginId;
    record->modal = s->type != DLG_TYPE_ASYNC;
    record->confirmed = s->result;
    for (const Gadget& g : s->gadgets) {
      host::GadgetRecord r;
      r.id = g.id;
      r.key = g.key;
      r.kind = g.kind;
      r.label = g.label;
      r.value = RecordValue(g, &r.number);
      r.enabled = EnabledInTree(s, g);
      r.parent = g.parent;
      r.choiceSet = g.choiceSet;
      r.choice = g.choice;
      for (const auto& child : g.children) r.entries.push_back(child.second);
      record->gadgets.push_back(std::move(r));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void Record(const GeDialogState* s) {
  host::DialogRecord record;
  // The log is for the tests and the shell; the dialog closes regardless.
  if (MakeRecord(s, &record)) host::internal::RecordDialog(std::move(record));
}

host::WindowObserver g_windowObserver = nullptr;

// An open window changed what it shows: the observer (the shell's terminal) hears of it.
void WindowChanged(const GeDialogState* s) {
  if (!g_windowObserver || !s || !s->open || s->type != DLG_TYPE_ASYNC) return;
  host::DialogRecord record;
  if (MakeRecord(s, &record)) g_windowObserver(record);
}

bool ParseOnOff(const std::string& text, bool* on) {
  std::string t;
  for (const char c : text) t.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  if (t == "on" || t == "yes" || t == "true" || t == "1") {
    *on = true;
    return true;
  }
  if (t == "off" || t == "no" || t == "false" || t == "0") {
    *on = false;
    return true;
  }
  return false;
}

bool ParseWhole(const std::string& text, LLONG* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (!end || *end != '\0') return false;
  *value = v;
  return true;
}

bool ParseDecimal(const std::string& text, Real* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (!end || *end != '\0' || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Finds the gadget an action names: its ID in decimal or its key.
Gadget* Resolve(GeDialogState* s, const std::string& name) {
  LLONG id = 0;
  if (ParseWhole(name, &id)) return (id > MINLONGl && id <= MAXLONGl) ? Find(s, static_cast<LONG>(id)) : nullptr;
  for (Gadget& g : s->gadgets)
    if (!g.key.empty() && g.key == name) return &g;
  return nullptr;
}

// "a, b, c", for refusals that name the values a gadget takes.
std::string JoinQuoted(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "'" : ", '") + item + "'";
  return out;
}

std::string EntryLabels(const Gadget* g) {
  std::vector<std::string> labels;
  for (const auto& child : g->children) labels.push_back(child.second);
  return JoinQuoted(labels);
}

std::string EntryList(const Gadget* g) {
  return g->children.empty() ? "it has no entries" : "its entries: " + EntryLabels(g);
}

bool ChoosePopupEntry(Gadget* g, LLONG index, std::string* why) {
  if (index < 0 || index >= static_cast<LLONG>(g->children.size())) {
    *why = "has no entry " + std::to_string(index) + " (it has " + std::to_string(g->children.size()) + ")" +
           (g->children.empty() ? "" : "; its entries, counted from 0: " + EntryLabels(g));
    return false;
  }
  g->longValue = g->children[static_cast<size_t>(index)].first;
  return true;
}

bool ChoosePopupLabel(Gadget* g, const std::string& label, std::string* why) {
  for (const auto& child : g->children)
    if (child.second == label) {
      g->longValue = child.first;
      return true;
    }
  const String wanted(label);
  for (const auto& child : g->children)
    if (String(child.second).LexCompare(wanted) == 0) {
      g->longValue = child.first;
      return true;
    }
  *why = "has no entry '" + label + "' (" + EntryList(g) + ")";
  return false;
}

// " (the field goes from 1 to 16)", or nothing for a field without limits.
std::string LimitsText(const Gadget* g) {
  if (!g->hasLimits) return std::string();
  return " (the field goes from " + String::RealToString(g->min).Std() + " to " + String::RealToString(g->max).Std() +
         ")";
}

bool Refuse(std::string* why, std::string text) {
  *why = std::move(text);
  return false;
}

// Changes the gadget as a person would; false with the reason when that cannot be done.
bool Apply(Gadget* g, const DialogAction& a, std::string* why) {
  using Kind = DialogAction::Kind;
  const GadgetKind k = g->kind;
  switch (a.kind) {
    case Kind::Set: {
      bool on = false;
      LLONG whole = 0;
      Real real = 0.0;
      switch (k) {
        case GadgetKind::Check:
        case GadgetKind::Radio:
          if (!ParseOnOff(a.text, &on))
            return Refuse(why, "takes on or off, not '" + a.text + "' (yes/no, true/false and 1/0 also do)");
          g->longValue = on ? 1 : 0;
          return true;
        case GadgetKind::Integer:
          if (!ParseWhole(a.text, &whole))
            return Refuse(why, "takes a whole number, not '" + a.text + "'" + LimitsText(g));
          g->longValue = ClampLong(*g, static_cast<Real>(whole));
          return true;
        case GadgetKind::Real:
          if (!ParseDecimal(a.text, &real)) return Refuse(why, "takes a number, not '" + a.text + "'" + LimitsText(g));
          g->realValue = ClampReal(*g, FromShown(*g, real));
          return true;
        case GadgetKind::Text:
          g->text = a.text;
          return true;
        case GadgetKind::Popup: {
          std::string byLabel;
          if (ChoosePopupLabel(g, a.text, &byLabel)) return true;
          if (ParseWhole(a.text, &whole)) return ChoosePopupEntry(g, whole, why);
          *why = byLabel;
          return false;
        }
        default:
          return Refuse(why, "cannot be set");
      }
    }
    case Kind::Integer:
      if (k == GadgetKind::Integer) {
        g->longValue = ClampLong(*g, static_cast<Real>(a.number));
        return true;
      }
      if (k == GadgetKind::Real) {
        g->realValue = ClampReal(*g, FromShown(*g, static_cast<Real>(a.number)));
        return true;
      }
      return Refuse(why, "takes no number");
    case Kind::Decimal:
      if (k == GadgetKind::Real) {
        if (!std::isfinite(a.decimal)) return Refuse(why, "takes no infinite number");
        g->realValue = ClampReal(*g, FromShown(*g, a.decimal));
        return true;
      }
      if (k == GadgetKind::Integer) {
        if (a.decimal != std::floor(a.decimal)) return Refuse(why, "takes whole numbers only");
        g->longValue = ClampLong(*g, a.decimal);
        return true;
      }
      return Refuse(why, "takes no number");
    case Kind::Text:
      if (k != GadgetKind::Text) return Refuse(why, "takes no text");
      g->text = a.text;
      return true;
    case Kind::Tick:
      if (k != GadgetKind::Check && k != GadgetKind::Radio) return Refuse(why, "is no check box");
      g->longValue = a.on ? 1 : 0;
      return true;
    case Kind::ChooseIndex:
      if (k != GadgetKind::Popup) return Refuse(why, "is no popup");
      return ChoosePopupEntry(g, a.number, why);
    case Kind::ChooseLabel:
      if (k != GadgetKind::Popup) return Refuse(why, "is no popup");
      return ChoosePopupLabel(g, a.text, why);
    case Kind::Click:
      if (k == GadgetKind::Button) return true;
      if (k == GadgetKind::Check || k == GadgetKind::Radio) {
        g->longValue = (k == GadgetKind::Radio || !g->longValue) ? 1 : 0;  // a radio stays ticked
        return true;
      }
      return Refuse(why, "cannot be clicked");
    case Kind::Highlight:
      if (k != GadgetKind::ListView) return Refuse(why, "is no list view");
      if (!g->list) return Refuse(why, "has no list attached");
      return host::internal::HighlightListRows(g->list, a, why);
    case Kind::Ok:
    case Kind::Cancel:
      break;
  }
  return Refuse(why, "cannot be used that way");
}

BaseContainer ActionMessage(const Gadget* g, LONG id) {
  BaseContainer msg(BFM_ACTION);
  msg.SetLong(BFM_ACTION_ID, id);
  if (!g) return msg;
  if (g->kind == GadgetKind::Real)
    msg.SetReal(BFM_ACTION_VALUE, g->realValue);
  else if (g->kind == GadgetKind::Text)
    msg.SetString(BFM_ACTION_VALUE, String(g->text));
  else
    msg.SetLong(BFM_ACTION_VALUE, g->longValue);
  return msg;
}

void CloseWith(GeDialog* dlg, GeDialogState* s, bool result) {
  s->result = result;
  dlg->Close();
}

// Ends the dialog as OK or Cancel would. OK asks AskClose first.
void Finish(GeDialog* dlg, bool ok) {
  GeDialogState* s = GeDialogAccess::State(dlg);
  const LONG id = ok ? IDC_OK : IDC_CANCEL;
  s->result = ok;  // a dialog that closes itself in its Command closes with this
  dlg->Command(id, ActionMessage(Find(s, id), id));
  if (!s->open) return;
  if (ok && dlg->AskClose()) {
    s->result = false;
    host::internal::ReportDialogError(DialogName(s) + " refused to close on OK");
    return;
  }
  CloseWith(dlg, s, ok);
}

// " (its group 'Folder import' is disabled)" when an enclosing group is what stops it.
std::string DisabledBy(const GeDialogState* s, const Gadget& g) {
  if (!g.enabled) return std::string();
  for (int p = g.parent; p >= 0; p = s->gadgets[static_cast<size_t>(p)].parent) {
    const Gadget& group = s->gadgets[static_cast<size_t>(p)];
    if (group.enabled) continue;
    const std::string name = !group.label.empty() ? "'" + group.label + "'" : std::to_string(group.id);
    return " (its group " + name + " is disabled)";
  }
  return std::string();
}

bool IsChoiceSet(const GeDialogState* s, const std::string& name) {
  for (const Gadget& g : s->gadgets)
    if (!g.choiceSet.empty() && g.choiceSet == name) return true;
  return false;
}

// The radio of the set with this choice name, or null.
Gadget* FindChoice(GeDialogState* s, const std::string& set, const std::string& choice) {
  for (Gadget& g : s->gadgets)
    if (g.choiceSet == set && g.choice == choice) return &g;
  return nullptr;
}

std::string ChoiceList(const GeDialogState* s, const std::string& set) {
  std::vector<std::string> choices;
  for (const Gadget& g : s->gadgets)
    if (g.choiceSet == set) choices.push_back(g.choice);
  return JoinQuoted(choices);
}

// Plays one action; a refused one is reported and dropped (false).
bool Play(GeDialog* dlg, const DialogAction& given) {
  GeDialogState* s = GeDialogAccess::State(dlg);
  using Kind = DialogAction::Kind;
  const DialogAction* action = &given;
  DialogAction click;
  // Setting a choice set clicks the radio of that choice.
  if (given.kind == Kind::Set && !Resolve(s, given.gadget) && IsChoiceSet(s, given.gadget)) {
    const Gadget* radio = FindChoice(s, given.gadget, given.text);
    if (!radio) {
      host::internal::ReportDialogError(DialogName(s) + ": choice set '" + given.gadget + "' has no choice '" +
                                        given.text + "' (its choices: " + ChoiceList(s, given.gadget) + ")");
      return false;
    }
    click = DialogAction::Click(std::to_string(radio->id));
    action = &click;
  }
  const DialogAction& a = *action;
  Kind kind = a.kind;
  // Clicking a modal dialog's OK or Cancel button is pressing OK or Cancel.
  if (kind == Kind::Click && s->type != DLG_TYPE_ASYNC) {
    const Gadget* clicked = Resolve(s, a.gadget);
    if (clicked && clicked->kind == GadgetKind::Button && (clicked->id == IDC_OK || clicked->id == IDC_CANCEL))
      kind = clicked->id == IDC_OK ? Kind::Ok : Kind::Cancel;
  }
  if (kind == Kind::Ok || kind == Kind::Cancel) {
    const Gadget* button = Find(s, kind == Kind::Ok ? IDC_OK : IDC_CANCEL);
    if (button && !EnabledInTree(s, *button)) {
      host::internal::ReportDialogError(DialogName(s) + ": " + (kind == Kind::Ok ? "OK" : "Cancel") +
                                        " is disabled");
      return false;
    }
    Finish(dlg, kind == Kind::Ok);
    return true;
  }
  Gadget* g = Resolve(s, a.gadget);
  if (!g) {
    host::internal::ReportDialogError(DialogName(s) + " has no gadget '" + a.gadget + "'");
    return false;
  }
  if (!EnabledInTree(s, *g)) {
    host::internal::ReportDialogError(DialogName(s) + ": " + GadgetName(*g) + " is disabled" + DisabledBy(s, *g));
    return false;
  }
  std::string why;
  bool applied = false;
  try {
    applied = Apply(g, a, &why);
  } catch (const std::bad_alloc&) {
    why = "could not be changed: memory is missing";
  }
  if (!applied) {
    host::internal::ReportDialogError(DialogName(s) + ": " + GadgetName(*g) + " " + why);
    return false;
  }
  const LONG id = g->id;
  const BaseContainer msg = ActionMessage(g, id);  // g may move if Command adds gadgets
  dlg->Command(id, msg);
  return true;
}

host::internal::DialogIdentity Identity(const GeDialogState* s) {
  host::internal::DialogIdentity who;
  who.resourceId = s->resourceId;
  who.pluginId = s->pluginId;
  who.symbol = s->symbol;
  who.title = s->title;
  who.modal = s->type != DLG_TYPE_ASYNC;
  return who;
}

void RunModal(GeDialog* dlg) {
  GeDialogState* s = GeDialogAccess::State(dlg);
  // Each refusal to close consumes an action or the default, so the play ends.
  int refusals = 0;
  while (s->open) {
    DialogAction action;
    if (host::internal::NextDialogAction(Identity(s), &action)) {
      if (!Play(dlg, action) && s->open && host::internal::StrictDialogs()) {
        host::internal::DropDialogActions(Identity(s));
        Finish(dlg, false);
      }
      continue;
    }
    if (refusals++ == 0) {
      Finish(dlg, host::internal::DialogDefaultOk());
    } else {
      host::internal::ReportDialogError(DialogName(s) + " was cancelled: it would not close");
      CloseWith(dlg, s, false);
    }
  }
}

}  // namespace

namespace host::internal {

Gadget* FindGadget(GeDialog* dlg, LONG id) { return Find(GeDialogAccess::State(dlg), id); }

void PumpAsyncDialogs() {
  // A Command may open or close dialogs: walk a copy, and skip the ones gone since.
  std::vector<GeDialog*> open;
  try {
    open = AsyncDialogs();
  } catch (const std::bad_alloc&) {
    return;
  }
  for (GeDialog* dlg : open) {
    const auto& now = AsyncDialogs();
    if (std::find(now.begin(), now.end(), dlg) == now.end()) continue;
    GeDialogState* s = GeDialogAccess::State(dlg);
    DialogAction action;
    while (s && s->open && NextDialogAction(Identity(s), &action)) Play(dlg, action);
  }
}

}  // namespace host::internal

namespace host {

void SetWindowObserver(WindowObserver observer) { g_windowObserver = observer; }

}  // namespace host

// --- GeDialog ------------------------------------------------------------------------

GeDialog::~GeDialog() {
  ForgetAsync(this);
  Detach(m_state);
  gDelete(m_state);
}

Bool GeDialog::CreateLayout() { return TRUE; }
Bool GeDialog::InitValues() { return TRUE; }
// OK and Cancel are closed by the host after Command (asking AskClose on OK), so a
// plug-in need not pass them on.
Bool GeDialog::Command(LONG id, const BaseContainer& msg) {
  (void)id;
  (void)msg;
  return FALSE;
}
LONG GeDialog::Message(const BaseContainer& msg, BaseContainer& result) {
  (void)msg;
  (void)result;
  return 0;
}
Bool GeDialog::AskClose() { return FALSE; }

Bool GeDialog::Open(LONG dlgtype, LONG pluginid, LONG xpos, LONG ypos, LONG defaultw, LONG defaulth) {
  (void)xpos;
  (void)ypos;
  (void)defaultw;
  (void)defaulth;
  if (m_state && m_state->open) return dlgtype == DLG_TYPE_ASYNC && m_state->type == DLG_TYPE_ASYNC;
  if (!GeDialogAccess::Ensure(this)) {
    host::internal::ReportDialogError("a dialog could not open: memory is missing");
    return FALSE;
  }
  // A fresh layout each time the dialog opens; areas and lists attach again.
  Detach(m_state);
  m_state->gadgets.clear();
  m_state->groupStack.clear();
  m_state->resourceId = 0;
  m_state->symbol.clear();
  m_state->type = dlgtype == DLG_TYPE_ASYNC ? DLG_TYPE_ASYNC : DLG_TYPE_MODAL;
  m_state->pluginId = pluginid;
  m_state->result = false;

  auto fail = [&](const std::string& why) {
    host::internal::ReportDialogError(DialogName(m_state) + " did not open: " + why);
    Detach(m_state);
    m_state->gadgets.clear();
    m_state->groupStack.clear();
    return FALSE;
  };
  if (!CreateLayout()) return fail("its layout failed");
  if (!m_state->groupStack.empty())
    return fail("group " + std::to_string(m_state->gadgets[static_cast<size_t>(m_state->groupStack.back())].id) +
                " is not closed");
  if (!InitValues()) return fail("its values could not be set");
  for (Gadget& g : m_state->gadgets)
    if (g.area && !host::internal::LayoutArea(g.area, 0, 0)) return fail("memory is missing for a user area");
  m_state->open = true;

  if (m_state->type == DLG_TYPE_ASYNC) {
    try {
      AsyncDialogs().push_back(this);
    } catch (const std::bad_alloc&) {
      m_state->open = false;
      return fail("memory is missing");
    }
    return TRUE;
  }
  RunModal(this);
  return m_state->result;
}

Bool GeDialog::Close() {
  if (!m_state || !m_state->open) return FALSE;
  m_state->open = false;
  ForgetAsync(this);
  Record(m_state);
  return TRUE;
}

Bool GeDialog::IsOpen() const { return m_state && m_state->open; }

void GeDialog::SetTitle(const String& title) {
  if (GeDialogAccess::Ensure(this)) m_state->title = title.Std();
}

String GeDialog::GetTitle() const { return m_state ? String(m_state->title) : String(); }

Bool GeDialog::GetDialogResult() const { return m_state && m_state->result; }

Bool GeDialog::LoadDialogResource(LONG id, GeResource* lr, LONG flags) {
  (void)lr;  // the plug-in has one resource: its res/ folder
  (void)flags;
  if (!GeDialogAccess::Ensure(this)) return FALSE;
  host::internal::DialogLayout layout;
  std::string error;
  try {
    if (!host::internal::ReadDialogLayout(id, &layout, &error)) {
      host::internal::ReportDialogError("dialog resource " + std::to_string(id) + ": " + error);
      return FALSE;
    }
    const size_t base = m_state->gadgets.size();
    const int outer = m_state->groupStack.empty() ? -1 : m_state->groupStack.back();
    for (const auto& spec : layout.gadgets) {
      if (Find(m_state, spec.id)) {
        m_state->gadgets.resize(base);
        host::internal::ReportDialogError("dialog resource " + std::to_string(id) + ": gadget ID " +
                                          std::to_string(spec.id) + " is in the dialog already");
        return FALSE;
      }
      Gadget g;
      static_cast<host::internal::GadgetSpec&>(g) = spec;
      g.parent = spec.parent < 0 ? outer : static_cast<int>(base) + spec.parent;
      g.kindFixed = true;
      g.longValue = ClampLong(g, 0.0);
      g.realValue = ClampReal(g, 0.0);
      m_state->gadgets.push_back(std::move(g));
    }
    m_state->resourceId = id;
    m_state->symbol = layout.symbol;
    if (m_state->title.empty()) m_state->title = layout.title;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

Bool GeDialog::GroupBegin(LONG id, LONG flags, LONG cols, LONG rows, const String& title, LONG groupflags) {
  (void)groupflags;
  if (!AddGadget(this, id, GadgetKind::Group, flags, 0, 0, title)) return FALSE;
  Gadget& g = m_state->gadgets.back();
  g.cols = cols;
  g.rows = rows;
  try {
    m_state->groupStack.push_back(static_cast<int>(m_state->gadgets.size() - 1));
  } catch (const std::bad_alloc&) {
    m_state->gadgets.pop_back();
    return FALSE;
  }
  return TRUE;
}

Bool GeDialog::GroupEnd() {
  GeDialogState* s = GroupState(this);
  if (!s) return FALSE;
  s->groupStack.pop_back();
  return TRUE;
}

Bool GeDialog::GroupBorder(ULONG borderstyle) {
  (void)borderstyle;
  return GroupState(this) != nullptr;
}
Bool GeDialog::GroupBorderNoTitle(ULONG borderstyle) {
  (void)borderstyle;
  return GroupState(this) != nullptr;
}
Bool GeDialog::GroupBorderSpace(LONG left, LONG top, LONG right, LONG bottom) {
  (void)left, (void)top, (void)right, (void)bottom;
  return GroupState(this) != nullptr;
}
Bool GeDialog::GroupSpace(LONG spacex, LONG spacey) {
  (void)spacex, (void)spacey;
  return GroupState(this) != nullptr;
}

Bool GeDialog::AddStaticText(LONG id, LONG flags, LONG initw, LONG inith, const String& name, LONG borderstyle) {
  (void)borderstyle;
  return AddGadget(this, id, GadgetKind::Static, flags, initw, inith, name);
}
Bool GeDialog::AddCheckbox(LONG id, LONG flags, LONG initw, LONG inith, const String& name) {
  return AddGadget(this, id, GadgetKind::Check, flags, initw, inith, name);
}
Bool GeDialog::AddRadioCheckbox(LONG id, LONG flags, LONG initw, LONG inith, const String& name) {
  return AddGadget(this, id, GadgetKind::Radio, flags, initw, inith, name);
}
Bool GeDialog::AddButton(LONG id, LONG flags, LONG initw, LONG inith, const String& name) {
  return AddGadget(this, id, GadgetKind::Button, flags, initw, inith, name);
}
Bool GeDialog::AddEditNumber(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::Real, flags, initw, inith, String());
}
Bool GeDialog::AddEditNumberArrows(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::Real, flags, initw, inith, String());
}
Bool GeDialog::AddEditText(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::Text, flags, initw, inith, String());
}
Bool GeDialog::AddComboBox(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::Popup, flags, initw, inith, String());
}
Bool GeDialog::AddPopupButton(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::Popup, flags, initw, inith, String());
}
Bool GeDialog::AddUserArea(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::UserArea, flags, initw, inith, String());
}
Bool GeDialog::AddListView(LONG id, LONG flags, LONG initw, LONG inith) {
  return AddGadget(this, id, GadgetKind::ListView, flags, initw, inith, String());
}
Bool GeDialog::AddDlgGroup(LONG type) {
  if ((type & DLG_OK) && !AddButton(IDC_OK, BFH_SCALE, 0, 0, String("OK"))) return FALSE;
  if ((type & DLG_CANCEL) && !AddButton(IDC_CANCEL, BFH_SCALE, 0, 0, String("Cancel"))) return FALSE;
  return TRUE;
}

// A number field made in code is an integer field once the plug-in sets a whole
// number into it (SetLong), and a real one with SetReal: the host's edit fields show
// whatever format they were last given.
Bool GeDialog::SetBool(LONG id, Bool value) {
  Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  g->longValue = value ? 1 : 0;
  return TRUE;
}

Bool GeDialog::GetBool(LONG id, Bool& value) const {
  const Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  value = g->kind == GadgetKind::Real ? g->realValue != 0.0 : g->longValue != 0;
  return TRUE;
}

Bool GeDialog::SetLong(LONG id, LONG value, LONG min, LONG max, LONG step) {
  Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  if (g->kind == GadgetKind::Real && !g->kindFixed) g->kind = GadgetKind::Integer;
  // The full range keeps the limits the gadget has (from its resource or an earlier set).
  if (min != MINLONGl || max != MAXLONGl) {
    g->hasLimits = true;
    g->min = min;
    g->max = std::max(min, max);
    g->step = step;
  }
  g->longValue = ClampLong(*g, static_cast<Real>(value));
  g->realValue = g->longValue;
  return TRUE;
}

Bool GeDialog::GetLong(LONG id, LONG& value) const {
  const Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  value = g->kind == GadgetKind::Real ? static_cast<LONG>(ClampLong(*g, std::floor(g->realValue))) : g->longValue;
  return TRUE;
}

Bool GeDialog::SetReal(LONG id, Real value, Real min, Real max, Real step, LONG format) {
  Gadget* g = Find(m_state, id);
  if (!g || !std::isfinite(value)) return FALSE;
  g->degrees = format == FORMAT_DEGREE;
  if (g->kind == GadgetKind::Integer && !g->kindFixed) g->kind = GadgetKind::Real;
  if (min != MINREALr || max != MAXREALr) {
    g->hasLimits = true;
    g->min = min;
    g->max = std::max(min, max);
    g->step = step;
  }
  g->realValue = ClampReal(*g, value);
  g->longValue = ClampLong(*g, g->realValue);
  return TRUE;
}

Bool GeDialog::GetReal(LONG id, Real& value) const {
  const Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  value = g->kind == GadgetKind::Real ? g->realValue : static_cast<Real>(g->longValue);
  return TRUE;
}

Bool GeDialog::SetString(LONG id, const String& text) {
  Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  try {
    if (g->kind == GadgetKind::Text)
      g->text = text.Std();
    else
      g->label = text.Std();
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  WindowChanged(m_state);
  return TRUE;
}

Bool GeDialog::GetString(LONG id, String& text) const {
  const Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  if (g->kind == GadgetKind::Text)
    text = String(g->text);
  else if (g->kind == GadgetKind::Integer)
    text = String::LongToString(g->longValue);
  else if (g->kind == GadgetKind::Real)
    text = String::RealToString(ShownReal(*g));
  else
    text = String(g->label);
  return TRUE;
}

Bool GeDialog::Enable(LONG id, Bool enabled) {
  Gadget* g = Find(m_state, id);
  if (!g) return FALSE;
  g->enabled = enabled;
  return TRUE;
}

Bool GeDialog::IsEnabled(LONG id) const {
  const Gadget* g = Find(m_state, id);
  return g && EnabledInTree(m_state, *g);
}

Bool GeDialog::AddChild(LONG id, LONG subid, const String& child) {
  Gadget* g = Find(m_state, id);
  if (!g || g->kind != GadgetKind::Popup) return FALSE;
  try {
    g->children.emplace_back(subid, child.Std());
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

Bool GeDialog::FreeChildren(LONG id) {
  Gadget* g = Find(m_state, id);
  if (!g || g->kind != GadgetKind::Popup) return FALSE;
  g->children.clear();
  return TRUE;
}

Bool GeDialog::AttachUserArea(GeUserArea& ua, LONG id, LONG userareaflags) {
  (void)userareaflags;
  Gadget* g = Find(m_state, id);
  if (!g || g->kind != GadgetKind::UserArea) return FALSE;
  if (g->area == &ua) return TRUE;
  if (g->area) host::internal::DetachArea(g->area);
  g->area = nullptr;
  if (!host::internal::AttachArea(&ua, this, id)) return FALSE;
  g = Find(m_state, id);  // attaching may have detached the area from this dialog
  g->area = &ua;
  // Attached to an open dialog: laid out and drawn at once.
  if (m_state->open && !host::internal::LayoutArea(&ua, 0, 0)) return FALSE;
  return TRUE;
}

LONG GeDialog::SendMessage(LONG id, const BaseContainer& msg) {
  Gadget* g = Find(m_state, id);
  if (!g) return 0;
  BaseContainer result;
  const LONG handled = Message(msg, result);
  if (handled) return handled;
  g = Find(m_state, id);
  if (!g || !g->area) return 0;
  if (msg.GetId() == BFM_DRAW) {
    host::internal::DrawArea(g->area, msg.GetLong(BFM_DRAW_LEFT), msg.GetLong(BFM_DRAW_TOP),
                             msg.GetLong(BFM_DRAW_RIGHT), msg.GetLong(BFM_DRAW_BOTTOM), msg);
    return 1;
  }
  return g->area->InputEvent(msg) ? 1 : 0;
}

// --- GeModalDialog -----------------------------------------------------------------

Bool GeModalDialog::Open(LONG xpos, LONG ypos, LONG defaultw, LONG defaulth) {
  return GeDialog::Open(DLG_TYPE_MODAL, 0, xpos, ypos, defaultw, defaulth);
}

// --- text entry and input ------------------------------------------------------------

Bool RenameDialog(String* text) {
  if (!text) return FALSE;
  std::string entered;
  try {
    if (!host::internal::NextRenameAnswer(text->Std(), &entered)) return FALSE;
    *text = String(std::move(entered));
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

Bool GetInputState(LONG askdevice, LONG askchannel, BaseContainer& res) {
  (void)askchannel;
  if (askdevice != BFM_INPUT_KEYBOARD && askdevice != BFM_INPUT_MOUSE) return FALSE;
  // The plug-in yields to the host here: open windows get what the user did meanwhile.
  host::internal::PumpAsyncDialogs();
  res.SetId(BFM_INPUT);
  if (askdevice == BFM_INPUT_MOUSE) {
    res.SetLong(BFM_INPUT_CHANNEL, 0);
    res.SetBool(BFM_INPUT_VALUE, FALSE);
    return TRUE;
  }
  const LONG key = host::internal::NextKey();
  res.SetLong(BFM_INPUT_CHANNEL, key);
  res.SetBool(BFM_INPUT_VALUE, key != 0);
  return TRUE;
}
