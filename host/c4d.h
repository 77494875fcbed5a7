// Everything a plug-in may call into: the host's interface in one include.
#pragma once

#include "c4d_basecontainer.h"
#include "c4d_basedocument.h"
#include "c4d_basematerial.h"
#include "c4d_baselist.h"
#include "c4d_baseobject.h"
#include "c4d_basetag.h"
#include "c4d_basetime.h"
#include "c4d_bitmap.h"
#include "c4d_file.h"
#include "c4d_general.h"
#include "c4d_gui.h"
#include "c4d_memory.h"
#include "c4d_plugin.h"
#include "c4d_string.h"
#include "ge_types.h"
