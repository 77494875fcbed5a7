// List views: rows of column values under IDs, in the order they were added, and the
// rows the user highlighted (kept by row ID, so they follow a row that moves).
#include <algorithm>
#include <new>

#include "c4d_basetag.h"
#include "c4d_gui.h"
#include "c4d_memory.h"
#include "dialog_internal.h"

struct SimpleListViewAccess {
  static SimpleListViewState* State(const SimpleListView* lv) { return lv ? lv->m_state : nullptr; }
};

namespace {

using Row = SimpleListViewState::Row;

const Row* FindRow(const SimpleListViewState* s, LONG id) {
  for (const Row& r : s->rows)
    if (r.id == id) return &r;
  return nullptr;
}

// The text a row shows first: its first text column, or its first text entry.
std::string RowText(const SimpleListViewState* s, const Row& row) {
  for (LONG i = 0; i < s->layout.GetEntryCount() && i < s->columns; ++i) {
    const GeData* type = s->layout.GetIndexData(i);
    if (type && type->GetLong() == LV_COLUMN_TEXT) return row.data.GetString(s->layout.GetIndexId(i)).Std();
  }
  for (LONG i = 0; i < row.data.GetEntryCount(); ++i) {
    const GeData* d = row.data.GetIndexData(i);
    if (d && d->GetType() == DA_STRING) return d->GetString().Std();
  }
  return std::to_string(row.id);
}

}  // namespace

namespace host::internal {

void DetachList(SimpleListView* list) {
  SimpleListViewState* s = SimpleListViewAccess::State(list);
  if (!s) return;
  s->dialog = nullptr;
  s->id = 0;
}

std::string ListRowsText(const SimpleListView* list) {
  const SimpleListViewState* s = SimpleListViewAccess::State(list);
  std::string text;
  if (!s) return text;
  for (const Row& row : s->rows) {
    if (!text.empty()) text += ", ";
    text += RowText(s, row);
  }
  return text;
}

bool HighlightListRows(SimpleListView* list, const DialogAction& action, std::string* why) {
  SimpleListViewState* s = SimpleListViewAccess::State(list);
  std::vector<LONG> chosen;
  for (const LONG pos : action.rows) {
    if (pos < 0 || static_cast<size_t>(pos) >= s->rows.size()) {
      *why = "has no row " + std::to_string(pos) + " (it has " + std::to_string(s->rows.size()) + ")";
      return false;
    }
    chosen.push_back(s->rows[static_cast<size_t>(pos)].id);
  }
  for (const std::string& label : action.labels) {
    const auto row = std::find_if(s->rows.begin(), s->rows.end(), [&](const Row& r) { return RowText(s, r) == label; });
    if (row == s->rows.end()) {
      *why = "has no row '" + label + "'";
      return false;
    }
    chosen.push_back(row->id);
  }
  s->selected.swap(chosen);
  return true;
}

}  // namespace host::internal

SimpleListView::~SimpleListView() {
  if (!m_state) return;
  if (m_state->dialog) {
    host::internal::Gadget* g = host::internal::FindGadget(m_state->dialog, m_state->id);
    if (g && g->list == this) g->list = nullptr;
  }
  gDelete(m_state);
}

Bool SimpleListView::EnsureState() {
  if (!m_state) m_state = gNew SimpleListViewState;
  return m_state != nullptr;
}

Bool SimpleListView::AttachListView(GeDialog* dlg, LONG id) {
  host::internal::Gadget* g = host::internal::FindGadget(dlg, id);
  if (!g || g->kind != host::GadgetKind::ListView || !EnsureState()) return FALSE;
  if (m_state->dialog && (m_state->dialog != dlg || m_state->id != id)) {
    host::internal::Gadget* old = host::internal::FindGadget(m_state->dialog, m_state->id);
    if (old && old->list == this) old->list = nullptr;
  }
  if (g->list && g->list != this) host::internal::DetachList(g->list);
  g->list = this;
  m_state->dialog = dlg;
  m_state->id = id;
  return TRUE;
}

Bool SimpleListView::SetLayout(LONG columns, const BaseContainer& layout) {
  if (columns < 0 || !EnsureState()) return FALSE;
  try {
    m_state->layout = layout;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  m_state->columns = std::min(columns, layout.GetEntryCount());
  return TRUE;
}

Bool SimpleListView::SetItem(LONG id, const BaseContainer& data) {
  if (!EnsureState()) return FALSE;
  try {
    for (Row& r : m_state->rows)
      if (r.id == id) {
        r.data = data;
        return TRUE;
      }
    m_state->rows.push_back(Row{id, data});
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

Bool SimpleListView::RemoveItem(LONG id) {
  if (!m_state) return FALSE;
  auto& rows = m_state->rows;
  const auto it = std::find_if(rows.begin(), rows.end(), [id](const Row& r) { return r.id == id; });
  if (it == rows.end()) return FALSE;
  rows.erase(it);
  return TRUE;
}

Bool SimpleListView::GetItem(LONG id, BaseContainer* data) const {
  if (!m_state) return FALSE;
  const Row* r = FindRow(m_state, id);
  if (!r) return FALSE;
  if (data) *data = r->data;
  return TRUE;
}

LONG SimpleListView::GetItemCount() const { return m_state ? static_cast<LONG>(m_state->rows.size()) : 0; }

Bool SimpleListView::GetItemLine(LONG num, LONG* id, BaseContainer* data) const {
  if (!m_state || num < 0 || static_cast<size_t>(num) >= m_state->rows.size()) return FALSE;
  const Row& r = m_state->rows[static_cast<size_t>(num)];
  if (id) *id = r.id;
  if (data) *data = r.data;
  return TRUE;
}

Bool SimpleListView::DataChanged() {
  if (!m_state) return TRUE;
  auto& sel = m_state->selected;
  sel.erase(std::remove_if(sel.begin(), sel.end(), [this](LONG id) { return !FindRow(m_state, id); }), sel.end());
  ++m_state->refreshes;
  return TRUE;
}

LONG SimpleListView::GetSelection(BaseSelect* selection) const {
  if (!selection) return -1;
  if (!selection->DeselectAll()) return -1;
  if (!m_state) return 0;
  for (const LONG id : m_state->selected)
    if (!selection->Select(id)) return -1;
  return selection->GetCount();
}

Bool SimpleListView::SetSelection(const BaseSelect* selection) {
  if (!selection || !EnsureState()) return FALSE;
  std::vector<LONG> chosen;
  try {
    for (const Row& r : m_state->rows)
      if (selection->IsSelected(r.id)) chosen.push_back(r.id);
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  m_state->selected.swap(chosen);
  return TRUE;
}
