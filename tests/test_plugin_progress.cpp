// The export's progress window: counter title, label, the bar drawn from its picture
// between two caps, and Escape as the only way to stop the export from it.
#include "c4d.h"
#include "c4d_symbols.h"
#include "host_fixture.h"
#include "pixels.h"
#include "progress.h"

extern GeResource resource;
Bool PluginMessage(LONG id, void* data);
void PluginEnd();

namespace {

class ProgressTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    ASSERT_TRUE(PluginMessage(C4DPL_INIT_SYS, nullptr));
    BaseBitmap* picture = BaseBitmap::Alloc();
    ASSERT_EQ(picture->Init(GeGetPluginPath() + Filename("res") + Filename("progbar.tif")), IMAGERESULT_OK);
    m_cap = (picture->GetBw() - 16) / 2;
    BaseBitmap::Free(picture);
  }
  void TearDown() override {
    resource.Free();
    HostTest::TearDown();
  }

  // The columns of row y that differ from the background: the drawn part of the bar.
  static LONG DrawnWidth(const BaseBitmap* screen, LONG y) {
    LONG last = -1;
    for (LONG x = 0; x < screen->GetBw(); ++x)
      if (!(PixelAt(screen, x, y) == kDialogBackground)) last = x;
    return last + 1;
  }

  LONG m_cap = 0;
};

TEST_F(ProgressTest, TheCounterTitleAndTheBarFollowTheFilesDone) {
  Bool cancelled = FALSE;
  ProgBarDialog dialog;
  dialog.SetOwner(&cancelled, "progbar.tif");
  ASSERT_TRUE(dialog.Open(DLG_TYPE_ASYNC, 1022493));
  dialog.SetTotal(10);
  dialog.SetCurrent(3);
  String title;
  ASSERT_TRUE(dialog.GetString(IDC_PROGRESS_GROUP, title));
  EXPECT_EQ(title.Std(), GeLoadString(IDS_PROGRESS_FILES).Std() + ": (3/10)");

  const BaseBitmap* screen = host::UserAreaBitmap(&dialog.Bar());
  ASSERT_NE(screen, nullptr);
  const LONG width = dialog.Bar().GetWidth();
  const LONG l = LONG(0.3 * Real(width - 2 * m_cap));
  EXPECT_EQ(dialog.Bar().FillWidth(width), l);
  const LONG middle = dialog.Bar().GetHeight() / 2;
  EXPECT_EQ(DrawnWidth(screen, middle), 2 * m_cap + l);  // right of the right cap: background

  struct Case {
    LONG total, current;
  };
  for (const Case c : {Case{10, 0}, Case{0, 4}}) {  // nothing done, and no total: caps only
    SCOPED_TRACE(c.total);
    dialog.SetTotal(c.total);
    dialog.SetCurrent(c.current);
    EXPECT_EQ(dialog.Bar().FillWidth(width), 0);
    EXPECT_EQ(DrawnWidth(screen, middle), 2 * m_cap);
  }
  dialog.SetTotal(4);
  dialog.SetCurrent(4);
  EXPECT_EQ(DrawnWidth(screen, middle), width);
  EXPECT_FALSE(cancelled);
  EXPECT_TRUE(dialog.Close());
}

TEST_F(ProgressTest, EscapeWhileALabelIsShownCancelsClosingDoesNot) {
  Bool cancelled = FALSE;
  ProgBarDialog dialog;
  dialog.SetOwner(&cancelled, "progbar.tif");
  ASSERT_TRUE(dialog.Open(DLG_TYPE_ASYNC, 1022493));
  dialog.SetLabel(String("a.obj"));
  EXPECT_FALSE(cancelled);
  String label;
  ASSERT_TRUE(dialog.GetString(IDC_PROGRESS_LABEL, label));
  EXPECT_EQ(label.Std(), "a.obj");

  host::QueueKey(KEY_ENTER);  // another key does nothing
  dialog.SetLabel(String("b.obj"));
  EXPECT_FALSE(cancelled);
  host::QueueKey(KEY_ESC);
  dialog.SetLabel(String("c.obj"));
  EXPECT_TRUE(cancelled);

  // The cancel command closes the window and nothing more; a closed window reads no keys.
  cancelled = FALSE;
  BaseContainer msg(BFM_ACTION);
  EXPECT_TRUE(dialog.Command(IDC_CANCEL, msg));
  EXPECT_FALSE(dialog.IsOpen());
  EXPECT_FALSE(cancelled);
  host::QueueKey(KEY_ESC);
  dialog.SetLabel(String("d.obj"));
  EXPECT_FALSE(cancelled);
}

TEST_F(ProgressTest, AMissingPictureLeavesTheBarBlank) {
  Bool cancelled = FALSE;
  ProgBarDialog dialog;
  dialog.SetOwner(&cancelled, "no-such-picture.tif");
  ASSERT_TRUE(dialog.Open(DLG_TYPE_ASYNC, 1022493));
  dialog.SetTotal(2);
  dialog.SetCurrent(1);
  const BaseBitmap* screen = host::UserAreaBitmap(&dialog.Bar());
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(DrawnWidth(screen, dialog.Bar().GetHeight() / 2), 0);
  LONG w = 0, h = 0;
  ProgBar bar;
  EXPECT_TRUE(bar.GetMinSize(w, h));
  EXPECT_EQ(w, 214);
  EXPECT_EQ(h, 12);
  EXPECT_TRUE(dialog.Close());
}

}  // namespace
