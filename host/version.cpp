#include "c4d_plugin.h"

LONG GeHostApiVersion() { return KELVANE_HOST_API_VERSION; }
