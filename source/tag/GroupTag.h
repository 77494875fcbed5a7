// The group and region tags: ordered lists of names of the object's polygon-selection
// tags that the OBJ export writes as groups or regions, edited in GroupTagDialog. The
// tags keep nothing of their own; the names live in the tag's data container, so
// copies, scene files and undo are the host's business.
#pragma once

#include "c4d.h"
#include "linknode.h"

// Data container of a group or region tag.
enum : LONG {
  GROUPTAG_COUNT = 1000,       // LONG: the number of names
  GROUPTAG_FIRST_NAME = 1001,  // String: names at 1001 ... 1000 + count, in list order
};

// Longest name compared and shown, in 8-bit characters (longer names are cut).
constexpr LONG kGroupTagMaxName = 255;

class GroupTag : public TagData {
 public:
  static NodeData* Alloc();
  Bool Init(GeListNode* node) override;
  // MSG_EDIT opens GroupTagDialog and answers whether it was confirmed.
  Bool Message(GeListNode* node, LONG type, void* data) override;
};

class RegionTag : public TagData {
 public:
  static NodeData* Alloc();
  Bool Init(GeListNode* node) override;
  Bool Message(GeListNode* node, LONG type, void* data) override;
};

// Moves selection names between the object's selections ("available") and the tag
// ("chosen"). Opening drops the tag's names that match no selection and writes the
// cleaned list back at once; OK writes the chosen list, Cancel leaves the cleaned one.
class GroupTagDialog : public GeModalDialog {
 public:
  // data: the tag's container, changed in place; dialogId: DLG_GROUPTAG or
  // DLG_REGIONTAG; op: the object the tag sits on. The dialog refuses to open unless op
  // is a polygon object.
  GroupTagDialog(BaseContainer* data, LONG dialogId, BaseObject* op);
  ~GroupTagDialog() override;

  Bool CreateLayout() override;
  Bool InitValues() override;
  Bool Command(LONG id, const BaseContainer& msg) override;

 private:
  // Fills available and chosen from the object's selection tags and the container;
  // false when memory is missing.
  Bool GatherNames();
  // chosen -> entries 1001 + i, surplus entries deleted, entry 1000 = count.
  void WriteChosen();
  Bool FillViews();
  Bool AddRow(SimpleListView& view, const CHAR* name);
  // Moves the highlighted rows of from (and their names) to the other side, in row order.
  void MoveHighlighted(SimpleListView& from, linkList& fromNames, SimpleListView& to, linkList& toNames);
  void UpdateButtons();

  BaseContainer* m_pData;
  LONG m_dialogId;
  BaseObject* m_pObject;
  linkList m_available;
  linkList m_chosen;
  SimpleListView m_availableView;
  SimpleListView m_chosenView;
  BaseSelect* m_pRowSelection = nullptr;  // shared by both views
  LONG m_nextRowId = 0;
};
