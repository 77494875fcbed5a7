#include "GroupTag.h"

#include "c4d_symbols.h"
#include "compat.h"
#include "main.h"
#include "plugin_ids.h"
#include "registration.h"

namespace {

// The one text column of both list views.
constexpr LONG kNameColumn = 0x6e616d65;  // 'name'

Bool InitNameTag(GeListNode* node) {
  static_cast<BaseTag*>(node)->GetDataInstance()->SetLong(GROUPTAG_COUNT, 0);
  return TRUE;
}

Bool EditNameTag(GeListNode* node, LONG dialogId) {
  BaseTag* tag = static_cast<BaseTag*>(node);
  BaseObject* op = tag->GetObject();
  if (!op || !op->IsInstanceOf(Opolygon)) return FALSE;
  GroupTagDialog dlg(tag->GetDataInstance(), dialogId, op);
  return dlg.Open();
}

void ClearView(SimpleListView& view) {
  LONG rowId = 0;
  while (view.GetItemLine(0, &rowId, nullptr)) view.RemoveItem(rowId);
}

}  // namespace

// --- the tags ------------------------------------------------------------------------

NodeData* GroupTag::Alloc() { return gNew GroupTag; }

Bool GroupTag::Init(GeListNode* node) { return InitNameTag(node); }

Bool GroupTag::Message(GeListNode* node, LONG type, void* data) {
  if (type == MSG_EDIT) return EditNameTag(node, DLG_GROUPTAG);
  return TagData::Message(node, type, data);
}

NodeData* RegionTag::Alloc() { return gNew RegionTag; }

Bool RegionTag::Init(GeListNode* node) { return InitNameTag(node); }

Bool RegionTag::Message(GeListNode* node, LONG type, void* data) {
  if (type == MSG_EDIT) return EditNameTag(node, DLG_REGIONTAG);
  return TagData::Message(node, type, data);
}

// --- the dialog ----------------------------------------------------------------------

GroupTagDialog::GroupTagDialog(BaseContainer* data, LONG dialogId, BaseObject* op)
    : m_pData(data), m_dialogId(dialogId), m_pObject(op) {}

GroupTagDialog::~GroupTagDialog() {
  m_available.FreeAll();
  m_chosen.FreeAll();
  BaseSelect::Free(m_pRowSelection);
}

Bool GroupTagDialog::CreateLayout() {
  if (!LoadDialogResource(m_dialogId, &resource, 0)) return FALSE;
  const String title = GeLoadString(m_dialogId == DLG_REGIONTAG ? IDS_REGIONTAG_DIALOG_TITLE : IDS_GROUPTAG_DIALOG_TITLE);
  if (title.Content()) SetTitle(title);
  if (!m_pRowSelection) m_pRowSelection = BaseSelect::Alloc();
  if (!m_pRowSelection) {
    ReportMemoryError("GroupTagDialog BaseSelect::Alloc()");
    return FALSE;
  }
  BaseContainer layout;
  layout.SetLong(kNameColumn, LV_COLUMN_TEXT);
  return m_availableView.AttachListView(this, IDC_GT_AVAILABLE) && m_chosenView.AttachListView(this, IDC_GT_CHOSEN) &&
         m_availableView.SetLayout(1, layout) && m_chosenView.SetLayout(1, layout);
}

Bool GroupTagDialog::InitValues() {
  if (!m_pData || !m_pObject || !m_pObject->IsInstanceOf(Opolygon)) return FALSE;
  m_available.FreeAll();
  m_chosen.FreeAll();
  // The container is rewritten only from complete lists: a half-gathered list would
  // drop names that are still valid.
  if (!GatherNames()) {
    m_available.FreeAll();
    m_chosen.FreeAll();
    ReportMemoryError("GroupTagDialog selection names");
    return FALSE;
  }
  WriteChosen();
  if (!FillViews()) {
    ReportMemoryError("GroupTagDialog list rows");
    return FALSE;
  }
  UpdateButtons();
  return TRUE;
}

Bool GroupTagDialog::GatherNames() {
  CHAR name[kGroupTagMaxName + 1];
  for (const BaseTag* tag = m_pObject->GetFirstTag(); tag; tag = tag->GetNext()) {
    if (tag->GetType() != Tpolygonselection) continue;
    tag->GetName().GetCString(name, sizeof(name));
    if (!m_available.AddUniqueString(name)) return FALSE;
  }
  // A count above the entries the container holds cannot be right; it is cut so that a
  // damaged count costs no long walk.
  LONG count = m_pData->GetLong(GROUPTAG_COUNT);
  if (count > m_pData->GetEntryCount()) count = m_pData->GetEntryCount();
  for (LONG i = 0; i < count; ++i) {
    const GeData* entry = m_pData->GetDataPointer(GROUPTAG_FIRST_NAME + i);
    if (!entry || entry->GetType() != DA_STRING) continue;
    entry->GetString().GetCString(name, sizeof(name));
    if (m_available.FindString(name) < 0) continue;  // no such selection (any more), or listed twice
    if (!m_chosen.AddUniqueString(name)) return FALSE;
    m_available.RemoveString(name);
  }
  return TRUE;
}

void GroupTagDialog::WriteChosen() {
  const LLONG before = m_pData->GetLong(GROUPTAG_COUNT);
  const LONG count = m_chosen.Count();
  LONG i = 0;
  for (const linkNode* node = m_chosen.First(); node; node = node->Next(), ++i)
    m_pData->SetString(GROUPTAG_FIRST_NAME + i, String(static_cast<const CHAR*>(node->Data())));
  // Entries 1001 + count ... 1000 + before go, found by walking the container rather than
  // the range, which a damaged count could make huge.
  for (LONG index = m_pData->GetEntryCount() - 1; index >= 0; --index) {
    const LLONG id = m_pData->GetIndexId(index);
    if (id >= GROUPTAG_FIRST_NAME + count && id <= GROUPTAG_COUNT + before) m_pData->RemoveData(static_cast<LONG>(id));
  }
  m_pData->SetLong(GROUPTAG_COUNT, count);
}

Bool GroupTagDialog::AddRow(SimpleListView& view, const CHAR* name) {
  BaseContainer row;
  row.SetString(kNameColumn, String(name));
  return view.SetItem(m_nextRowId++, row);
}

Bool GroupTagDialog::FillViews() {
  ClearView(m_chosenView);
  ClearView(m_availableView);
  for (const linkNode* node = m_chosen.First(); node; node = node->Next())
    if (!AddRow(m_chosenView, static_cast<const CHAR*>(node->Data()))) return FALSE;
  for (const linkNode* node = m_available.First(); node; node = node->Next())
    if (!AddRow(m_availableView, static_cast<const CHAR*>(node->Data()))) return FALSE;
  return m_chosenView.DataChanged() && m_availableView.DataChanged();
}

void GroupTagDialog::MoveHighlighted(SimpleListView& from, linkList& fromNames, SimpleListView& to,
                                     linkList& toNames) {
  if (from.GetSelection(m_pRowSelection) < 0) {
    ReportMemoryError("GroupTagDialog GetSelection()");
    return;
  }
  CHAR name[kGroupTagMaxName + 1];
  for (LONG line = 0;;) {
    LONG rowId = 0;
    BaseContainer row;
    if (!from.GetItemLine(line, &rowId, &row)) break;
    row.GetString(kNameColumn).GetCString(name, sizeof(name));
    if (!m_pRowSelection->IsSelected(rowId) || fromNames.FindString(name) < 0) {
      ++line;
      continue;
    }
    if (!toNames.AddUniqueString(name)) {
      ReportMemoryError("GroupTagDialog AddUniqueString()");
      break;
    }
    if (!to.SetItem(rowId, row)) {
      toNames.RemoveString(name);
      ReportMemoryError("GroupTagDialog SetItem()");
      break;
    }
    fromNames.RemoveString(name);
    from.RemoveItem(rowId);
  }
  from.DataChanged();
  to.DataChanged();
}

void GroupTagDialog::UpdateButtons() {
  Enable(IDC_GT_ADD, m_pRowSelection && m_availableView.GetSelection(m_pRowSelection) > 0);
  Enable(IDC_GT_REMOVE, m_pRowSelection && m_chosenView.GetSelection(m_pRowSelection) > 0);
}

Bool GroupTagDialog::Command(LONG id, const BaseContainer& msg) {
  switch (id) {
    case IDC_GT_ADD:
      MoveHighlighted(m_availableView, m_available, m_chosenView, m_chosen);
      break;
    case IDC_GT_REMOVE:
      MoveHighlighted(m_chosenView, m_chosen, m_availableView, m_available);
      break;
    case IDC_OK:
      WriteChosen();
      break;
    default:
      break;
  }
  UpdateButtons();
  return GeModalDialog::Command(id, msg);
}

// --- registration ----------------------------------------------------------------------

Bool RegisterGroupTag() {
  return RegisterTagFromResource(ID_GROUP_TAG, IDS_GROUPTAG_NAME, GroupTag::Alloc, "", "GroupTag.tif");
}

Bool RegisterRegionTag() {
  return RegisterTagFromResource(ID_REGION_TAG, IDS_REGIONTAG_NAME, RegionTag::Alloc, "", "RegionTag.tif");
}

// Nothing is kept between dialogs: the end hooks have nothing to release.
void FreeGroupTag() {}
void FreeRegionTag() {}
