#include "registration.h"

Bool RegisterCommandFromResource(LONG id, LONG nameString, LONG helpString, const CHAR* iconFile,
                                 CommandData* (*allocate)()) {
  const String name = GeLoadString(nameString);
  if (!name.Content()) return TRUE;
  CommandData* command = allocate();
  if (!command) return FALSE;
  const String help = GeLoadString(helpString);
  return RegisterCommandPlugin(id, name, 0, AutoBitmap(iconFile), help, command);
}

Bool RegisterTagFromResource(LONG id, LONG nameString, DataAllocator* allocate, const CHAR* description,
                             const CHAR* iconFile) {
  const String name = GeLoadString(nameString);
  if (!name.Content() || FindPlugin(id, PLUGINTYPE_TAG)) return TRUE;
  return RegisterTagPlugin(id, name, TAG_VISIBLE, allocate, description, AutoBitmap(iconFile), 0);
}
