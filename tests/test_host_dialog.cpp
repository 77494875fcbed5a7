// Headless dialogs played by the scripted user: values and limits, enable states,
// Command calls, OK / Cancel, popups, text entry, keys, asynchronous dialogs, list
// views, and the dialog resources of the plug-in.
#include <cmath>
#include <algorithm>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "c4d.h"
#include "c4d_symbols.h"
#include "host_fixture.h"

using host::DialogAction;
using host::GadgetKind;

namespace {

enum : LONG {
  ID_GROUP = 5000,
  ID_INNER = 5001,
  ID_CHECK = 5002,
  ID_COUNT = 5003,
  ID_ANGLE = 5004,
  ID_NAME = 5005,
  ID_CHOICE = 5006,
  ID_BUTTON = 5007,
  ID_LOCKED = 5008,
  ID_INNER_CHECK = 5009,
  ID_LABEL = 5010,
};

// A dialog built in code with one gadget of each kind a person sets.
class TestDialog : public GeModalDialog {
 public:
  std::vector<LONG> commands;
  std::vector<LONG> commandValues;
  bool layoutOk = true;
  bool keepOpenOnce = false;
  int askCloses = 0;

  Bool CreateLayout() override {
    if (!layoutOk) return FALSE;
    SetTitle(String("Test Options"));
    GroupBegin(ID_GROUP, BFH_SCALEFIT, 2, 0, String("Options"), 0);
    AddCheckbox(ID_CHECK, BFH_LEFT, 0, 0, String("Swap"));
    AddEditNumberArrows(ID_COUNT, BFH_LEFT);
    AddEditNumber(ID_ANGLE, BFH_LEFT);
    AddEditText(ID_NAME, BFH_SCALEFIT);
    AddComboBox(ID_CHOICE, BFH_LEFT);
    AddButton(ID_BUTTON, BFH_LEFT, 0, 0, String("Press"));
    AddCheckbox(ID_LOCKED, BFH_LEFT, 0, 0, String("Locked"));
    GroupBegin(ID_INNER, BFH_LEFT, 1, 0, String("Inner"), 0);
    AddCheckbox(ID_INNER_CHECK, BFH_LEFT, 0, 0, String("Inside"));
    GroupEnd();
    AddStaticText(ID_LABEL, BFH_LEFT, 0, 0, String("A label"), 0);
    GroupEnd();
    return AddDlgGroup(DLG_OK | DLG_CANCEL);
  }
  Bool InitValues() override {
    SetBool(ID_CHECK, FALSE);
    SetLong(ID_COUNT, 5, 1, 100, 1);
    SetReal(ID_ANGLE, 80.0, 0.0, 180.0, 1.0);
    SetString(ID_NAME, String("first"));
    AddChild(ID_CHOICE, 0, String("None"));
    AddChild(ID_CHOICE, 10, String("Circle"));
    AddChild(ID_CHOICE, 20, String("Area"));
    SetLong(ID_CHOICE, 10);
    Enable(ID_LOCKED, FALSE);
    Enable(ID_INNER, FALSE);
    return TRUE;
  }
  Bool Command(LONG id, const BaseContainer& msg) override {
    commands.push_back(id);
    commandValues.push_back(msg.GetLong(BFM_ACTION_VALUE));
    // Ticking the check box frees the inner group, as enable rules do.
    if (id == ID_CHECK) {
      Bool on = FALSE;
      GetBool(ID_CHECK, on);
      Enable(ID_INNER, on);
    }
    return GeModalDialog::Command(id, msg);
  }
  Bool AskClose() override {
    ++askCloses;
    if (keepOpenOnce) {
      keepOpenOnce = false;
      return TRUE;
    }
    return FALSE;
  }
};

class DialogTest : public HostTest {
 protected:
  static void Queue(const DialogAction& a) { host::QueueDialogAction(a); }
  static bool ErrorsMention(const std::string& text) {
    for (const auto& e : host::DialogErrors())
      if (e.find(text) != std::string::npos) return true;
    return false;
  }
};

TEST_F(DialogTest, AScriptedRunEndsWithExactlyTheValuesTheScriptSet) {
  Queue(DialogAction::Tick("5002", true));
  Queue(DialogAction::Integer("5003", 42));
  Queue(DialogAction::Decimal("5004", 12.5));
  Queue(DialogAction::Text("5005", "renamed"));
  Queue(DialogAction::ChooseLabel("5006", "Area"));
  Queue(DialogAction::Click("5007"));
  Queue(DialogAction::Ok());
  TestDialog dlg;
  EXPECT_TRUE(dlg.Open());
  EXPECT_TRUE(dlg.GetResult());
  EXPECT_FALSE(dlg.IsOpen());
  EXPECT_TRUE(host::DialogErrors().empty()) << host::DialogErrors().front();

  Bool check = FALSE;
  LONG count = 0, choice = 0;
  Real angle = 0.0;
  String name;
  EXPECT_TRUE(dlg.GetBool(ID_CHECK, check));
  EXPECT_TRUE(check);
  EXPECT_TRUE(dlg.GetLong(ID_COUNT, count));
  EXPECT_EQ(count, 42);
  EXPECT_TRUE(dlg.GetReal(ID_ANGLE, angle));
  EXPECT_EQ(angle, 12.5);
  EXPECT_TRUE(dlg.GetString(ID_NAME, name));
  EXPECT_EQ(name.Std(), "renamed");
  EXPECT_TRUE(dlg.GetLong(ID_CHOICE, choice));
  EXPECT_EQ(choice, 20);

  // One Command per action, in order, each carrying the gadget's new value; then OK.
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{ID_CHECK, ID_COUNT, ID_ANGLE, ID_NAME, ID_CHOICE, ID_BUTTON, IDC_OK}));
  EXPECT_EQ(dlg.commandValues[0], 1);
  EXPECT_EQ(dlg.commandValues[1], 42);
  EXPECT_EQ(dlg.commandValues[4], 20);

  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::DialogRecord& rec = host::DialogLog()[0];
  EXPECT_EQ(rec.title, "Test Options");
  EXPECT_TRUE(rec.confirmed);
  EXPECT_TRUE(rec.modal);
  ASSERT_NE(rec.Find(ID_CHOICE), nullptr);
  EXPECT_EQ(rec.Find(ID_CHOICE)->value, "Area");
  EXPECT_EQ(rec.Find(ID_CHECK)->value, "on");
  EXPECT_EQ(rec.Find(ID_COUNT)->number, 42.0);
  EXPECT_EQ(rec.Find(ID_NAME)->value, "renamed");
  EXPECT_EQ(rec.Find(ID_GROUP)->value, "Options");
  EXPECT_FALSE(rec.Find(ID_LOCKED)->enabled);
  EXPECT_TRUE(rec.Find(ID_INNER_CHECK)->enabled);  // the tick enabled its group
  EXPECT_EQ(rec.Find(ID_INNER_CHECK)->kind, GadgetKind::Check);
}

TEST_F(DialogTest, NumbersAreClampedToTheirLimits) {
  Queue(DialogAction::Integer("5003", 1000));
  Queue(DialogAction::Decimal("5004", -3.0));
  TestDialog dlg;
  ASSERT_TRUE(dlg.Open());
  LONG count = 0;
  Real angle = 1.0;
  dlg.GetLong(ID_COUNT, count);
  dlg.GetReal(ID_ANGLE, angle);
  EXPECT_EQ(count, 100);
  EXPECT_EQ(angle, 0.0);

  // The plug-in's own sets clamp as well, and keep the limits when given none.
  EXPECT_TRUE(dlg.SetLong(ID_COUNT, -7, 1, 100));
  dlg.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(dlg.SetLong(ID_COUNT, 5000));
  dlg.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 100);
  EXPECT_TRUE(dlg.SetReal(ID_ANGLE, 500.0, 0.0, 180.0));
  dlg.GetReal(ID_ANGLE, angle);
  EXPECT_EQ(angle, 180.0);
  // A whole-number field refuses a fraction from the user rather than rounding it.
  Queue(DialogAction::Decimal("5003", 2.5));
  Queue(DialogAction::Integer("5003", MAXLONGl + 10LL));
  TestDialog again;
  ASSERT_TRUE(again.Open());
  EXPECT_TRUE(ErrorsMention("integer 5003 takes whole numbers only"));
  again.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 100);
}

// An angle field: the code keeps radians, the person sees and types degrees.
class AngleDialog : public GeModalDialog {
 public:
  Real initial = 1.3962633609771729;  // 80 degrees as stored presets carry it
  Real result = -1.0;
  Bool CreateLayout() override {
    SetTitle(String("Angle"));
    AddEditNumber(ID_ANGLE, BFH_LEFT);
    return AddDlgGroup(DLG_OK | DLG_CANCEL);
  }
  Bool InitValues() override { return SetReal(ID_ANGLE, initial, 0.0, 180.0, 1.0, FORMAT_DEGREE); }
  Bool Command(LONG id, const BaseContainer& msg) override {
    if (id == IDC_OK) GetReal(ID_ANGLE, result);
    return GeModalDialog::Command(id, msg);
  }
};

TEST_F(DialogTest, AnAngleFieldKeepsRadiansAndShowsDegrees) {
  // Untouched, the value comes back with its exact bits and shows as degrees.
  AngleDialog untouched;
  ASSERT_TRUE(untouched.Open());
  EXPECT_EQ(untouched.result, untouched.initial);
  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::GadgetRecord* shown = host::DialogLog()[0].Find(ID_ANGLE);
  ASSERT_NE(shown, nullptr);
  EXPECT_NEAR(shown->number, 80.0, 1e-5);
  EXPECT_EQ(shown->value.substr(0, 2), "80");

  // Typed values are degrees; the limits are degrees too.
  const std::pair<DialogAction, Real> cases[] = {
      {DialogAction::Set(std::to_string(ID_ANGLE), "60"), M_PI / 3.0},
      {DialogAction::Decimal(std::to_string(ID_ANGLE), 90.0), M_PI / 2.0},
      {DialogAction::Integer(std::to_string(ID_ANGLE), 45), M_PI / 4.0},
      {DialogAction::Set(std::to_string(ID_ANGLE), "200"), M_PI},
      {DialogAction::Decimal(std::to_string(ID_ANGLE), -5.0), 0.0},
  };
  for (const auto& [action, radians] : cases) {
    Queue(action);
    AngleDialog dlg;
    ASSERT_TRUE(dlg.Open());
    EXPECT_NEAR(dlg.result, radians, 1e-12) << action.text << action.decimal << action.number;
  }
  // The plug-in's own value beyond the limits is clamped to them.
  AngleDialog steep;
  steep.initial = 4.0;
  ASSERT_TRUE(steep.Open());
  EXPECT_NEAR(steep.result, M_PI, 1e-12);
}

TEST_F(DialogTest, GenericSetsReadTheValueByTheGadgetsKind) {
  Queue(DialogAction::Set("5002", "yes"));
  Queue(DialogAction::Set("5003", "17"));
  Queue(DialogAction::Set("5004", "22.25"));
  Queue(DialogAction::Set("5005", "some text"));
  Queue(DialogAction::Set("5006", "none"));  // labels match without regard to case
  TestDialog dlg;
  ASSERT_TRUE(dlg.Open());
  Bool check = FALSE;
  LONG count = 0, choice = -1;
  Real angle = 0.0;
  String name;
  dlg.GetBool(ID_CHECK, check);
  dlg.GetLong(ID_COUNT, count);
  dlg.GetReal(ID_ANGLE, angle);
  dlg.GetString(ID_NAME, name);
  dlg.GetLong(ID_CHOICE, choice);
  EXPECT_TRUE(check);
  EXPECT_EQ(count, 17);
  EXPECT_EQ(angle, 22.25);
  EXPECT_EQ(name.Std(), "some text");
  EXPECT_EQ(choice, 0);

  Queue(DialogAction::Set("5002", "maybe"));
  Queue(DialogAction::Set("5003", "12abc"));
  Queue(DialogAction::Set("5004", "nan"));
  Queue(DialogAction::Set("5006", "1"));  // no such label: taken as the index
  TestDialog second;
  ASSERT_TRUE(second.Open());
  EXPECT_TRUE(ErrorsMention("takes on or off, not 'maybe'"));
  EXPECT_TRUE(ErrorsMention("takes a whole number, not '12abc'"));
  EXPECT_TRUE(ErrorsMention("takes a number, not 'nan'"));
  second.GetLong(ID_CHOICE, choice);
  EXPECT_EQ(choice, 10);
  EXPECT_EQ(host::DialogErrors().size(), 3u);
}

TEST_F(DialogTest, DisabledUnknownAndMismatchedGadgetsRefuseActions) {
  Queue(DialogAction::Tick("5008", true));          // disabled itself
  Queue(DialogAction::Tick("5009", true));          // inside a disabled group
  Queue(DialogAction::Click("4711"));               // unknown ID
  Queue(DialogAction::Tick("swap", true));          // no keys in a dialog made in code
  Queue(DialogAction::Text("5002", "x"));           // text into a check box
  Queue(DialogAction::Integer("5010", 3));          // a number into a static text
  Queue(DialogAction::ChooseIndex("5006", 3));      // past the last entry
  Queue(DialogAction::ChooseLabel("5006", "Nope"));
  Queue(DialogAction::Highlight("5006", {0}));
  TestDialog dlg;
  ASSERT_TRUE(dlg.Open());
  EXPECT_EQ(dlg.commands, std::vector<LONG>{IDC_OK});  // nothing refused reached Command
  const auto& errors = host::DialogErrors();
  ASSERT_EQ(errors.size(), 9u);
  EXPECT_NE(errors[0].find("check 5008 is disabled"), std::string::npos) << errors[0];
  EXPECT_NE(errors[1].find("check 5009 is disabled"), std::string::npos) << errors[1];
  // What stops it is named: a gadget disabled itself, or the group around it.
  EXPECT_TRUE(errors[0].size() == errors[0].find("is disabled") + 11) << errors[0];
  EXPECT_NE(errors[1].find("is disabled (its group 'Inner' is disabled)"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("has no gadget '4711'"), std::string::npos) << errors[2];
  EXPECT_NE(errors[3].find("has no gadget 'swap'"), std::string::npos) << errors[3];
  EXPECT_NE(errors[4].find("takes no text"), std::string::npos) << errors[4];
  EXPECT_NE(errors[5].find("takes no number"), std::string::npos) << errors[5];
  EXPECT_NE(errors[6].find("has no entry 3 (it has 3)"), std::string::npos) << errors[6];
  EXPECT_NE(errors[7].find("has no entry 'Nope'"), std::string::npos) << errors[7];
  EXPECT_NE(errors[8].find("is no list view"), std::string::npos) << errors[8];
  Bool locked = TRUE;
  dlg.GetBool(ID_LOCKED, locked);
  EXPECT_FALSE(locked);
  EXPECT_FALSE(dlg.IsEnabled(ID_INNER_CHECK));
  EXPECT_FALSE(dlg.IsEnabled(4711));
  EXPECT_TRUE(dlg.IsEnabled(ID_CHECK));
}

TEST_F(DialogTest, CancelReturnsFalseAndTheDefaultEndingIsSettable) {
  Queue(DialogAction::Integer("5003", 9));
  Queue(DialogAction::Cancel());
  Queue(DialogAction::Integer("5003", 11));  // left for the next dialog
  TestDialog dlg;
  EXPECT_FALSE(dlg.Open());
  EXPECT_FALSE(dlg.GetResult());
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{ID_COUNT, IDC_CANCEL}));
  ASSERT_EQ(host::DialogLog().size(), 1u);
  EXPECT_FALSE(host::DialogLog()[0].confirmed);
  EXPECT_EQ(host::DialogLog()[0].Find(ID_COUNT)->number, 9.0);

  // Nothing queued beyond the one set: OK by default ...
  TestDialog second;
  EXPECT_TRUE(second.Open());
  LONG count = 0;
  second.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 11);
  // ... or Cancel when the script says so.
  host::SetDialogDefault(false);
  TestDialog third;
  EXPECT_FALSE(third.Open());
  EXPECT_EQ(third.commands, std::vector<LONG>{IDC_CANCEL});
}

TEST_F(DialogTest, OkAsksTheDialogAndARefusalKeepsItOpen) {
  Queue(DialogAction::Ok());
  Queue(DialogAction::Integer("5003", 3));
  Queue(DialogAction::Ok());
  TestDialog dlg;
  dlg.keepOpenOnce = true;
  EXPECT_TRUE(dlg.Open());
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{IDC_OK, ID_COUNT, IDC_OK}));
  LONG count = 0;
  dlg.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 3);
  EXPECT_TRUE(ErrorsMention("refused to close on OK"));

  // A dialog that never closes is cancelled once the script and the default are spent.
  class Stubborn : public TestDialog {
    Bool AskClose() override { return TRUE; }
  } stubborn;
  EXPECT_FALSE(stubborn.Open());
  EXPECT_FALSE(stubborn.IsOpen());
  EXPECT_TRUE(ErrorsMention("was cancelled: it would not close"));
}

TEST_F(DialogTest, ALayoutThatFailsOrLeavesAGroupOpenDoesNotOpen) {
  TestDialog failing;
  failing.layoutOk = false;
  EXPECT_FALSE(failing.Open());
  EXPECT_FALSE(failing.IsOpen());
  EXPECT_TRUE(ErrorsMention("its layout failed"));

  class Unclosed : public GeModalDialog {
    Bool CreateLayout() override { return GroupBegin(77, 0, 1, 0, String(), 0); }
  } unclosed;
  EXPECT_FALSE(unclosed.Open());
  EXPECT_TRUE(ErrorsMention("group 77 is not closed"));

  class Twice : public GeModalDialog {
    Bool CreateLayout() override {
      AddCheckbox(3, 0, 0, 0, String("a"));
      return AddCheckbox(3, 0, 0, 0, String("b"));
    }
  } twice;
  EXPECT_FALSE(twice.Open());
  EXPECT_TRUE(ErrorsMention("gadget ID 3 is used twice"));
  EXPECT_TRUE(host::DialogLog().empty());
}

TEST_F(DialogTest, PopupEntriesAreChosenByLabelOrIndexAndCanBeRefilled) {
  class Popups : public GeModalDialog {
   public:
    Bool CreateLayout() override { return AddPopupButton(9, 0); }
    Bool InitValues() override {
      AddChild(9, 100, String("Last Used"));
      AddChild(9, 101, String("Default"));
      return SetLong(9, 100);
    }
    Bool Command(LONG id, const BaseContainer& msg) override {
      // Choosing an entry refills the popup, as the preset popup does.
      if (id == 9) {
        FreeChildren(9);
        AddChild(9, 200, String("Mine"));
        AddChild(9, 201, String("Yours"));
      }
      return GeModalDialog::Command(id, msg);
    }
  } dlg;
  Queue(DialogAction::ChooseLabel("9", "Default"));
  Queue(DialogAction::ChooseLabel("9", "Default"));  // gone after the refill
  Queue(DialogAction::ChooseIndex("9", 1));
  ASSERT_TRUE(dlg.Open());
  LONG value = 0;
  dlg.GetLong(9, value);
  EXPECT_EQ(value, 201);
  ASSERT_EQ(host::DialogErrors().size(), 1u);
  EXPECT_NE(host::DialogErrors()[0].find("has no entry 'Default'"), std::string::npos);
  EXPECT_EQ(host::DialogLog().back().Find(9)->value, "Yours");
  EXPECT_FALSE(dlg.AddChild(4711, 1, String("x")));
  EXPECT_FALSE(dlg.FreeChildren(4711));
}

TEST_F(DialogTest, ActionsAddressedToAnotherDialogWaitForIt) {
  Queue(DialogAction::Integer("5003", 7).For("Other Dialog"));
  Queue(DialogAction::Integer("5003", 8).For("Test Options"));
  TestDialog dlg;
  ASSERT_TRUE(dlg.Open());
  LONG count = 0;
  dlg.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 8);

  class Other : public TestDialog {
    Bool CreateLayout() override {
      TestDialog::CreateLayout();
      SetTitle(String("Other Dialog"));
      return TRUE;
    }
  } other;
  ASSERT_TRUE(other.Open());
  other.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 7);
}

TEST_F(DialogTest, RenameDialogTakesQueuedTextsAndCancel) {
  host::QueueRenameText("My Preset");
  host::QueueRenameCancel();
  String text("Enter Preset Name");
  EXPECT_TRUE(RenameDialog(&text));
  EXPECT_EQ(text.Std(), "My Preset");
  String kept("Old Name");
  EXPECT_FALSE(RenameDialog(&kept));
  EXPECT_EQ(kept.Std(), "Old Name");
  // Nothing queued: the shown text is confirmed as it stands.
  String shown("Enter Preset Name");
  EXPECT_TRUE(RenameDialog(&shown));
  EXPECT_EQ(shown.Std(), "Enter Preset Name");
  EXPECT_EQ(host::RenamePrompts(), (std::vector<std::string>{"Enter Preset Name", "Old Name", "Enter Preset Name"}));
  EXPECT_FALSE(RenameDialog(nullptr));
}

TEST_F(DialogTest, GetInputStateReturnsAQueuedEscapeOnce) {
  host::QueueKey(KEY_ESC);
  BaseContainer res;
  ASSERT_TRUE(GetInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, res));
  EXPECT_EQ(res.GetLong(BFM_INPUT_CHANNEL), 61723);
  EXPECT_TRUE(res.GetBool(BFM_INPUT_VALUE));
  ASSERT_TRUE(GetInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, res));
  EXPECT_EQ(res.GetLong(BFM_INPUT_CHANNEL), 0);
  EXPECT_FALSE(res.GetBool(BFM_INPUT_VALUE));
  EXPECT_FALSE(GetInputState(12345, BFM_INPUT_CHANNEL, res));
}

// The progress window's shape: a titled group, a label, and the standard cancel.
class ProgressWindow : public GeDialog {
 public:
  std::vector<LONG> commands;
  Bool CreateLayout() override {
    GroupBegin(6000, BFH_SCALEFIT, 1, 0, String("Files"), 0);
    AddStaticText(6001, BFH_SCALEFIT, 0, 0, String(std::string(103, ' ')), 0);
    GroupEnd();
    return AddButton(IDC_CANCEL, BFH_RIGHT, 0, 0, String("Cancel"));
  }
  Bool Command(LONG id, const BaseContainer& msg) override {
    commands.push_back(id);
    if (id == IDC_CANCEL) Close();
    (void)msg;
    return TRUE;
  }
};

TEST_F(DialogTest, AnAsyncDialogStaysOpenIsUpdatedAndClosed) {
  ProgressWindow win;
  Queue(DialogAction::Click("2").For("1022493"));
  ASSERT_TRUE(win.Open(DLG_TYPE_ASYNC, 1022493));
  EXPECT_TRUE(win.IsOpen());
  EXPECT_TRUE(win.commands.empty());  // nothing is delivered before the plug-in yields
  EXPECT_TRUE(win.Open(DLG_TYPE_ASYNC, 1022493));  // opening an open window shows it
  win.SetTitle(String("Exporting"));
  EXPECT_TRUE(win.SetString(6000, String("Files: (3/10)")));
  EXPECT_TRUE(win.SetString(6001, String("cube.obj")));
  String title;
  win.GetString(6000, title);
  EXPECT_EQ(title.Std(), "Files: (3/10)");
  EXPECT_EQ(win.GetTitle().Std(), "Exporting");

  BaseContainer res;
  GetInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, res);
  EXPECT_EQ(win.commands, std::vector<LONG>{IDC_CANCEL});
  EXPECT_FALSE(win.IsOpen());
  ASSERT_EQ(host::DialogLog().size(), 1u);
  const host::DialogRecord& rec = host::DialogLog()[0];
  EXPECT_FALSE(rec.modal);
  EXPECT_EQ(rec.pluginId, 1022493);
  EXPECT_EQ(rec.title, "Exporting");
  EXPECT_EQ(rec.Find(6000)->value, "Files: (3/10)");
  EXPECT_EQ(rec.Find(6001)->value, "cube.obj");
  EXPECT_FALSE(win.Close());  // closed already

  // Unaddressed actions are for modal dialogs, not for open windows.
  ProgressWindow second;
  ASSERT_TRUE(second.Open(DLG_TYPE_ASYNC, 1022493));
  Queue(DialogAction::Click("2"));
  host::PumpDialogs();
  EXPECT_TRUE(second.IsOpen());
  Queue(DialogAction::Click("2").For("1022493"));
  EventAdd();  // posting an event runs the host's message loop too
  EXPECT_FALSE(second.IsOpen());
}

TEST_F(DialogTest, AWindowDestroyedWhileOpenIsForgotten) {
  {
    ProgressWindow win;
    ASSERT_TRUE(win.Open(DLG_TYPE_ASYNC, 1));
  }
  Queue(DialogAction::Click("2").For("1"));
  host::PumpDialogs();  // must not reach the destroyed window
  EXPECT_TRUE(host::DialogLog().empty());
}

TEST_F(DialogTest, OpeningSurvivesMissingMemoryAtEveryStep) {
  for (LLONG n = 1; n < 40; ++n) {
    host::FailAllocationAt(n);
    TestDialog dlg;
    const Bool opened = dlg.Open();
    host::ResetFaults();
    if (!opened) {
      EXPECT_FALSE(dlg.IsOpen());
    }
  }
}

// --- list views --------------------------------------------------------------------

constexpr LONG kNameColumn = 0x6e616d65;  // 'name'

class ListDialog : public GeModalDialog {
 public:
  SimpleListView left, right;
  std::vector<LONG> commands;
  std::vector<std::vector<LONG>> selections;
  Bool CreateLayout() override {
    AddListView(10158, BFH_SCALEFIT, 150, 200);
    AddListView(10159, BFH_SCALEFIT, 150, 200);
    AddButton(10156, 0, 0, 0, String("Add"));
    AddDlgGroup(DLG_OK | DLG_CANCEL);
    if (!left.AttachListView(this, 10158) || !right.AttachListView(this, 10159)) return FALSE;
    BaseContainer layout;
    layout.SetLong(kNameColumn, LV_COLUMN_TEXT);
    return left.SetLayout(1, layout) && right.SetLayout(1, layout);
  }
  Bool InitValues() override {
    const char* names[] = {"A", "B", "C"};
    for (LONG i = 0; i < 3; ++i) {
      BaseContainer row;
      row.SetString(kNameColumn, String(names[i]));
      left.SetItem(i, row);
    }
    return left.DataChanged();
  }
  Bool Command(LONG id, const BaseContainer& msg) override {
    commands.push_back(id);
    if (id == 10156) {
      // Move the highlighted rows across, in row order.
      BaseSelect* sel = BaseSelect::Alloc();
      if (!sel) return FALSE;
      left.GetSelection(sel);
      std::vector<LONG> moved;
      for (LONG i = 0; i < left.GetItemCount(); ++i) {
        LONG rowId = 0;
        BaseContainer data;
        left.GetItemLine(i, &rowId, &data);
        if (sel->IsSelected(rowId)) moved.push_back(rowId), right.SetItem(rowId, data);
      }
      for (const LONG rowId : moved) left.RemoveItem(rowId);
      BaseSelect::Free(sel);
      selections.push_back(moved);
      left.DataChanged();
      right.DataChanged();
    }
    return GeModalDialog::Command(id, msg);
  }
};

TEST_F(DialogTest, ListViewRowsAndHighlightsFollowTheScript) {
  Queue(DialogAction::Highlight("10158", {2, 0}));
  Queue(DialogAction::Click("10156"));
  Queue(DialogAction::HighlightLabels("10158", {"B"}));
  Queue(DialogAction::Highlight("10158", {5}));  // past the rows
  Queue(DialogAction::HighlightLabels("10159", {"Z"}));
  ListDialog dlg;
  ASSERT_TRUE(dlg.Open());
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{10158, 10156, 10158, IDC_OK}));
  ASSERT_EQ(dlg.selections.size(), 1u);
  EXPECT_EQ(dlg.selections[0], (std::vector<LONG>{0, 2}));  // row order, not click order
  EXPECT_EQ(host::DialogErrors().size(), 2u);
  EXPECT_TRUE(ErrorsMention("has no row 5 (it has 1)"));
  EXPECT_TRUE(ErrorsMention("has no row 'Z'"));

  EXPECT_EQ(dlg.left.GetItemCount(), 1);
  EXPECT_EQ(dlg.right.GetItemCount(), 2);
  LONG id = -1;
  BaseContainer data;
  ASSERT_TRUE(dlg.right.GetItemLine(1, &id, &data));
  EXPECT_EQ(id, 2);
  EXPECT_EQ(data.GetString(kNameColumn).Std(), "C");
  EXPECT_FALSE(dlg.right.GetItemLine(2, &id, &data));
  EXPECT_FALSE(dlg.right.GetItemLine(-1, &id, &data));
  EXPECT_EQ(host::DialogLog().back().Find(10159)->value, "A, C");
  EXPECT_EQ(host::DialogLog().back().Find(10158)->value, "B");

  // The last highlight (B) stays until its row goes and the view is refreshed.
  BaseSelect* sel = BaseSelect::Alloc();
  ASSERT_NE(sel, nullptr);
  EXPECT_EQ(dlg.left.GetSelection(sel), 1);
  EXPECT_TRUE(sel->IsSelected(1));
  EXPECT_TRUE(dlg.left.RemoveItem(1));
  EXPECT_FALSE(dlg.left.RemoveItem(1));
  EXPECT_TRUE(dlg.left.DataChanged());
  EXPECT_EQ(dlg.left.GetSelection(sel), 0);
  BaseSelect::Free(sel);
}

TEST_F(DialogTest, ListViewItemsAreReplacedInPlaceAndSelectionsSetByCode) {
  SimpleListView list;
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_FALSE(list.GetItem(1, nullptr));
  BaseContainer a, b;
  a.SetString(kNameColumn, String("a"));
  b.SetString(kNameColumn, String("b"));
  ASSERT_TRUE(list.SetItem(7, a));
  ASSERT_TRUE(list.SetItem(3, b));
  ASSERT_TRUE(list.SetItem(7, b));  // replaced, keeps its place
  EXPECT_EQ(list.GetItemCount(), 2);
  LONG id = 0;
  BaseContainer got;
  ASSERT_TRUE(list.GetItemLine(0, &id, &got));
  EXPECT_EQ(id, 7);
  EXPECT_EQ(got.GetString(kNameColumn).Std(), "b");
  ASSERT_TRUE(list.GetItem(3, &got));

  BaseSelect* sel = BaseSelect::Alloc();
  ASSERT_NE(sel, nullptr);
  sel->Select(3);
  sel->Select(99);  // no such row: dropped
  EXPECT_TRUE(list.SetSelection(sel));
  EXPECT_EQ(list.GetSelection(sel), 1);
  EXPECT_TRUE(sel->IsSelected(3));
  EXPECT_EQ(list.GetSelection(nullptr), -1);
  BaseSelect::Free(sel);

  // A list view attaches to list view gadgets only.
  TestDialog dlg;
  EXPECT_FALSE(list.AttachListView(&dlg, ID_CHECK));
}

// --- dialog resources --------------------------------------------------------------

class ResourceDialog : public GeModalDialog {
 public:
  explicit ResourceDialog(LONG id) : m_id(id) {}
  Bool CreateLayout() override { return LoadDialogResource(m_id, &resource, 0); }
  std::vector<LONG> commands;
  Bool Command(LONG id, const BaseContainer& msg) override {
    commands.push_back(id);
    return GeModalDialog::Command(id, msg);
  }

 private:
  LONG m_id;
};

TEST_F(DialogTest, AResourceDialogIsPlayedThroughByKeys) {
  Queue(DialogAction::Set("scale", "250"));
  Queue(DialogAction::Set("divide", "on"));
  Queue(DialogAction::Integer("fps", 500));
  Queue(DialogAction::Integer("frame-step", -4));
  Queue(DialogAction::Set("start-frame", "12"));
  Queue(DialogAction::Ok());
  ResourceDialog dlg(DLG_MDD_EXPORT_OPTIONS);
  ASSERT_TRUE(dlg.Open()) << (host::DialogErrors().empty() ? "" : host::DialogErrors().back());
  LONG scale = 0, fps = 0, step = 0, start = 0;
  Bool divide = FALSE;
  dlg.GetLong(IDC_MDDXP_SCALE, scale);
  dlg.GetLong(IDC_MDDXP_FPS, fps);
  dlg.GetLong(IDC_MDDXP_FRAME_STEP, step);
  dlg.GetLong(IDC_MDDXP_START_FRAME, start);
  dlg.GetBool(IDC_MDDXP_DIVIDE, divide);
  EXPECT_EQ(scale, 250);
  EXPECT_EQ(fps, 120);  // the resource's limit
  EXPECT_EQ(step, 1);
  EXPECT_EQ(start, 12);
  EXPECT_TRUE(divide);
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{IDC_MDDXP_SCALE, IDC_MDDXP_DIVIDE, IDC_MDDXP_FPS,
                                             IDC_MDDXP_FRAME_STEP, IDC_MDDXP_START_FRAME, IDC_OK}));
  const host::DialogRecord& rec = host::DialogLog().back();
  EXPECT_EQ(rec.resourceId, DLG_MDD_EXPORT_OPTIONS);
  EXPECT_EQ(rec.title, "MDD Point Cache Export");
  EXPECT_EQ(rec.Find(IDC_MDDXP_SCALE)->key, "scale");

  // Addressed by the resource's symbol or ID, and a resource-made integer field stays one.
  Queue(DialogAction::Integer("scale", 3).For("DLG_MDD_IMPORT_OPTIONS"));
  Queue(DialogAction::Decimal("scale", 4.0).For("10262"));
  ResourceDialog mp(DLG_MDD_IMPORT_OPTIONS);
  ASSERT_TRUE(mp.Open());
  EXPECT_TRUE(mp.SetReal(IDC_MDDMP_SCALE, 7.9));
  mp.GetLong(IDC_MDDMP_SCALE, scale);
  EXPECT_EQ(scale, 7);
  EXPECT_EQ(host::DialogLog().back().Find(IDC_MDDMP_SCALE)->value, "4");
}

struct Expected {
  LONG id;
  GadgetKind kind;
};

void ExpectGadgets(LONG dialog, const std::vector<Expected>& expected) {
  std::string title, error;
  std::vector<host::GadgetInfo> gadgets;
  ASSERT_TRUE(host::DescribeDialogResource(dialog, &title, &gadgets, &error)) << dialog << ": " << error;
  EXPECT_FALSE(title.empty()) << dialog;
  std::map<LONG, const host::GadgetInfo*> byId;
  std::set<std::string> keys;
  for (const auto& g : gadgets) {
    if (g.id != 0) byId[g.id] = &g;
    if (!g.key.empty()) {
      EXPECT_TRUE(keys.insert(g.key).second) << dialog << ": key " << g.key << " twice";
    }
    // Everything a user sets has a key; layout pieces have none.
    const bool settable = g.kind != GadgetKind::Group && g.kind != GadgetKind::Static &&
                          g.kind != GadgetKind::UserArea && g.id != IDC_OK && g.id != IDC_CANCEL;
    EXPECT_EQ(!g.key.empty(), settable) << dialog << ": gadget " << g.id;
    if (g.kind != GadgetKind::Group && g.kind != GadgetKind::UserArea) {
      EXPECT_FALSE(g.label.empty()) << dialog << ": gadget " << g.id << " has no label";
    }
  }
  for (const Expected& e : expected) {
    const auto it = byId.find(e.id);
    if (it == byId.end()) {
      ADD_FAILURE() << dialog << ": gadget " << e.id << " is missing";
      continue;
    }
    EXPECT_EQ(host::GadgetKindName(it->second->kind), std::string(host::GadgetKindName(e.kind)))
        << dialog << ": gadget " << e.id;
  }
  ASSERT_TRUE(byId.count(IDC_OK) && byId.count(IDC_CANCEL)) << dialog;
  EXPECT_EQ(byId[IDC_OK]->kind, GadgetKind::Button);
  EXPECT_EQ(byId[IDC_CANCEL]->kind, GadgetKind::Button);
}

std::vector<Expected> Of(GadgetKind kind, std::initializer_list<LONG> ids) {
  std::vector<Expected> out;
  for (const LONG id : ids) out.push_back({id, kind});
  return out;
}

std::vector<Expected> Join(std::initializer_list<std::vector<Expected>> parts) {
  std::vector<Expected> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<Expected> kPresetGadgets =
    Join({Of(GadgetKind::Popup, {10085}), Of(GadgetKind::Button, {10087, 10088, 10089, 10091, 10092})});

TEST_F(DialogTest, TheImportOptionsResourceHasEveryGadgetOfItsTable) {
  ExpectGadgets(10161, Join({kPresetGadgets, Of(GadgetKind::UserArea, {10162, 10164}),
                             Of(GadgetKind::Radio, {10260, 10261, 10170, 10171, 10165, 10166, 10226, 10227, 10228,
                                                    10229, 10230, 10235, 10236, 10239, 10240, 10241, 10242, 10244,
                                                    10245, 10246, 10194, 10195, 10196}),
                             Of(GadgetKind::Check, {10173, 10174, 10183, 10187, 10249, 10250, 10251, 10252, 10253,
                                                    10254, 10255, 10256, 10257, 10233, 10237, 10182, 10126, 10181,
                                                    10180, 10185, 10186, 10184, 10179, 10178, 10130, 10129, 10128,
                                                    10197, 10201, 10202, 10203, 10205, 10206, 10207, 10208, 10209,
                                                    10210, 10204, 10212, 10220}),
                             Of(GadgetKind::Integer, {10167, 10221, 10222, 10223}), Of(GadgetKind::Real, {10189}),
                             Of(GadgetKind::Popup, {10214, 10215}), Of(GadgetKind::Text, {10216}),
                             Of(GadgetKind::Button, {10217}),
                             Of(GadgetKind::Group, {10131, 10172, 10188, 10198, 10211, 10213, 10234, 10238, 10243})}));
  // The groups the enable rules switch hold what the rules mean.
  std::vector<host::GadgetInfo> gadgets;
  ASSERT_TRUE(host::DescribeDialogResource(10161, nullptr, &gadgets, nullptr));
  std::map<LONG, LONG> parent;
  for (const auto& g : gadgets) parent[g.id] = g.parent;
  EXPECT_EQ(parent[10185], 10131);
  EXPECT_EQ(parent[10186], 10131);
  EXPECT_EQ(parent[10189], 10188);
  EXPECT_EQ(parent[10214], 10213);
  EXPECT_EQ(parent[10217], 10213);
  EXPECT_EQ(parent[10173], 10172);
  std::map<LONG, std::pair<Real, Real>> limits;
  for (const auto& g : gadgets)
    if (g.hasLimits) limits[g.id] = {g.min, g.max};
  EXPECT_EQ(limits[10167], std::make_pair(1.0, 100000.0));
  EXPECT_EQ(limits[10189], std::make_pair(0.0, 180.0));
  EXPECT_EQ(limits[10221], std::make_pair(1.0, 16.0));
}

TEST_F(DialogTest, TheExportOptionsResourceHasEveryGadgetOfItsTable) {
  ExpectGadgets(10080, Join({kPresetGadgets, Of(GadgetKind::UserArea, {10081, 10083}),
                             Of(GadgetKind::Integer, {10097, 10146, 10147, 10148, 10149, 10153}),
                             Of(GadgetKind::Radio, {10095, 10096, 10102, 10103, 10104, 10106, 10108, 10109, 10110,
                                                    10136, 10137, 10138, 10139}),
                             Of(GadgetKind::Check, {10101, 10105, 10114, 10142, 10154, 10116, 10118, 10119, 10125,
                                                    10126, 10124, 10123, 10115, 10132, 10133, 10117, 10121, 10122,
                                                    10130, 10129, 10128}),
                             Of(GadgetKind::Popup, {10144, 10151})}));
  // Enabled and disabled only: groups or labels.
  std::vector<host::GadgetInfo> gadgets;
  ASSERT_TRUE(host::DescribeDialogResource(10080, nullptr, &gadgets, nullptr));
  for (const LONG id : {10107, 10111, 10120, 10134, 10140, 10143, 10145, 10152}) {
    const auto it = std::find_if(gadgets.begin(), gadgets.end(), [id](const host::GadgetInfo& g) { return g.id == id; });
    ASSERT_NE(it, gadgets.end()) << id;
    EXPECT_TRUE(it->kind == GadgetKind::Group || it->kind == GadgetKind::Static) << id;
  }
}

TEST_F(DialogTest, TheTagAndMddResourcesHaveTheirGadgets) {
  const auto tag = Join({Of(GadgetKind::Button, {10156, 10157}), Of(GadgetKind::ListView, {10158, 10159})});
  ExpectGadgets(10155, tag);
  ExpectGadgets(10160, tag);
  ExpectGadgets(10274, Join({Of(GadgetKind::UserArea, {10275}), Of(GadgetKind::Radio, {10276, 10277}),
                             Of(GadgetKind::Integer, {10278, 10279, 10280, 10281, 10282})}));
  ExpectGadgets(10262, Join({Of(GadgetKind::UserArea, {10263}), Of(GadgetKind::Radio, {10264, 10265, 10267, 10268,
                                                                                       10269, 10270}),
                             Of(GadgetKind::Integer, {10266, 10273}), Of(GadgetKind::Check, {10271, 10272})}));
}

TEST_F(DialogTest, EveryResourceOpensAsADialog) {
  for (const LONG id : {10161, 10080, 10155, 10160, 10274, 10262}) {
    ResourceDialog dlg(id);
    EXPECT_TRUE(dlg.Open()) << id << ": " << host::DialogResourceError();
  }
  EXPECT_TRUE(host::DialogErrors().empty());
  EXPECT_EQ(host::DialogLog().size(), 6u);
}

// Damaged copies of the shipped dialog resources: cut after every token, and
// with bytes changed at random. Each copy is refused with the file and line, or (for a
// change that keeps the file well-formed) loads and opens; none may crash or leak.
TEST_F(DialogTest, DamagedCopiesOfTheShippedResourcesAreRefusedCleanly) {
  const std::pair<const char*, LONG> dialogs[] = {
      {"DLG_OBJ_IMPORT_OPTIONS", 10161}, {"DLG_OBJ_EXPORT_OPTIONS", 10080}, {"DLG_GROUPTAG", 10155},
      {"DLG_REGIONTAG", 10160},          {"DLG_MDD_EXPORT_OPTIONS", 10274}, {"DLG_MDD_IMPORT_OPTIONS", 10262},
  };
  WriteFile("res/c4d_symbols.h", ReadFile(SourceDir() + "/res/c4d_symbols.h"));
  host::SetPluginFolder(TempDir());
  auto trimmed = [](std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    return text;
  };
  std::mt19937 random(20240611u);
  int refused = 0, loaded = 0;
  for (const auto& [symbol, id] : dialogs) {
    SCOPED_TRACE(symbol);
    const std::string original = ReadFile(SourceDir() + "/res/dialogs/" + symbol + ".res");
    ASSERT_FALSE(original.empty());
    const std::string file = std::string(symbol) + ".res:";
    auto load = [&](const std::string& text) {
      WriteFile(std::string("res/dialogs/") + symbol + ".res", text);
      std::string error;
      const bool ok = host::DescribeDialogResource(id, nullptr, nullptr, &error);
      if (!ok) {
        EXPECT_NE(error.find(file), std::string::npos) << error;
        ++refused;
      } else {
        ++loaded;
      }
      return ok;
    };
    // Cut after every token, and inside every quoted text.
    std::vector<size_t> cuts{0};
    for (size_t i = 0; i < original.size();) {
      const char c = original[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (c == '/' && i + 1 < original.size() && original[i + 1] == '/') {
        while (i < original.size() && original[i] != '\n') ++i;
      } else if (c == '"') {
        const size_t open = i++;
        while (i < original.size() && original[i] != '"') i += original[i] == '\\' ? 2 : 1;
        cuts.push_back((open + i) / 2 + 1);
        cuts.push_back(++i);
      } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') {
        while (i < original.size() && (std::isalnum(static_cast<unsigned char>(original[i])) || original[i] == '_' ||
                                       original[i] == '.' || original[i] == '-'))
          ++i;
        cuts.push_back(i);
      } else {
        cuts.push_back(++i);
      }
    }
    ASSERT_GT(cuts.size(), 50u);
    for (const size_t cut : cuts) {
      const std::string text = original.substr(0, std::min(cut, original.size()));
      const bool whole = trimmed(text) == trimmed(original);
      EXPECT_EQ(load(text), whole) << "cut after " << cut << " bytes";
    }
    // Random bytes at random places, one to four at a time.
    for (int round = 0; round < 80; ++round) {
      std::string text = original;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int c = 0; c < changes; ++c)
        text[random() % text.size()] = static_cast<char>(random() % 256);
      if (load(text)) {
        const size_t errors = host::DialogErrors().size();
        ResourceDialog dlg(id);
        const Bool opened = dlg.Open();
        EXPECT_TRUE(opened || host::DialogErrors().size() > errors) << "a refusal says why";
      }
    }
  }
  EXPECT_GT(refused, 1000);
  EXPECT_GT(loaded, 0) << "some changes land in texts and keep the file well-formed";
}

class BrokenResourceTest : public DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    WriteFile("res/c4d_symbols.h", "enum { DLG_T = 900, IDC_A = 901, IDC_B = 902, DLG_NOFILE = 903, _DUMMY_ELEMENT_ };\n");
    host::SetPluginFolder(TempDir());
  }
  // Writes the dialog file and returns the reason it was refused ("" when it loaded).
  std::string Refusal(const std::string& body) {
    WriteFile("res/dialogs/DLG_T.res", body);
    ResourceDialog dlg(900);
    const Bool opened = dlg.Open();
    return opened ? std::string() : host::DialogResourceError();
  }
};

TEST_F(BrokenResourceTest, BrokenResourcesAreRefusedWithAReason) {
  EXPECT_EQ(Refusal("DIALOG DLG_T { TITLE \"T\"; CHECK IDC_A { LABEL \"a\"; KEY \"a-b\"; } BUTTON 1 { LABEL \"OK\"; } }"),
            "");
  const std::map<std::string, std::string> cases = {
      {"DIALOG DLG_T { SLIDER IDC_A { } }", "'SLIDER' is no gadget kind or dialog property"},
      {"DIALOG DLG_T { CHECK IDC_A { } CHECK IDC_A { } }", "ID 901 is used twice (first on line 1)"},
      {"DIALOG DLG_T { GROUP IDC_A { CHECK IDC_B { } }", "the dialog is not closed"},
      {"DIALOG DLG_T {\n GROUP IDC_A {\n CHECK IDC_B { }\n", "GROUP 901 (line 2) is not closed"},
      {"DIALOG DLG_T { CHECK IDC_C { } }", "'IDC_C' is not declared in c4d_symbols.h"},
      {"DIALOG DLG_T { GROUP IDC_A { KEY \"g\"; } }", "a group takes no key"},
      {"DIALOG DLG_T { CHECK IDC_A { KEY \"Swap_YZ\"; } }", "is not lower-case words joined by dashes"},
      {"DIALOG DLG_T { CHECK IDC_A { KEY \"a\"; } CHECK IDC_B { KEY \"a\"; } }", "key 'a' is used twice"},
      {"DIALOG DLG_T { INTEGER IDC_A { MIN 5; MAX 1; } }", "MIN lies above MAX"},
      {"DIALOG DLG_T { INTEGER IDC_A { MIN 0.5; } }", "an integer field takes whole limits"},
      {"DIALOG DLG_T { CHECK IDC_A { COLUMNS 2; } }", "COLUMNS belongs to groups"},
      {"DIALOG DLG_T { CHECK IDC_A { CHECK IDC_B { } } }", "only groups hold gadgets"},
      {"DIALOG DLG_T { CHECK { } }", "CHECK needs an ID"},
      {"DIALOG DLG_T { CHECK IDC_A { COLOUR 3; } }", "'COLOUR' is no gadget kind or property"},
      {"DIALOG DLG_T { } extra", "unexpected 'extra' after the dialog"},
      {"DIALOG IDC_A { }", "the file holds dialog 901, not 900"},
      {"DIALOG DLG_T { TEXT IDC_A { LABEL \"open; } }", "text not closed on its line"},
      {"", "expected DIALOG"},
  };
  for (const auto& c : cases) {
    const std::string why = Refusal(c.first);
    EXPECT_NE(why.find(c.second), std::string::npos) << c.first << "\n  gave: " << why;
    EXPECT_NE(why.find("DLG_T.res:"), std::string::npos) << why;  // file and line
  }
  EXPECT_TRUE(host::DialogErrors().size() >= cases.size());
  EXPECT_TRUE(host::DialogLog().size() == 1u);

  // Groups nested without end must not exhaust the reader's stack.
  std::string deep = "DIALOG DLG_T {";
  for (int i = 0; i < 200000; ++i) deep += " GROUP {";
  EXPECT_NE(Refusal(deep).find("groups nested deeper than"), std::string::npos);
  std::string nested = "DIALOG DLG_T {";
  for (int i = 0; i < 20; ++i) nested += " GROUP {";
  nested += " CHECK IDC_A { }" + std::string(20, '}') + " }";
  EXPECT_EQ(Refusal(nested), "") << "a plausible depth loads";

  ResourceDialog missing(903);
  EXPECT_FALSE(missing.Open());
  EXPECT_NE(host::DialogResourceError().find("no dialog resource 903"), std::string::npos);
  ResourceDialog unknown(4242);
  EXPECT_FALSE(unknown.Open());
  EXPECT_NE(host::DialogResourceError().find("no dialog resource 4242"), std::string::npos);
  std::string error;
  EXPECT_FALSE(host::DescribeDialogResource(903, nullptr, nullptr, &error));
  EXPECT_FALSE(error.empty());
}

// --- choice sets, popup entries, strict dialogs ---------------------------------------

TEST_F(DialogTest, EveryRadioOfTheObjOptionsIsAChoiceOfASetNamedLikeNoKey) {
  for (const LONG dialog : {10161, 10080}) {
    std::vector<host::GadgetInfo> gadgets;
    ASSERT_TRUE(host::DescribeDialogResource(dialog, nullptr, &gadgets, nullptr));
    std::set<std::string> keys, sets;
    std::map<std::string, int> members;
    for (const auto& g : gadgets) {
      if (!g.key.empty()) keys.insert(g.key);
      if (g.kind == GadgetKind::Radio) {
        EXPECT_FALSE(g.choiceSet.empty() || g.choice.empty()) << dialog << ": radio " << g.key;
        EXPECT_FALSE(g.key.empty()) << "the radio keeps its own key";
        sets.insert(g.choiceSet);
        ++members[g.choiceSet];
      } else {
        EXPECT_TRUE(g.choiceSet.empty()) << dialog << ": " << g.key;
      }
    }
    for (const auto& set : sets) {
      EXPECT_EQ(keys.count(set), 0u) << dialog << ": set " << set;
      EXPECT_GE(members[set], 2) << dialog << ": set " << set << " has one choice";
    }
  }
  std::vector<host::GadgetInfo> gadgets;
  ASSERT_TRUE(host::DescribeDialogResource(10161, nullptr, &gadgets, nullptr));
  std::map<LONG, std::pair<std::string, std::string>> choiceOf;
  for (const auto& g : gadgets) choiceOf[g.id] = {g.choiceSet, g.choice};
  EXPECT_EQ(choiceOf[10226], std::make_pair(std::string("layout"), std::string("single-object")));
  EXPECT_EQ(choiceOf[10230], std::make_pair(std::string("layout"), std::string("per-material")));
  EXPECT_EQ(choiceOf[10196].first, choiceOf[10194].first) << "the three material radios share a set";
  EXPECT_NE(choiceOf[10196].first, choiceOf[10226].first);
}

TEST_F(DialogTest, SettingAChoiceSetClicksThatRadioAndAnUnknownChoiceListsTheSet) {
  Queue(DialogAction::Set("layout", "per-group"));
  Queue(DialogAction::Set("layout", "per-everything"));
  Queue(DialogAction::Set("materials", "reuse"));
  Queue(DialogAction::Set("layout-per-region", "on"));  // the radio's own key still works
  Queue(DialogAction::Ok());
  ResourceDialog dlg(DLG_OBJ_IMPORT_OPTIONS);
  ASSERT_TRUE(dlg.Open());
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{10228, 10196, 10229, IDC_OK}));
  Bool group = FALSE, reuse = FALSE;
  dlg.GetBool(10228, group);
  dlg.GetBool(10196, reuse);
  EXPECT_TRUE(group);
  EXPECT_TRUE(reuse);
  ASSERT_EQ(host::DialogErrors().size(), 1u);
  const std::string& error = host::DialogErrors()[0];
  EXPECT_NE(error.find("choice set 'layout' has no choice 'per-everything'"), std::string::npos) << error;
  EXPECT_NE(error.find("'single-object', 'per-object', 'per-group', 'per-region', 'per-material'"),
            std::string::npos)
      << error;
  const host::GadgetRecord* radio = host::DialogLog().back().Find(10228);
  ASSERT_NE(radio, nullptr);
  EXPECT_EQ(radio->choiceSet, "layout");
  EXPECT_EQ(radio->choice, "per-group");
  EXPECT_EQ(radio->value, "on");

  // A choice set is a name for Set only; a disabled radio is refused like any gadget.
  class Locked : public ResourceDialog {
   public:
    Locked() : ResourceDialog(DLG_OBJ_IMPORT_OPTIONS) {}
    Bool InitValues() override { return Enable(10228, FALSE); }
  };
  host::ClearUserLog();
  Queue(DialogAction::Tick("layout", true));
  Queue(DialogAction::Set("layout", "per-group"));
  Locked locked;
  ASSERT_TRUE(locked.Open());
  EXPECT_EQ(locked.commands, (std::vector<LONG>{IDC_OK}));
  ASSERT_EQ(host::DialogErrors().size(), 2u);
  EXPECT_NE(host::DialogErrors()[0].find("has no gadget 'layout'"), std::string::npos) << host::DialogErrors()[0];
  EXPECT_NE(host::DialogErrors()[1].find("radio 10228 (layout-per-group) is disabled"), std::string::npos)
      << host::DialogErrors()[1];
}

TEST_F(DialogTest, PopupRecordsListTheirEntriesAndRefusalsNameTheValidValues) {
  Queue(DialogAction::ChooseLabel("5006", "Square"));
  Queue(DialogAction::ChooseIndex("5006", 3));
  Queue(DialogAction::Set("5002", "maybe"));
  Queue(DialogAction::Set("5003", "many"));
  Queue(DialogAction::Set("5004", "steep"));
  TestDialog dlg;
  ASSERT_TRUE(dlg.Open());
  const auto& errors = host::DialogErrors();
  ASSERT_EQ(errors.size(), 5u);
  EXPECT_NE(errors[0].find("has no entry 'Square' (its entries: 'None', 'Circle', 'Area')"), std::string::npos)
      << errors[0];
  EXPECT_NE(errors[1].find("has no entry 3 (it has 3); its entries, counted from 0: 'None', 'Circle', 'Area'"), std::string::npos)
      << errors[1];
  EXPECT_NE(errors[2].find("takes on or off, not 'maybe' (yes/no, true/false and 1/0 also do)"), std::string::npos)
      << errors[2];
  EXPECT_NE(errors[3].find("takes a whole number, not 'many' (the field goes from 1 to 100)"), std::string::npos)
      << errors[3];
  EXPECT_NE(errors[4].find("takes a number, not 'steep' (the field goes from 0 to 180)"), std::string::npos)
      << errors[4];

  const host::DialogRecord& record = host::DialogLog().back();
  const host::GadgetRecord* popup = record.Find(ID_CHOICE);
  ASSERT_NE(popup, nullptr);
  ASSERT_GE(popup->parent, 0);
  EXPECT_EQ(record.gadgets[static_cast<size_t>(popup->parent)].id, ID_GROUP);
  const host::GadgetRecord* inner = record.Find(ID_INNER_CHECK);
  EXPECT_EQ(record.gadgets[static_cast<size_t>(inner->parent)].id, ID_INNER);
  EXPECT_EQ(record.Find(IDC_OK)->parent, -1);
  EXPECT_EQ(popup->entries, (std::vector<std::string>{"None", "Circle", "Area"}));
  EXPECT_EQ(popup->value, "Circle");
  EXPECT_TRUE(host::DialogLog().back().Find(ID_CHECK)->entries.empty());
}

TEST_F(DialogTest, AStrictDialogCancelsAtTheFirstRefusalAndDropsItsOtherActions) {
  host::SetStrictDialogs(true);
  Queue(DialogAction::Tick("5002", true));
  Queue(DialogAction::Integer("scale", 42).For("MDD Point Cache Export"));  // another dialog's
  Queue(DialogAction::Tick("5008", true));  // disabled: refused
  Queue(DialogAction::Integer("5003", 7));
  Queue(DialogAction::Ok());
  TestDialog dlg;
  EXPECT_FALSE(dlg.Open());
  EXPECT_EQ(dlg.commands, (std::vector<LONG>{ID_CHECK, IDC_CANCEL}));
  LONG count = 0;
  dlg.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 5);
  ASSERT_EQ(host::DialogErrors().size(), 1u);
  EXPECT_NE(host::DialogErrors()[0].find("check 5008 is disabled"), std::string::npos);
  EXPECT_FALSE(host::DialogLog().back().confirmed);

  // The dropped actions do not reach the next dialog; the other dialog's action waits.
  TestDialog next;
  EXPECT_TRUE(next.Open());
  EXPECT_EQ(next.commands, (std::vector<LONG>{IDC_OK}));
  Queue(DialogAction::Ok().For("MDD Point Cache Export"));
  ResourceDialog mdd(DLG_MDD_EXPORT_OPTIONS);
  ASSERT_TRUE(mdd.Open());
  EXPECT_EQ(mdd.commands, (std::vector<LONG>{IDC_MDDXP_SCALE, IDC_OK}));

  // Not strict: the same refusal is skipped and the play goes on.
  host::SetStrictDialogs(false);
  host::ClearUserLog();
  Queue(DialogAction::Tick("5008", true));
  Queue(DialogAction::Integer("5003", 7));
  TestDialog lenient;
  EXPECT_TRUE(lenient.Open());
  lenient.GetLong(ID_COUNT, count);
  EXPECT_EQ(count, 7);
  EXPECT_EQ(host::DialogErrors().size(), 1u);
}

TEST_F(BrokenResourceTest, ChoicesBelongToRadiosAndNameOneRadioEach) {
  const std::string ok = "DIALOG DLG_T { RADIO IDC_A { KEY \"a\"; CHOICE \"pick\" \"one\"; }"
                         " RADIO IDC_B { CHOICE \"pick\" \"two\"; } }";
  EXPECT_EQ(Refusal(ok), "");
  const std::map<std::string, std::string> cases = {
      {"DIALOG DLG_T { CHECK IDC_A { CHOICE \"s\" \"a\"; } }", "CHOICE belongs to radios"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"s\"; } }", "CHOICE takes a set name and a choice name"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE s a; } }", "CHOICE takes a set name and a choice name"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"s\" \"a\" } }", "expected ';'"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"s\" \"a\"; CHOICE \"t\" \"a\"; } }",
       "a radio belongs to one choice set"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"S\" \"a\"; } }", "choice set 'S' is not lower-case words"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"s\" \"a b\"; } }", "choice 'a b' is not lower-case words"},
      {"DIALOG DLG_T { RADIO IDC_A { CHOICE \"s\" \"a\"; } RADIO IDC_B { CHOICE \"s\" \"a\"; } }",
       "choice 'a' is used twice in set 's'"},
      {"DIALOG DLG_T { RADIO IDC_A { KEY \"s\"; } RADIO IDC_B { CHOICE \"s\" \"a\"; } }",
       "choice set 's' has the name of a gadget's key"},
      {"DIALOG DLG_T {\n RADIO IDC_B { CHOICE \"s\" \"a\"; }\n CHECK IDC_A { KEY \"s\"; } }",
       "DLG_T.res:2: choice set 's' has the name of a gadget's key"},
  };
  for (const auto& c : cases) {
    const std::string why = Refusal(c.first);
    EXPECT_NE(why.find(c.second), std::string::npos) << c.first << "\n  gave: " << why;
  }
}

}  // namespace
