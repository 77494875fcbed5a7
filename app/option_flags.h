// The shell's option flags, --preset NAME and --set KEY=VALUE, turned into what the
// scripted user does in an options dialog. Shared by every command that opens one.
#pragma once

#include <string>
#include <vector>

#include "host_control.h"

// What one --set key of a dialog takes.
struct OptionKey {
  std::string key;     // a gadget's key, or the name of a choice set of radios
  std::string kind;    // "check", "radio", "choice", "integer", "real", "text", "popup"
  std::string values;  // readable: "on or off", "a whole number from 1 to 16", ...
  std::string label;   // the gadget's label; for a choice set, its choices' labels
  std::vector<std::string> choices;  // a choice set's choices, a popup's short values; in order
  std::vector<std::string> labels;   // a popup: its entries' labels, beside their short values
  bool hasLimits = false;            // numbers: the range the dialog accepts
  double min = 0, max = 0;
};

// The keys a user can set in dialog resource dialogId, in layout order (a choice set
// where its first radio is); buttons, user areas, list views, texts and groups are
// left out. False with the reason when the resource cannot be read.
bool DescribeOptionKeys(LONG dialogId, std::vector<OptionKey>* keys, std::string* error);

// The actions for dialog resource dialogId: the preset chosen by its label (when
// preset is not empty), then one Set per "KEY=VALUE" of sets, in the given order, so
// the dialog's own rules (exclusive groups, enabling, clamping) apply as they do for a
// person. Every flag is checked against the resource before anything runs: an unknown
// key, or a value of the wrong form for its gadget, gives false and a message that
// lists the valid keys or values. Popup entries are only known once the dialog is
// filled, so the dialog itself checks those.
// With filled (the dialog as it closed once, its popups filled), popup values are
// checked too and may be written short (see ShortValue).
bool OptionFlagActions(LONG dialogId, const std::string& preset, const std::vector<std::string>& sets,
                       std::vector<host::DialogAction>* actions, std::string* error,
                       const host::DialogRecord* filled = nullptr);

// The short value of a popup entry: the label after its "Title: " in lower case, with
// blanks as "-" and none before a "%" ("Sampling: MIP" gives "mip", "Blur: 5 %" "5%").
std::string ShortValue(const std::string& label);

// Gives the popups among keys the entries they showed in filled (their short values
// and labels), so that --set takes, checks and lists them. The preset popup is left
// alone: it takes the presets' names.
void AddPopupChoices(const host::DialogRecord& filled, std::vector<OptionKey>* keys);

// The options whose values differ between two closings of the same dialog, as
// "KEY=VALUE" in layout order, written as --set takes them: on/off, numbers, texts, a
// choice set's choice, a popup's short value. The preset popup is left out.
std::vector<std::string> ChangedOptions(const host::DialogRecord& from, const host::DialogRecord& to);
