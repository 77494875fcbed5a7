// The shell's option flags and its "options" and "presets" commands: flags checked
// against the dialog resources, the actions they make played on the real resources,
// the dialog printed as a person sees it, and whole shell runs over the plug-in's
// option dialogs with a settings folder of their own.
#include <array>
#include <cstdio>
#include <filesystem>

#include "c4d.h"
#include "c4d_symbols.h"
#include "dialog_text.h"
#include "host_fixture.h"
#include "option_flags.h"
#include "shell_run.h"

namespace fs = std::filesystem;
using host::DialogAction;
using host::GadgetKind;

namespace {

constexpr LONG kImport = 10161;
constexpr LONG kExport = 10080;

// --- option flags -------------------------------------------------------------------

class OptionFlagsTest : public HostTest {
 protected:
  // The actions, or the error text prefixed with "error: ".
  static std::vector<std::string> Actions(LONG dialog, const std::string& preset, const std::vector<std::string>& sets) {
    std::vector<DialogAction> actions;
    std::string error;
    if (!OptionFlagActions(dialog, preset, sets, &actions, &error)) return {"error: " + error};
    std::vector<std::string> out;
    for (const DialogAction& a : actions) {
      if (a.kind == DialogAction::Kind::ChooseLabel)
        out.push_back("choose " + a.gadget + " " + a.text);
      else if (a.kind == DialogAction::Kind::Set)
        out.push_back("set " + a.gadget + " " + a.text);
      else
        out.push_back("other");
    }
    return out;
  }
  static std::string Error(LONG dialog, const std::vector<std::string>& sets) {
    const auto out = Actions(dialog, "", sets);
    return out.size() == 1 && out[0].rfind("error: ", 0) == 0 ? out[0].substr(7) : std::string();
  }
};

TEST_F(OptionFlagsTest, ThePresetComesFirstThenEverySetInTheGivenOrder) {
  EXPECT_EQ(Actions(kImport, "Import From Poser",
                    {"scale=250", "layout=per-group", "texture-path=/a=b", "texture-path=", "swap-yz=YES"}),
            (std::vector<std::string>{"choose preset Import From Poser", "set scale 250", "set layout per-group",
                                      "set texture-path /a=b", "set texture-path ", "set swap-yz YES"}));
  EXPECT_EQ(Actions(kExport, "", {"mode=per-frame", "existing-file=ask", "face-order=by-region", "compatibility=1"}),
            (std::vector<std::string>{"set mode per-frame", "set existing-file ask", "set face-order by-region",
                                      "set compatibility 1"}));
  EXPECT_TRUE(Actions(kImport, "", {}).empty());
}

TEST_F(OptionFlagsTest, AnUnknownKeyListsTheSettableKeysOfThatDialog) {
  const std::string error = Error(kImport, {"scale=2", "swap-xy=on"});
  EXPECT_EQ(error.rfind("--set swap-xy=on: there is no key 'swap-xy'; the keys are:\n  preset, document,", 0), 0u)
      << error;
  for (const char* key : {"swap-yz", "layout", "layout-per-group", "smooth-angle", "texture-path", "texture-sampling",
                          "spline-nulls", "materials", "merge-tolerance-g"})
    EXPECT_NE(error.find(std::string(" ") + key + ","), std::string::npos) << key;
  // Buttons are pressed, not set; the export's keys are not the import's.
  for (const char* key : {"reload-preset", "add-preset", "choose-texture-path", "mode", "face-order"})
    EXPECT_EQ(error.find(std::string(" ") + key + ","), std::string::npos) << key;
  const std::string exportError = Error(kExport, {"layout=per-group"});
  EXPECT_NE(exportError.find(" face-order,"), std::string::npos) << exportError;
  EXPECT_NE(exportError.find(" first-file-number,"), std::string::npos) << exportError;
  EXPECT_EQ(exportError.find(" delete-preset,"), std::string::npos) << exportError;
}

TEST_F(OptionFlagsTest, AValueOfTheWrongFormListsWhatTheKeyTakes) {
  const std::pair<std::string, std::string> cases[] = {
      {"swap-yz=maybe", "--set swap-yz=maybe: swap-yz takes on or off (also yes/no, true/false, 1/0), not 'maybe'"},
      {"layout-per-group=", "layout-per-group takes on or off"},
      {"scale=big", "--set scale=big: scale takes a whole number from 1 to 100000, not 'big'"},
      {"scale=2.5", "scale takes a whole number from 1 to 100000, not '2.5'"},
      {"scale=99999999999999999999999", "takes a whole number"},
      {"merge-tolerance-r=-", "merge-tolerance-r takes a whole number from 1 to 16"},
      {"smooth-angle=steep", "smooth-angle takes a number from 0 to 180, not 'steep'"},
      {"smooth-angle=nan", "smooth-angle takes a number"},
      {"smooth-angle= 4", "smooth-angle takes a number"},
      {"layout=spiral",
       "--set layout=spiral: layout takes one of: single-object, per-object, per-group, per-region, per-material, "
       "not 'spiral'"},
      {"materials=recycle", "materials takes one of: none, new, reuse"},
      {"scale=0", "--set scale=0: scale takes a whole number from 1 to 100000, not 0"},
      {"smooth-angle=-1e3", "smooth-angle takes a number from 0 to 180, not -1e3"},
      {"merge-tolerance-g=+40", "merge-tolerance-g takes a whole number from 1 to 16, not +40"},
      {"swap-yz", "--set takes KEY=VALUE, not 'swap-yz'"},
      {"=on", "--set takes KEY=VALUE, not '=on'"},
  };
  for (const auto& [flag, message] : cases) {
    const std::string error = Error(kImport, {"scale=3", flag});
    EXPECT_NE(error.find(message), std::string::npos) << flag << "\n  gave: " << error;
  }
  // The ends of a range, and choices in any case (set as the choice itself).
  const auto valid = Actions(kImport, "", {"scale=1", "smooth-angle=180", "merge-tolerance-g=+16", "materials=Reuse"});
  ASSERT_EQ(valid.size(), 4u);
  EXPECT_EQ(valid[3], "set materials reuse");
}

TEST_F(OptionFlagsTest, KeysAreDescribedWithTheirValuesAndLabels) {
  std::vector<OptionKey> keys;
  std::string error;
  ASSERT_TRUE(DescribeOptionKeys(kExport, &keys, &error)) << error;
  std::map<std::string, const OptionKey*> byKey;
  for (const OptionKey& k : keys) byKey[k.key] = &k;
  ASSERT_TRUE(byKey.count("mode") && byKey.count("scale") && byKey.count("compatibility") && byKey.count("one-mtl"));
  EXPECT_EQ(byKey["mode"]->kind, "choice");
  EXPECT_EQ(byKey["mode"]->choices,
            (std::vector<std::string>{"document", "per-object", "per-polygon-object", "per-frame"}));
  EXPECT_EQ(byKey["mode"]->label,
            "One file for the document / One file per top-level object / One file per polygon object / One file per "
            "frame");
  EXPECT_EQ(byKey["scale"]->values, "a whole number from 1 to 100000");
  EXPECT_EQ(byKey["compatibility"]->kind, "popup");
  EXPECT_EQ(byKey["one-mtl"]->values, "on or off");
  // A set stands where its first radio is.
  const auto at = [&](const char* key) {
    for (size_t i = 0; i < keys.size(); ++i)
      if (keys[i].key == key) return i;
    return keys.size();
  };
  EXPECT_EQ(at("mode") + 1, at("mode-document"));
  EXPECT_EQ(byKey.count("add-preset"), 0u);

  EXPECT_FALSE(DescribeOptionKeys(4242, &keys, &error));
  EXPECT_NE(error.find("cannot read dialog resource 4242"), std::string::npos) << error;
  EXPECT_NE(Actions(4242, "", {}).at(0).find("cannot read dialog resource 4242"), std::string::npos);
}

// The actions played on the shipped import resource, strictly as the shell plays them.
class ResourceDialog : public GeModalDialog {
 public:
  explicit ResourceDialog(LONG id) : m_id(id) {}
  Bool CreateLayout() override { return LoadDialogResource(m_id, &resource, 0); }
  Bool InitValues() override { return Enable(IDC_IMP_FOLDER_GROUP, FALSE); }

 private:
  LONG m_id;
};

TEST_F(OptionFlagsTest, TheActionsSetTheResourcesGadgetsAndStopAtARefusal) {
  std::vector<DialogAction> actions;
  std::string error;
  ASSERT_TRUE(OptionFlagActions(kImport, "", {"scale=1", "layout=per-region", "smooth-angle=180", "texture-path=/t",
                                              "flip-u=yes", "subfolders=on", "normals=on"},
                                &actions, &error))
      << error;
  host::SetStrictDialogs(true);
  for (const DialogAction& a : actions) host::QueueDialogAction(a);
  ResourceDialog dlg(kImport);
  EXPECT_FALSE(dlg.Open()) << "the disabled folder option cancels the dialog";
  const host::DialogRecord& r = host::DialogLog().back();
  EXPECT_EQ(r.Find(IDC_IMP_SCALE)->value, "1");
  EXPECT_EQ(r.Find(IDC_IMP_LAYOUT_REGIONS)->value, "on");
  EXPECT_EQ(r.Find(IDC_IMP_SMOOTH_ANGLE)->value, "180");
  EXPECT_EQ(r.Find(IDC_IMP_TEXTURE_PATH)->value, "/t");
  EXPECT_EQ(r.Find(IDC_IMP_FLIP_U)->value, "on");
  EXPECT_EQ(r.Find(IDC_IMP_NORMALS)->value, "off") << "nothing runs after the refusal";
  ASSERT_EQ(host::DialogErrors().size(), 1u);
  EXPECT_NE(host::DialogErrors()[0].find("check 10173 (subfolders) is disabled"), std::string::npos);
}

// --- the dialog as text ---------------------------------------------------------------

host::GadgetRecord Gadget(GadgetKind kind, int parent, const std::string& label, const std::string& key = "",
                          const std::string& value = "", Real number = 0.0, bool enabled = true) {
  host::GadgetRecord g;
  g.kind = kind;
  g.parent = parent;
  g.label = label;
  g.key = key;
  g.value = value;
  g.number = number;
  g.enabled = enabled;
  return g;
}

TEST_F(OptionFlagsTest, TheDialogTextShowsGadgetsUnderTheirGroupsWithTheirKeys) {
  host::DialogRecord d;
  d.title = "Options";
  d.gadgets.push_back(Gadget(GadgetKind::Group, -1, ""));                                  // 0
  d.gadgets.push_back(Gadget(GadgetKind::UserArea, 0, ""));                                // 1
  d.gadgets.push_back(Gadget(GadgetKind::Static, 0, "Options"));                           // 2
  d.gadgets.push_back(Gadget(GadgetKind::Group, -1, "Shape"));                             // 3
  d.gadgets.push_back(Gadget(GadgetKind::Radio, 3, "Round", "round", "on", 1.0));          // 4
  d.gadgets.back().choiceSet = "shape";
  d.gadgets.back().choice = "round";
  d.gadgets.push_back(Gadget(GadgetKind::Radio, 3, "Square", "square", "off"));            // 5
  d.gadgets.back().choiceSet = "shape";
  d.gadgets.back().choice = "square";
  d.gadgets.push_back(Gadget(GadgetKind::Group, 3, ""));                                   // 6
  d.gadgets.push_back(Gadget(GadgetKind::Check, 6, "Hollow", "hollow", "on", 1.0));        // 7
  d.gadgets.push_back(Gadget(GadgetKind::Group, 3, "Size", "", "", 0.0, false));          // 8
  d.gadgets.push_back(Gadget(GadgetKind::Integer, 8, "Width", "width", "12", 12.0, false));  // 9
  d.gadgets.push_back(Gadget(GadgetKind::Real, 8, "A very long label for the angle field", "angle", "0.5", 0.5,
                             false));                                                      // 10
  d.gadgets.push_back(Gadget(GadgetKind::Text, -1, "Path", "path", ""));                   // 11
  d.gadgets.push_back(Gadget(GadgetKind::Popup, -1, "Blur", "blur", "Blur: 5 %", 1.0));    // 12
  d.gadgets.push_back(Gadget(GadgetKind::Static, -1, "A note"));                           // 13
  d.gadgets.push_back(Gadget(GadgetKind::Button, -1, "OK"));                               // 14
  EXPECT_EQ(DialogText(d),
            "Options\n"
            "=======\n"
            "\n"
            "Shape\n"
            "    (*) Round                                       shape=round\n"
            "    ( ) Square                                      shape=square\n"
            "    [x] Hollow                                      hollow\n"
            "  Size (disabled)\n"
            "      Width: 12                                     width (disabled)\n"
            "      A very long label for the angle field: 0.5    angle (disabled)\n"
            "  Path: \"\"                                          path\n"
            "  Blur: Blur: 5 %                                   blur\n"
            "  A note\n");
}

// --- short popup values and the changed options ------------------------------------------

TEST_F(OptionFlagsTest, PopupEntriesAreWrittenShortInAnyCaseAndByTheirLabels) {
  const std::pair<const char*, const char*> shorts[] = {
      {"Sampling: MIP", "mip"}, {"Blur: 5 %", "5%"}, {"Blur: 100 %", "100%"},
      {"Two  Words here", "two-words-here"}, {"Mode: ", ""}, {"x:y", "x:y"}};
  for (const auto& [label, value] : shorts) EXPECT_EQ(ShortValue(label), value) << label;

  host::DialogRecord filled;
  filled.gadgets.push_back(Gadget(GadgetKind::Popup, -1, "Sampling", "texture-sampling", "Sampling: MIP", 3.0));
  filled.gadgets.back().entries = {"Sampling: none", "Sampling: circle", "Sampling: area", "Sampling: MIP"};
  filled.gadgets.push_back(Gadget(GadgetKind::Popup, -1, "Blur", "texture-blur", "Blur: 0 %", 0.0));
  filled.gadgets.back().entries = {"Blur: 0 %", "Blur: 5 %", "Blur: 30 %"};
  const auto set = [&](const std::string& flag) {
    std::vector<DialogAction> actions;
    std::string error;
    if (!OptionFlagActions(kImport, "", {flag}, &actions, &error, &filled)) return "error: " + error;
    return actions.at(0).text;
  };
  const std::pair<const char*, const char*> cases[] = {
      {"texture-sampling=mip", "Sampling: MIP"},
      {"texture-sampling=Circle", "Sampling: circle"},
      {"texture-sampling=sampling: AREA", "Sampling: area"},
      {"texture-blur=30%", "Blur: 30 %"},
      {"texture-blur=30", "Blur: 30 %"},
      {"texture-blur=Blur: 5 %", "Blur: 5 %"},
      {"texture-sampling=2", "error: --set texture-sampling=2: texture-sampling takes one of: none, circle, area, mip, "
                             "not '2'"},
      {"texture-blur=7%", "error: --set texture-blur=7%: texture-blur takes one of: 0%, 5%, 30%, not '7%'"},
      {"texture-blur=", "error: --set texture-blur=: texture-blur takes one of"},
  };
  for (const auto& [flag, expected] : cases) EXPECT_EQ(set(flag).rfind(expected, 0), 0u) << flag << ": " << set(flag);

  // Listed by --keys with their short values; the preset popup keeps the presets' names.
  std::vector<OptionKey> keys;
  std::string error;
  ASSERT_TRUE(DescribeOptionKeys(kImport, &keys, &error)) << error;
  filled.gadgets.push_back(Gadget(GadgetKind::Popup, -1, "Preset", "preset", "Last Used", 0.0));
  filled.gadgets.back().entries = {"Last Used", "Default Import Options"};
  AddPopupChoices(filled, &keys);
  for (const OptionKey& k : keys) {
    if (k.key == "texture-sampling") {
      EXPECT_EQ(k.values, "one of none, circle, area, mip");
    }
    if (k.key == "preset") {
      EXPECT_TRUE(k.choices.empty());
    }
  }
}

TEST_F(OptionFlagsTest, TheChangedOptionsAreEveryValueThatDiffersWrittenAsFlags) {
  host::DialogRecord from;
  const auto add = [&](host::GadgetRecord g, LONG id) {
    g.id = id;
    from.gadgets.push_back(g);
  };
  add(Gadget(GadgetKind::Popup, -1, "Preset", "preset", "Last Used"), 1);
  add(Gadget(GadgetKind::Check, -1, "Swap", "swap-yz", "off", 0.0), 2);
  add(Gadget(GadgetKind::Radio, -1, "Single", "layout-single", "on", 1.0), 3);
  from.gadgets.back().choiceSet = "layout";
  from.gadgets.back().choice = "single";
  add(Gadget(GadgetKind::Radio, -1, "Groups", "layout-groups", "off", 0.0), 4);
  from.gadgets.back().choiceSet = "layout";
  from.gadgets.back().choice = "per-group";
  add(Gadget(GadgetKind::Integer, -1, "Scale", "scale", "1", 1.0), 5);
  add(Gadget(GadgetKind::Real, -1, "Angle", "angle", "80", 80.0, false), 6);
  add(Gadget(GadgetKind::Text, -1, "Path", "path", ""), 7);
  add(Gadget(GadgetKind::Popup, -1, "Blur", "blur", "Blur: 0 %"), 8);
  add(Gadget(GadgetKind::Button, -1, "Store", "store", ""), 9);
  EXPECT_TRUE(ChangedOptions(from, from).empty());

  host::DialogRecord to = from;
  to.gadgets[0].value = "Mine";
  to.gadgets[1].number = 1.0;
  to.gadgets[2].number = 0.0;
  to.gadgets[3].number = 1.0;
  to.gadgets[4].value = "250";
  to.gadgets[5].value = "45.5";  // disabled gadgets count: their values apply
  to.gadgets[6].value = "/tex";
  to.gadgets[7].value = "Blur: 30 %";
  EXPECT_EQ(ChangedOptions(from, to), (std::vector<std::string>{"swap-yz=on", "layout=per-group", "scale=250",
                                                                "angle=45.5", "path=/tex", "blur=30%"}));
  // Back the other way: a check switched off, the first choice again, an emptied text.
  EXPECT_EQ(ChangedOptions(to, from), (std::vector<std::string>{"swap-yz=off", "layout=single", "scale=1", "angle=80",
                                                                "path=", "blur=0%"}));
}

// --- the shell -----------------------------------------------------------------------------

using RunResult = ShellRun;

class ShellOptionsTest : public HostTest {
 protected:
  RunResult Run(const std::string& args) { return RunShell(TempDir(), args, "", true); }
  std::string SettingsFile() { return TempDir() + "/settings/settings.kvs"; }
  // The line of the printed dialog that shows this key (its key column ends the line
  // or is followed by " (disabled)").
  static std::string Line(const std::string& text, const std::string& key) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(start, end - start);
      for (const std::string& tail : {" " + key, " " + key + " (disabled)"})
        if (line.size() >= tail.size() && line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
          return line;
      start = end + 1;
    }
    return "(no line for " + key + ")";
  }
  static bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
};

TEST_F(ShellOptionsTest, AFirstPreviewShowsLastUsedWithTheDefaultsAndWritesNothing) {
  const RunResult r = Run("options import");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Wavefront OBJ Import\n====================\n\nPresets\n    Preset: Last Used", 0), 0u) << r.out;
  const std::pair<const char*, const char*> expected[] = {
      {"document=new", "(*) A new document"},
      {"document=current", "( ) The current document"},
      {"source=one-file", "(*) One file"},
      {"subfolders", "[ ] Include subfolders"},
      {"scale-mode=multiply", "(*) Multiply by"},
      {"scale", "Scale: 1"},
      {"layout=single-object", "(*) One object for everything"},
      {"phong-tags", "[x] Phong tags"},
      {"smooth-angle", "Angle limit (degrees): 80"},  // the record's radians, shown in degrees
      {"lines=as-splines", "(*) As spline segments"},
      {"spline-layout=per-group", "(*) One spline per group in each mesh object"},
      {"spline-nulls=per-group", "(*) A null per mesh object and per group"},
      {"normals", "[ ] Normals"},
      {"negate-z", "[x] Negate Z"},
      {"materials=reuse", "(*) Reuse materials of the same name"},
      {"consolidate-materials", "[ ] Merge duplicate materials"},
      {"merge-tolerance-r", "Red: 1"},
  };
  for (const auto& [key, shown] : expected) EXPECT_TRUE(Has(Line(r.out, key), shown)) << key << ": " << Line(r.out, key);
  EXPECT_TRUE(Has(Line(r.out, "subfolders"), "(disabled)")) << "the folder options wait for a folder import";
  EXPECT_FALSE(Has(r.out, "Reload")) << "buttons are left out";
  EXPECT_FALSE(fs::exists(SettingsFile())) << "a preview writes no settings";
}

TEST_F(ShellOptionsTest, EveryKindOfGadgetIsSetAsAPersonWouldInTheGivenOrder) {
  const RunResult r = Run(
      "options import --set swap-yz=on --set scale=1 --set smooth-angle=45.5 --set texture-path=/tex "
      "--set layout=per-group --set texture-sampling=area --set 'texture-blur=Blur: 30 %' --set source=folder "
      "--set subfolders=on --set null-per-folder=yes --set materials=none --set merge-tolerance-g=16");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(Line(r.out, "swap-yz"), "[x] Swap Y and Z"));
  EXPECT_TRUE(Has(Line(r.out, "scale"), "Scale: 1"));
  EXPECT_TRUE(Has(Line(r.out, "smooth-angle"), "Angle limit (degrees): 45.5"));
  EXPECT_TRUE(Has(Line(r.out, "texture-path"), "Texture path: \"/tex\""));
  EXPECT_TRUE(Has(Line(r.out, "layout=per-group"), "(*) One object per group"));
  EXPECT_TRUE(Has(Line(r.out, "layout=single-object"), "( ) One object for everything")) << "the set stays exclusive";
  EXPECT_TRUE(Has(Line(r.out, "texture-sampling"), "Sampling: Sampling: area"));
  EXPECT_TRUE(Has(Line(r.out, "texture-blur"), "Blur: Blur: 30 %"));
  EXPECT_TRUE(Has(Line(r.out, "null-per-folder"), "[x] A null object per folder"));
  EXPECT_FALSE(Has(Line(r.out, "null-per-folder"), "(disabled)"));
  EXPECT_TRUE(Has(Line(r.out, "materials=none"), "(*) No materials"));
  EXPECT_TRUE(Has(Line(r.out, "rewrite-materials"), "(disabled)")) << "no materials: nothing to rewrite";
  EXPECT_TRUE(Has(Line(r.out, "merge-tolerance-g"), "Green: 16"));
  // Out of a field's range: refused with the range, before the dialog opens.
  const RunResult over = Run("options import --set merge-tolerance-g=99");
  EXPECT_EQ(over.exitCode, 2);
  EXPECT_TRUE(Has(over.err, "merge-tolerance-g takes a whole number from 1 to 16, not 99")) << over.err;
}

TEST_F(ShellOptionsTest, UsageErrorsListKeysOrValuesAndExitTwo) {
  const RunResult unknown = Run("options import --set swap-xy=on");
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Has(unknown.err, "there is no key 'swap-xy'; the keys are:")) << unknown.err;
  EXPECT_TRUE(Has(unknown.err, " swap-yz,")) << unknown.err;
  EXPECT_TRUE(unknown.out.empty());

  const RunResult value = Run("options export --set face-order=by-colour");
  EXPECT_EQ(value.exitCode, 2);
  EXPECT_TRUE(Has(value.err, "face-order takes one of: none, by-material, by-group, by-region, not 'by-colour'"))
      << value.err;
  EXPECT_EQ(Run("options import --set ngons=sometimes").exitCode, 2);
  EXPECT_EQ(Run("options import --scene x.kscn").exitCode, 2);
  EXPECT_EQ(Run("options sideways").exitCode, 2);
  EXPECT_EQ(Run("presets add").exitCode, 2);
  EXPECT_EQ(Run("presets add ''").exitCode, 2);
  EXPECT_EQ(Run("presets list --side both").exitCode, 2);
  EXPECT_FALSE(fs::exists(SettingsFile()));

  const RunResult keys = Run("options export --keys");
  EXPECT_EQ(keys.exitCode, 0);
  EXPECT_TRUE(Has(keys.out, "  face-order                 one of none, by-material, by-group, by-region\n"))
      << keys.out;
}

TEST_F(ShellOptionsTest, RefusedActionsFailWithTheDialogsReasonAndChangeNothing) {
  const RunResult disabled = Run("options import --set subfolders=on");
  EXPECT_EQ(disabled.exitCode, 1);
  EXPECT_TRUE(Has(disabled.err, "check 10173 (subfolders) is disabled (its group 'Folder import' is disabled)"))
      << disabled.err;
  EXPECT_TRUE(disabled.out.empty()) << disabled.out;

  const RunResult preset = Run("options import --preset 'Import From Blender'");
  EXPECT_EQ(preset.exitCode, 1);
  EXPECT_TRUE(Has(preset.err, "has no entry 'Import From Blender' (its entries: 'Last Used', 'Default Import Options', "
                              "'Import From Poser', 'Import From ZBrush', 'Import From SketchUp')"))
      << preset.err;

  const RunResult popup = Run("options import --set texture-blur=7%");
  EXPECT_EQ(popup.exitCode, 2);
  EXPECT_TRUE(Has(popup.err, "texture-blur takes one of: 0%, 5%, 10%, 15%, 20%, 30%, 50%, 100%, not '7%'"))
      << popup.err;
  EXPECT_FALSE(fs::exists(SettingsFile()));
}

TEST_F(ShellOptionsTest, PresetsAreListedWithTheProtectedOnesMarked) {
  const RunResult r = Run("presets list --side export");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out,
            "Export presets (entry 0 holds the options of the last run):\n"
            "   0  Last Used                        protected\n"
            "   1  Default Export Options           protected\n"
            "   2  Export To Poser\n"
            "   3  Export To ZBrush\n"
            "   4  Export To SketchUp\n");
  EXPECT_FALSE(fs::exists(SettingsFile()));
}

TEST_F(ShellOptionsTest, AnAddedPresetKeepsItsValuesForTheNextRunAndLastUsedStaysAsItWas) {
  const RunResult add =
      Run("presets add 'Big Scenes' --from 'Import From Poser' --set scale=5000 --set layout=per-material");
  ASSERT_EQ(add.exitCode, 0) << add.out << add.err;
  EXPECT_EQ(add.out, "Added the import preset \"Big Scenes\" as entry 5.\n");
  ASSERT_TRUE(fs::exists(SettingsFile()));

  const RunResult shown = Run("options import --preset 'Big Scenes'");
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_TRUE(Has(Line(shown.out, "preset"), "Preset: Big Scenes"));
  EXPECT_TRUE(Has(Line(shown.out, "scale"), "Scale: 5000"));
  EXPECT_TRUE(Has(Line(shown.out, "layout=per-material"), "(*)"));
  EXPECT_TRUE(Has(Line(shown.out, "whole-group-names"), "[x]")) << "taken from the Poser preset";
  EXPECT_FALSE(Has(shown.out, "store-preset")) << "buttons stay out of the print";
  EXPECT_EQ(Run("presets show 'Big Scenes'").out, shown.out);

  const RunResult last = Run("options import");
  EXPECT_TRUE(Has(Line(last.out, "scale"), "Scale: 1")) << last.out;
  EXPECT_TRUE(Has(Line(last.out, "layout=single-object"), "(*)"));

  const RunResult list = Run("presets list");
  EXPECT_TRUE(Has(list.out, "   5  Big Scenes\n")) << list.out;
  // Names need not be unique: the first of a name is the one meant.
  ASSERT_EQ(Run("presets add 'Big Scenes' --set scale=7").exitCode, 0);
  EXPECT_TRUE(Has(Line(Run("presets show 'Big Scenes'").out, "scale"), "Scale: 5000"));
}

TEST_F(ShellOptionsTest, ProtectedPresetsCannotBeDeletedAndUserPresetsCan) {
  ASSERT_EQ(Run("presets list").exitCode, 0);
  ASSERT_FALSE(fs::exists(SettingsFile()));
  const RunResult refused = Run("presets delete 'Default Import Options'");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.err, "kelvane: the preset \"Default Import Options\" is protected and cannot be deleted\n");
  EXPECT_EQ(Run("presets delete 'Last Used'").exitCode, 1);
  EXPECT_FALSE(fs::exists(SettingsFile())) << "a refused command writes nothing";

  const RunResult missing = Run("presets delete Nowhere --side export");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Has(missing.err, "'Export To SketchUp'")) << missing.err;

  const RunResult gone = Run("presets delete 'Import From ZBrush'");
  ASSERT_EQ(gone.exitCode, 0) << gone.err;
  EXPECT_EQ(gone.out, "Deleted the import preset \"Import From ZBrush\" (entry 3).\n");
  const RunResult list = Run("presets list");
  EXPECT_FALSE(Has(list.out, "ZBrush")) << list.out;
  EXPECT_TRUE(Has(list.out, "   3  Import From SketchUp")) << list.out;
}

TEST_F(ShellOptionsTest, RenamingKeepsThePlaceAndLastUsedKeepsItsName) {
  const RunResult renamed = Run("presets rename 'Export To Poser' 'Poser 12' --side export");
  ASSERT_EQ(renamed.exitCode, 0) << renamed.err;
  EXPECT_EQ(renamed.out, "Renamed the export preset \"Export To Poser\" (entry 2) to \"Poser 12\".\n");
  const RunResult list = Run("presets list --side export");
  EXPECT_TRUE(Has(list.out, "   2  Poser 12")) << list.out;
  EXPECT_FALSE(Has(list.out, "Export To Poser")) << list.out;
  EXPECT_TRUE(Has(Line(Run("presets show 'Poser 12' --side export").out, "scale"), "Scale: 1000"));

  const RunResult last = Run("presets rename 'Last Used' Mine");
  EXPECT_EQ(last.exitCode, 1);
  EXPECT_TRUE(Has(last.err, "keeps its name")) << last.err;
  EXPECT_EQ(Run("presets rename Nowhere Somewhere").exitCode, 1);

  // The defaults the shell starts from keep their names too, and blank names are refused.
  for (const char* args : {"presets rename 'Default Import Options' Mine",
                           "presets rename 'Default Export Options' Mine --side export"}) {
    const RunResult refused = Run(args);
    EXPECT_EQ(refused.exitCode, 1) << args;
    EXPECT_TRUE(Has(refused.err, "is protected and cannot be renamed")) << refused.err;
  }
  for (const char* args : {"presets rename 'Import From Poser' '   '", "presets add ' '", "presets add ''"}) {
    const RunResult blank = Run(args);
    EXPECT_EQ(blank.exitCode, 2) << args;
    EXPECT_TRUE(Has(blank.err, "may not be empty or only blanks")) << args << ": " << blank.err;
  }
  EXPECT_TRUE(Has(Run("presets list").out, "   1  Default Import Options"));
}

TEST_F(ShellOptionsTest, APreviewLeavesTheSettingsFileAsItWas) {
  ASSERT_EQ(Run("presets add Mine --set normals=on").exitCode, 0);
  const std::string before = ReadFile(SettingsFile());
  ASSERT_FALSE(before.empty());
  for (const char* args : {"options import --preset Mine --set swap-yz=on --set scale=9", "options export",
                           "presets show Mine", "presets list", "options import --set subfolders=on",
                           "presets delete 'Default Import Options'"})
    Run(args);
  EXPECT_EQ(ReadFile(SettingsFile()), before);
  EXPECT_TRUE(Has(Line(Run("options import --preset Mine").out, "normals"), "[x]"));
}

// A plane whose eight outer quads make one n-gon around a hole.
std::string SceneWithAHoledNgon(const std::string& path) {
  BaseDocument* doc = BaseDocument::Alloc();
  PolygonObject* op = PolygonObject::Alloc(16, 9);
  if (!doc || !op) return "no memory";
  for (LONG j = 0; j <= 3; ++j)
    for (LONG i = 0; i <= 3; ++i) op->GetPointW()[j * 4 + i] = Vector(i, j, 0);
  for (LONG j = 0; j < 3; ++j)
    for (LONG i = 0; i < 3; ++i) {
      const LONG a = j * 4 + i;
      op->GetPolygonW()[j * 3 + i] = CPolygon(a, a + 1, a + 5, a + 4);
    }
  auto e = [](LONG polygon, LONG side) { return polygon * 4 + side; };
  const LONG ring[] = {e(0, 0), e(1, 0), e(2, 0), e(2, 1), e(5, 1), e(8, 1), e(8, 2), e(7, 2),
                       e(6, 2), e(6, 3), e(3, 3), e(0, 3) | NGON_EDGE_SEGMENTEND,
                       e(1, 2), e(3, 1), e(7, 0), e(5, 3) | NGON_EDGE_SEGMENTEND};
  std::string error;
  if (op->GetNgonBase()->BuildNgon(nullptr, ring, 0, 16, op->GetPolygonR(), op->GetPointR()) != 0)
    error = "the n-gon was not built";
  doc->InsertObject(op, nullptr, nullptr);
  doc->SetMaxTime(BaseTime(48, 24));
  doc->SetFps(24);
  if (error.empty()) host::SaveScene(doc, path, &error);
  BaseDocument::Free(doc);
  return error;
}

TEST_F(ShellOptionsTest, TheExportDialogTakesTheScenesFramesAndAskedNoCancels) {
  ASSERT_EQ(SceneWithAHoledNgon(TempDir() + "/holed.kscn"), "");
  const RunResult yes = Run("options export --scene holed.kscn --set mode=per-frame");
  ASSERT_EQ(yes.exitCode, 0) << yes.out << yes.err;
  EXPECT_TRUE(Has(Line(yes.out, "end-frame"), "Last frame: 48")) << yes.out;
  EXPECT_TRUE(Has(Line(yes.out, "frame-rate"), "Frame rate: 24")) << yes.out;
  EXPECT_TRUE(Has(Line(yes.out, "ngons"), "[ ] N-gons")) << "a holed n-gon cannot be written";
  EXPECT_TRUE(Has(Line(yes.out, "ngons"), "(disabled)"));
  EXPECT_TRUE(Has(yes.err, "[message] At least one mesh object contains Ngons")) << yes.err;

  const RunResult no = Run("--no options export --scene holed.kscn");
  EXPECT_EQ(no.exitCode, 1);
  EXPECT_TRUE(Has(no.err, "kelvane: the export was cancelled: the n-gon question was answered No")) << no.err;
  EXPECT_TRUE(no.out.empty()) << no.out;

  const RunResult missing = Run("options export --scene nowhere.kscn");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_TRUE(Has(missing.err, "cannot load scene 'nowhere.kscn'")) << missing.err;
}

}  // namespace
