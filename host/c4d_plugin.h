// Plug-in classes and registration: commands, tags and objects under fixed IDs.
#pragma once

#include "c4d_basecontainer.h"
#include "c4d_baselist.h"
#include "c4d_bitmap.h"
#include "c4d_string.h"
#include "ge_types.h"

class BaseDocument;
class GeListNode;
class BaseTag;
class BaseObject;
class BaseThread;

// Plug-in types.
enum : LONG {
  PLUGINTYPE_ANY = 0,
  PLUGINTYPE_COMMAND = 4,
  PLUGINTYPE_OBJECT = 5,
  PLUGINTYPE_TAG = 6,
};

// Registration info flags.
enum : LONG {
  OBJECT_MODIFIER = 1,
  TAG_VISIBLE = 1,
  PLUGINFLAG_HIDE = 0x20000000,
};

// Command state answers.
enum : LONG {
  CMD_ENABLED = 0x40000000,
  CMD_VALUE = 0x20000000,
};

// Base of every plug-in class the host creates or is handed. Plug-in objects live
// on the host allocator (gNew); the host destroys them with gDelete.
class BaseData {
 public:
  virtual ~BaseData() = default;
};

class CommandData : public BaseData {
 public:
  // Runs the command on the active document.
  virtual Bool Execute(BaseDocument* doc);
  // CMD_ENABLED when the command can run; 0 disables it.
  virtual LONG GetState(BaseDocument* doc);
  virtual Bool RestoreLayout(void* secret);
};

// Base of tag and object plug-ins: one instance per node.
class NodeData : public BaseData {
 public:
  // Sets the node's initial parameters; false refuses the node.
  virtual Bool Init(GeListNode* node);
  // The node is about to be freed.
  virtual void Free(GeListNode* node);
  virtual Bool Message(GeListNode* node, LONG type, void* data);
  // Parameter access before the host's own: set DESCFLAGS_GET_PARAM_GET /
  // DESCFLAGS_SET_PARAM_SET in flags when the parameter was handled here.
  virtual Bool GetDParameter(GeListNode* node, const DescID& id, GeData& t_data, DESCFLAGS_GET& flags);
  virtual Bool SetDParameter(GeListNode* node, const DescID& id, const GeData& t_data, DESCFLAGS_SET& flags);
  // Copies the plug-in's own state into dest when the node is copied.
  virtual Bool CopyTo(NodeData* dest, GeListNode* snode, GeListNode* dnode, LONG flags, AliasTrans* trn);
};

class TagData : public NodeData {};

class ObjectData : public NodeData {
 public:
  // A deformer (registered with OBJECT_MODIFIER) moves the points of op, a copy of the
  // point object it sits under, made for this call. op_mg is that object's global
  // matrix, mod_mg the deformer's. thread's TestBreak asks whether to stop. False
  // reports a failure (the host then runs no later deformer on op).
  virtual Bool ModifyObject(BaseObject* mod, BaseDocument* doc, BaseObject* op, const Matrix& op_mg,
                            const Matrix& mod_mg, Real lod, LONG flags, BaseThread* thread);
  // Called before every evaluation of the deformer op: mark op dirty
  // (op->SetDirty(DIRTYFLAGS_DATA)) when its result would change; otherwise the host
  // keeps the last result.
  virtual void CheckDirty(BaseObject* op, BaseDocument* doc);
  // The object's extent: centre *mp and half-size *rad.
  virtual void GetDimension(BaseObject* op, Vector* mp, Vector* rad);
};

// The data of MSG_DESCRIPTION_COMMAND: the button that was pressed.
struct DescriptionCommand {
  DescID id;
};
// The data of MSG_DESCRIPTION_GETBITMAP: the bitmap button asking, and the bitmap to
// fill (the host owns it).
struct DescriptionGetBitmap {
  DescID* id = nullptr;
  BaseBitmap* bmp = nullptr;
};

typedef NodeData* DataAllocator();

// A registered plug-in as the host keeps it.
class BasePlugin {
 public:
  LONG GetID() const { return m_id; }
  LONG GetPluginType() const { return m_type; }
  const String& GetName() const { return m_name; }
  const String& GetHelp() const { return m_help; }
  LONG GetInfo() const { return m_info; }
  const String& GetIconFile() const { return m_iconFile; }
  const String& GetDescription() const { return m_description; }
  LONG GetDiskLevel() const { return m_diskLevel; }
  CommandData* GetCommand() const { return m_command; }
  DataAllocator* GetAllocator() const { return m_allocator; }

 private:
  friend struct PluginRegistryAccess;
  LONG m_id = 0;
  LONG m_type = 0;
  String m_name, m_help, m_iconFile, m_description;
  LONG m_info = 0;
  LONG m_diskLevel = 0;
  CommandData* m_command = nullptr;
  DataAllocator* m_allocator = nullptr;
};

// Registers a command. The host takes the command object (created with gNew) and
// destroys it when the plug-in ends. False when the ID is taken or the arguments are
// unusable (the object is then destroyed too).
Bool RegisterCommandPlugin(LONG id, const String& name, LONG info, BaseBitmap* icon, const String& help,
                           CommandData* data);
Bool RegisterTagPlugin(LONG id, const String& name, LONG info, DataAllocator* allocator, const String& description,
                       BaseBitmap* icon, LONG disklevel);
Bool RegisterObjectPlugin(LONG id, const String& name, LONG info, DataAllocator* allocator,
                          const String& description, BaseBitmap* icon, LONG disklevel);

// The registered plug-in of that ID and type (PLUGINTYPE_ANY: of any type), or null.
BasePlugin* FindPlugin(LONG id, LONG type);

// Life-cycle actions of the module entry point and the messages it forwards.
enum : LONG {
  C4DPL_INIT_SYS = 1,
  C4DPL_MESSAGE = 2,
  C4DPL_INIT = 3,
  C4DPL_END = 4,
  C4DMSG_PRIORITY = 0,
  C4DPL_ENDACTIVITY = 1001,
};
// Version of this host interface; the module entry point refuses another.
enum : LONG { KELVANE_HOST_API_VERSION = 1 };
LONG GeHostApiVersion();

extern "C" {
typedef LONG C4dMainFunction(LONG action, void* p1, void* p2, void* p3);
}
