// kelvane tag: edits the group, region and export-mask tags of an object in a scene
// file as a person would in the application: group and region names through the
// plug-in's own dialog (opened as by double-clicking the tag), the mask's switch as in
// the attribute view.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "shell_commands.h"

namespace {

constexpr size_t kMaxName = 255;

struct FreeDoc {
  void operator()(BaseDocument* doc) const { BaseDocument::Free(doc); }
};
using DocPtr = std::unique_ptr<BaseDocument, FreeDoc>;

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

bool Contains(const std::vector<std::string>& list, const std::string& name) {
  return std::find(list.begin(), list.end(), name) != list.end();
}

// The object by name, with the scene loaded; prints why on failure.
BaseObject* FindObject(const TagCommandOptions& tag, DocPtr* doc) {
  std::string error;
  doc->reset(host::LoadScene(tag.scene, &error));
  if (!*doc) {
    ShellFail("cannot load scene '" + tag.scene + "': " + error);
    return nullptr;
  }
  BaseObject* op = (*doc)->SearchObject(String(tag.object));
  if (!op) ShellFail("scene '" + tag.scene + "' has no object named '" + tag.object + "'");
  return op;
}

// A new tag of the plug-in's type after the object's last tag.
BaseTag* AddTag(BaseObject* op, LONG type) {
  BaseTag* tag = BaseTag::Alloc(type);
  if (!tag) return nullptr;
  BaseTag* last = op->GetFirstTag();
  while (last && last->GetNext()) last = last->GetNext();
  op->InsertTag(tag, last);
  return tag;
}

std::string TagName(LONG type) {
  const BasePlugin* plugin = FindPlugin(type, PLUGINTYPE_TAG);
  return plugin ? plugin->GetName().Std() : "tag " + std::to_string(type);
}

// Without its plug-in a tag in a scene is a bare node that answers every message.
bool Registered(LONG type) {
  if (FindPlugin(type, PLUGINTYPE_TAG)) return true;
  ShellFail("the plug-in has not registered its tag " + std::to_string(type) + " (is its name missing from res/?)");
  return false;
}

std::string CannotMake(LONG type) { return "cannot make an " + TagName(type) + " tag: not enough memory"; }

// The dialog shows names cut to the plug-in's longest name.
std::string Cut(const std::string& name) { return name.substr(0, kMaxName); }

int Save(const BaseDocument* doc, const TagCommandOptions& tag) {
  const std::string path = tag.output.empty() ? tag.scene : tag.output;
  std::string error;
  if (!host::SaveScene(doc, path, &error)) return ShellFail("cannot save scene '" + path + "': " + error);
  return 0;
}

std::vector<std::string> SelectionNames(const BaseObject* op) {
  std::vector<std::string> names;
  for (const BaseTag* t = op->GetFirstTag(); t; t = t->GetNext())
    if (t->GetType() == Tpolygonselection && !Contains(names, t->GetName().Std())) names.push_back(t->GetName().Std());
  return names;
}

std::vector<std::string> TagNames(const BaseTag* tag) {
  std::vector<std::string> names;
  const BaseContainer* bc = tag->GetDataInstance();
  const LONG count = std::min(bc->GetLong(kTagNameCount), bc->GetEntryCount());
  for (LONG i = 0; i < count; ++i) names.push_back(bc->GetString(kTagFirstName + i).Std());
  return names;
}

// group / region: the names are moved in the plug-in's dialog by the scripted user.
int RunNameTag(const TagCommandOptions& options, LONG type, const char* dialog) {
  for (const auto& name : options.add)
    if (Contains(options.remove, name)) {
      std::fprintf(stderr, "kelvane: '%s' is both added and removed\n", name.c_str());
      return kExitUsage;
    }
  if (!Registered(type)) return kExitFailure;
  DocPtr doc;
  BaseObject* op = FindObject(options, &doc);
  if (!op) return kExitFailure;
  const std::string what = TagName(type);
  if (!op->IsInstanceOf(Opolygon))
    return ShellFail(Quoted(options.object) + " is a " + op->GetTypeName().Std() + " object, not a polygon object: " + what +
                " are chosen from a polygon object's selections");
  const std::vector<std::string> selections = SelectionNames(op);
  for (const auto* list : {&options.add, &options.remove})
    for (const auto& name : *list)
      if (!Contains(selections, name))
        return ShellFail("'" + name + "' is not a polygon selection of " + Quoted(options.object) +
                    (selections.empty() ? " (it has none)" : " (its selections: " + Join(selections) + ")"));

  BaseTag* tag = op->GetTag(type);
  if (!tag && options.add.empty()) {
    std::printf("%s has no %s tag\n", Quoted(options.object).c_str(), what.c_str());
    return 0;
  }
  if (!tag && !(tag = AddTag(op, type))) return ShellFail(CannotMake(type));

  // Names already on their side are left alone: the dialog has no row for them there.
  const std::vector<std::string> listed = TagNames(tag);
  std::vector<std::string> add, remove;
  for (const auto& name : options.add)
    if (!Contains(listed, Cut(name)) && !Contains(add, Cut(name))) add.push_back(Cut(name));
  for (const auto& name : options.remove)
    if (Contains(listed, Cut(name)) && !Contains(remove, Cut(name))) remove.push_back(Cut(name));

  using host::DialogAction;
  host::ClearUserLog();
  if (!add.empty()) {
    host::QueueDialogAction(DialogAction::HighlightLabels("available", add).For(dialog));
    host::QueueDialogAction(DialogAction::Click("move-to-tag").For(dialog));
  }
  if (!remove.empty()) {
    host::QueueDialogAction(DialogAction::HighlightLabels("chosen", remove).For(dialog));
    host::QueueDialogAction(DialogAction::Click("move-to-available").For(dialog));
  }
  host::QueueDialogAction(DialogAction::Ok().For(dialog));
  const bool confirmed = tag->Message(MSG_EDIT);
  if (!host::DialogErrors().empty()) {
    for (const auto& line : host::DialogErrors()) ShellFail(line);
    return kExitFailure;
  }
  if (!confirmed) return ShellFail("the " + what + " dialog did not confirm the change; the scene is left as it was");
  if (const int saved = Save(doc.get(), options)) return saved;
  const std::vector<std::string> names = TagNames(tag);
  std::printf("%s of %s: %s\n", what.c_str(), Quoted(options.object).c_str(),
              names.empty() ? "none" : Join(names).c_str());
  return 0;
}

// mask: made when missing (a new tag leaves out the object and its children); the
// children's switch is set as in the attribute view.
int RunMaskTag(const TagCommandOptions& options) {
  if (!Registered(kMaskTag)) return kExitFailure;
  DocPtr doc;
  BaseObject* op = FindObject(options, &doc);
  if (!op) return kExitFailure;
  const std::string what = TagName(kMaskTag);
  BaseTag* tag = op->GetTag(kMaskTag);
  if (options.removeTag) {
    if (!tag) {
      std::printf("%s has no %s tag\n", Quoted(options.object).c_str(), what.c_str());
      return 0;
    }
    op->KillTag(kMaskTag);
    if (const int saved = Save(doc.get(), options)) return saved;
    std::printf("Removed the %s tag of %s\n", what.c_str(), Quoted(options.object).c_str());
    return 0;
  }
  if (!tag && !(tag = AddTag(op, kMaskTag))) return ShellFail(CannotMake(kMaskTag));
  if (!options.children.empty()) {
    const Bool on = options.children == "on";
    if (!tag->SetParameter(DescID(DescLevel(kMaskChildren)), GeData(on), DESCFLAGS_SET_USERINTERACTION))
      return ShellFail("the " + what + " tag refused its children switch");
  }
  if (const int saved = Save(doc.get(), options)) return saved;
  std::printf("%s of %s: %s\n", what.c_str(), Quoted(options.object).c_str(),
              PluginTagParameters(tag, doc.get()).c_str());
  return 0;
}

}  // namespace

CLI::App* AddTagCommand(CLI::App& app, TagCommandOptions* options) {
  CLI::App* tag = app.add_subcommand("tag", "Edit the group, region and export-mask tags of an object");
  tag->require_subcommand(1);
  const struct {
    const char* kind;
    const char* help;
  } nameTags[] = {
      {"group", "Choose the polygon selections an object's OBJ Groups tag lists (written as OBJ groups)"},
      {"region", "Choose the polygon selections an object's OBJ Regions tag lists (written as OBJ regions)"},
  };
  auto common = [options](CLI::App* sub) {
    sub->add_option("SCENE", options->scene, "The scene file")->required();
    sub->add_option("OBJECT", options->object, "The object's name (the first of that name, depth first)")->required();
    sub->add_option("-o,--output", options->output, "Save to this file instead of SCENE");
  };
  for (const auto& entry : nameTags) {
    CLI::App* sub = tag->add_subcommand(entry.kind, entry.help);
    common(sub);
    sub->add_option("--add", options->add, "Move these selections into the tag (repeatable)");
    sub->add_option("--remove", options->remove, "Move these selections out of the tag (repeatable)");
    const std::string kind = entry.kind;
    sub->callback([options, kind] { options->kind = kind; });
  }
  CLI::App* mask = tag->add_subcommand("mask", "Keep an object (and its children) out of the OBJ export");
  common(mask);
  CLI::Option* children = mask->add_option("--children", options->children, "Leave the children out as well: on or off")
                              ->check(CLI::IsMember({"on", "off"}));
  mask->add_flag("--remove", options->removeTag, "Remove the object's export-mask tag")->excludes(children);
  mask->callback([options] { options->kind = "mask"; });
  return tag;
}

int RunTagCommand(const ShellOptions&, const TagCommandOptions& options) {
  if (options.kind == "group") return RunNameTag(options, kGroupTag, "DLG_GROUPTAG");
  if (options.kind == "region") return RunNameTag(options, kRegionTag, "DLG_REGIONTAG");
  return RunMaskTag(options);
}
