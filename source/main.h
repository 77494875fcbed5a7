// Registration functions of every plug-in module and their end hooks; PluginStart
// calls the registrations in menu order, PluginEnd the end hooks.
#pragma once

#include "c4d.h"

struct OptionsDialogRequest;

Bool RegisterExportPlugin();
Bool RegisterImportPlugin();
Bool RegisterMddMpPlugin();
Bool RegisterMddDeformer();
Bool RegisterMddXpPlugin();
Bool RegisterGroupTag();
Bool RegisterRegionTag();
Bool RegisterXPMaskTag();
Bool RegisterURLPlugin();
Bool RegisterDocsPlugin();

void FreeRegionTag();
void FreeGroupTag();
void FreeImportPlugin();
void FreeExportPlugin();

// The shell's request to show one side's OBJ options dialog alone.
Bool ShowImportOptions(OptionsDialogRequest* request);
Bool ShowExportOptions(OptionsDialogRequest* request);

Bool PluginStart();
void PluginEnd();
Bool PluginMessage(LONG id, void* data);
