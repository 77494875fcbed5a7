// Plug-in IDs under which the host knows Kelvane's commands, tags and objects. The
// world settings containers of the commands use the same IDs.
#pragma once

#include "c4d.h"

enum : LONG {
  ID_EXPORT_PLUGIN = 1022493,
  ID_IMPORT_PLUGIN = 1022494,
  ID_MDDMP_PLUGIN = 1025200,
  ID_MDDXP_PLUGIN = 1025201,
  ID_MDD_DEFORMER = 1028662,
  ID_GROUP_TAG = 1016210,
  ID_REGION_TAG = 1016229,
  ID_XPMASK_TAG = 1020082,
  ID_URL_PLUGIN = 1023091,
  ID_DOCS_PLUGIN = 1023090,
  ID_MENU_SEPARATOR_1 = 1022534,
  ID_MENU_SEPARATOR_2 = 1022536,
};
