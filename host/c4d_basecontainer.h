// GeData (one typed value) and BaseContainer (ID -> value entries, in insertion order),
// and the world plug-in settings containers that persist between runs.
#pragma once

#include <memory>
#include <vector>

#include "c4d_basetime.h"
#include "c4d_file.h"
#include "c4d_string.h"
#include "ge_types.h"

class BaseContainer;
class BaseDocument;
class BaseList2D;

// Value types.
enum : LONG {
  DA_NIL = 0,
  DA_LONG = 15,
  DA_REAL = 19,
  DA_TIME = 22,
  DA_VECTOR = 23,
  DA_MATRIX = 25,
  DA_LLONG = 26,
  DA_BYTEARRAY = 128,
  DA_STRING = 130,
  DA_FILENAME = 131,
  DA_CONTAINER = 133,
  DA_ALIASLINK = 134,
};

// Custom data types a GeData can hold besides the DA_* values.
enum : LONG {
  CUSTOMDATATYPE_BITMAPBUTTON = 1001053,
};

// The value of a bitmap button parameter: which node and parameter it belongs to.
struct BitmapButtonStruct {
  BitmapButtonStruct() = default;
  BitmapButtonStruct(BaseList2D* t_op, LONG t_id, LONG t_dirty) : op(t_op), id(t_id), dirty(t_dirty) {}
  BaseList2D* op = nullptr;
  LONG id = 0;
  LONG dirty = 0;
};

class GeData {
 public:
  GeData() = default;
  GeData(LONG v) : m_type(DA_LONG), m_long(v) {}     // NOLINT(google-explicit-constructor)
  GeData(Bool v) : m_type(DA_LONG), m_long(v ? 1 : 0) {}  // NOLINT(google-explicit-constructor)
  GeData(LLONG v) : m_type(DA_LLONG), m_llong(v) {}  // NOLINT(google-explicit-constructor)
  GeData(Real v) : m_type(DA_REAL), m_real(v) {}     // NOLINT(google-explicit-constructor)
  GeData(const Vector& v) : m_type(DA_VECTOR), m_vector(v) {}  // NOLINT(google-explicit-constructor)
  GeData(const Matrix& m) : m_type(DA_MATRIX), m_matrix(m) {}  // NOLINT(google-explicit-constructor)
  GeData(const String& s) : m_type(DA_STRING), m_string(s) {}  // NOLINT(google-explicit-constructor)
  GeData(const CHAR* s) : m_type(DA_STRING), m_string(s) {}    // NOLINT(google-explicit-constructor)
  GeData(const Filename& f) : m_type(DA_FILENAME), m_string(f.GetString()) {}  // NOLINT(google-explicit-constructor)
  GeData(const BaseTime& t) : m_type(DA_TIME), m_real(t.GetNumerator()), m_denominator(t.GetDenominator()) {}  // NOLINT
  GeData(const BaseContainer& bc);  // NOLINT(google-explicit-constructor)
  // A custom data value; type CUSTOMDATATYPE_BITMAPBUTTON.
  GeData(LONG type, const BitmapButtonStruct& bbs);
  GeData(const GeData& o);
  GeData& operator=(const GeData& o);
  ~GeData();

  LONG GetType() const { return m_type; }
  LONG GetLong() const;
  Bool GetBool() const { return GetLong() != 0; }
  LLONG GetLLong() const;
  Real GetReal() const;
  Vector GetVector() const { return m_type == DA_VECTOR ? m_vector : Vector(); }
  Matrix GetMatrix() const { return m_type == DA_MATRIX ? m_matrix : Matrix(); }
  String GetString() const { return (m_type == DA_STRING || m_type == DA_FILENAME) ? m_string : String(); }
  Filename GetFilename() const { return Filename(GetString()); }
  BaseTime GetTime() const { return m_type == DA_TIME ? BaseTime(m_real, m_denominator) : BaseTime(); }
  // A link to a node (a material, a layer, an object...). The link follows the node
  // while it exists and reads as null once it is freed.
  void SetBaseList2D(const BaseList2D* node);
  // The linked node when it still exists, lies in doc (any document when doc is null)
  // and is an instance of instanceof (any type when 0); else null.
  BaseList2D* GetLink(const BaseDocument* doc, LONG instanceof = 0) const;
  // Host-internal: the node number a link holds (0: none).
  LLONG GetLinkSerial() const { return m_type == DA_ALIASLINK ? m_llong : 0; }
  static GeData LinkSerial(LLONG serial);
  // The held container, or null when the value is not a container.
  BaseContainer* GetContainer() const { return m_container.get(); }
  // The held bitmap button value (an empty one for another type).
  BitmapButtonStruct GetBitmapButton() const;

  bool operator==(const GeData& o) const;
  bool operator!=(const GeData& o) const { return !(*this == o); }

 private:
  friend struct BaseContainerAccess;
  LONG m_type = DA_NIL;
  LONG m_long = 0;
  LLONG m_llong = 0;  // also the node number of a link
  Real m_real = 0.0;  // also the numerator of a time
  Real m_denominator = 1.0;
  Vector m_vector;
  Matrix m_matrix;
  String m_string;
  std::unique_ptr<BaseContainer> m_container;
};

class BaseContainer {
 public:
  explicit BaseContainer(LONG id = 0) : m_id(id) {}

  LONG GetId() const { return m_id; }
  void SetId(LONG id) { m_id = id; }

  // Typed getters return the default when the entry is missing or of another kind.
  LONG GetLong(LONG id, LONG preset = 0) const;
  Bool GetBool(LONG id, Bool preset = FALSE) const;
  LLONG GetLLong(LONG id, LLONG preset = 0) const;
  Real GetReal(LONG id, Real preset = 0.0) const;
  Vector GetVector(LONG id, const Vector& preset = Vector()) const;
  Matrix GetMatrix(LONG id, const Matrix& preset = Matrix()) const;
  String GetString(LONG id, const String& preset = String()) const;
  Filename GetFilename(LONG id, const Filename& preset = Filename()) const;
  BaseTime GetTime(LONG id, const BaseTime& preset = BaseTime()) const;
  // The linked node (see GeData::GetLink), or null.
  BaseList2D* GetLink(LONG id, const BaseDocument* doc, LONG instanceof = 0) const;
  // A copy of the sub-container (an empty one when missing).
  BaseContainer GetContainer(LONG id) const;
  // The sub-container in place, or null.
  BaseContainer* GetContainerInstance(LONG id);
  const BaseContainer* GetContainerInstance(LONG id) const;

  void SetLong(LONG id, LONG v) { SetData(id, GeData(v)); }
  void SetBool(LONG id, Bool v) { SetData(id, GeData(v)); }
  void SetLLong(LONG id, LLONG v) { SetData(id, GeData(v)); }
  void SetReal(LONG id, Real v) { SetData(id, GeData(v)); }
  void SetVector(LONG id, const Vector& v) { SetData(id, GeData(v)); }
  void SetMatrix(LONG id, const Matrix& v) { SetData(id, GeData(v)); }
  void SetString(LONG id, const String& v) { SetData(id, GeData(v)); }
  void SetFilename(LONG id, const Filename& v) { SetData(id, GeData(v)); }
  void SetTime(LONG id, const BaseTime& v) { SetData(id, GeData(v)); }
  // Links the node (null stores an empty link).
  void SetLink(LONG id, const BaseList2D* node);
  void SetContainer(LONG id, const BaseContainer& v) { SetData(id, GeData(v)); }

  // The entry's value, or null.
  const GeData* GetDataPointer(LONG id) const;
  GeData GetData(LONG id) const;
  // Replaces an existing entry in place or appends a new one.
  void SetData(LONG id, const GeData& value);
  Bool RemoveData(LONG id);
  void FlushAll() {
    m_entries.clear();
    m_ascending = true;
  }

  // Entry access by position: the ID at index i, or NOTOK (-1) past the end.
  LONG GetIndexId(LONG index) const;
  const GeData* GetIndexData(LONG index) const;
  LONG GetEntryCount() const { return static_cast<LONG>(m_entries.size()); }

  void CopyTo(BaseContainer* dst) const { if (dst) *dst = *this; }
  BaseContainer GetClone() const { return *this; }

  bool operator==(const BaseContainer& o) const { return m_id == o.m_id && m_entries == o.m_entries; }
  bool operator!=(const BaseContainer& o) const { return !(*this == o); }

 private:
  struct Entry {
    LONG id;
    GeData value;
    bool operator==(const Entry& o) const { return id == o.id && value == o.value; }
  };
  const Entry* Find(LONG id) const;
  // Appends an entry of an ID not yet present.
  void Append(LONG id, GeData&& value);
  // The host's decoder appends entries without the look-up SetData does.
  friend struct BaseContainerAccess;
  LONG m_id;
  std::vector<Entry> m_entries;
  // The entries are in ascending ID order, as they are when they were set in that order:
  // look-ups then halve instead of walking every entry.
  bool m_ascending = true;
};

enum : LONG { NOTOK = -1 };

// World plug-in settings: one container per plug-in ID, kept in the host's settings
// file, which several host processes may share. Null when no container is stored under
// the ID.
BaseContainer* GetWorldPluginData(LONG id);
// Stores bc under the plug-in ID. add = TRUE merges its entries into a stored
// container; FALSE replaces the container whole. Outside an update (below) the settings
// file is read, changed and written at once, under the settings lock, so that changes
// of other processes to other containers are kept.
Bool SetWorldPluginData(LONG id, const BaseContainer& bc, Bool add = TRUE);
// An update of the shared settings that spans several calls: takes the settings lock
// (waiting while another process holds it) and reads the settings file anew, so that
// GetWorldPluginData returns what is stored now. Changes made until the matching End are
// written once, at the End, which releases the lock. Updates nest; only the outermost
// pair locks and writes. Begin is false when the lock could not be had (the update then
// works on the settings in memory); End is false when the settings could not be saved.
Bool BeginWorldPluginDataUpdate();
Bool EndWorldPluginDataUpdate();
