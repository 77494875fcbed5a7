// kelvane scene show --frame / --time and kelvane scene play: a scene evaluated as the
// host evaluates it for a view (tracks, generators, deformers), with the points the
// deformers leave, and the time each frame's evaluation takes.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "c4d.h"
#include "host_control.h"
#include "shell_commands.h"

namespace {

std::string Num(Real v) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.6g", std::fabs(v) < 5e-13 ? 0.0 : v);
  return text;
}

std::string Vec(const Vector& v) { return "(" + Num(v.x) + ", " + Num(v.y) + ", " + Num(v.z) + ")"; }

// The point objects of the tree, depth first.
void PointObjects(BaseObject* op, std::vector<BaseObject*>* out) {
  for (; op; op = op->GetNext()) {
    if (op->IsInstanceOf(Opoint)) out->push_back(op);
    PointObjects(op->GetDown(), out);
  }
}

// The points as the last evaluation left them: the deform cache's when deformers ran.
const PointObject* Evaluated(const BaseObject* op, bool* deformed) {
  const BaseObject* cache = op->GetDeformCache();
  *deformed = cache && cache->IsInstanceOf(Opoint);
  return static_cast<const PointObject*>(*deformed ? cache : op);
}

std::string Box(const PointObject* op) {
  const LONG n = op->GetPointCount();
  if (n <= 0) return "no points";
  const Vector* p = op->GetPointR();
  Vector lo = p[0], hi = p[0];
  for (LONG i = 1; i < n; ++i) {
    lo = Vector(std::fmin(lo.x, p[i].x), std::fmin(lo.y, p[i].y), std::fmin(lo.z, p[i].z));
    hi = Vector(std::fmax(hi.x, p[i].x), std::fmax(hi.y, p[i].y), std::fmax(hi.z, p[i].z));
  }
  return "box " + Vec(lo) + " to " + Vec(hi);
}

BaseDocument* Load(const std::string& file) {
  std::string error;
  BaseDocument* doc = host::LoadScene(file, &error);
  if (!doc) {
    ShellFail("cannot load scene '" + file + "': " + error);
    return nullptr;
  }
  InsertBaseDocument(doc);  // the host owns it from here on
  SetActiveDocument(doc);
  return doc;
}

// Evaluates doc at time; the milliseconds it took.
double EvaluateAt(BaseDocument* doc, const BaseTime& time) {
  const auto start = std::chrono::steady_clock::now();
  doc->SetTime(time);
  doc->ExecutePasses(nullptr, TRUE, TRUE, TRUE, 0);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunSceneShowAt(const ShellOptions& options, const SceneAtOptions& at) {
  const int shown = RunSceneShow(options, at.file);
  if (shown != 0) return shown;
  BaseDocument* doc = Load(at.file);
  if (!doc) return kExitFailure;
  const LONG fps = doc->GetFps() > 0 ? doc->GetFps() : 30;
  const BaseTime time = at.useTime ? BaseTime(at.seconds) : BaseTime(Real(at.frame), Real(fps));
  const double ms = EvaluateAt(doc, time);
  std::printf("Evaluated at %s s (frame %d at %d fps) in %.3f ms:\n", Num(time.Get()).c_str(),
              int(time.GetFrame(fps)), int(fps), ms);
  std::vector<BaseObject*> objects;
  PointObjects(doc->GetFirstObject(), &objects);
  if (objects.empty()) std::printf("  no point objects\n");
  for (BaseObject* op : objects) {
    bool deformed = false;
    const PointObject* points = Evaluated(op, &deformed);
    std::printf("  %s: %d points%s, %s\n", Quoted(op->GetName().Std()).c_str(), int(points->GetPointCount()),
                deformed ? " after its deformers" : "", Box(points).c_str());
    const LONG listed = points->GetPointCount() < at.points ? points->GetPointCount() : at.points;
    for (LONG i = 0; i < listed; ++i)
      std::printf("    point %d: %s\n", int(i), Vec(points->GetPointR()[i]).c_str());
  }
  return 0;
}

int RunScenePlay(const ShellOptions&, const ScenePlayOptions& play) {
  LONG first = 0, last = 0;
  {
    const size_t colon = play.frames.find(':');
    char* end = nullptr;
    bool ok = colon != std::string::npos;
    if (ok) {
      const long a = std::strtol(play.frames.c_str(), &end, 10);
      ok = end == play.frames.c_str() + colon && colon > 0;
      const long b = std::strtol(play.frames.c_str() + colon + 1, &end, 10);
      ok = ok && *end == 0 && end != play.frames.c_str() + colon + 1 && std::labs(a) < 10000000 && std::labs(b) < 10000000;
      first = LONG(a);
      last = LONG(b);
    }
    if (!ok) return ShellUsage("scene play: --frames takes START:END (whole numbers), not '" + play.frames + "'");
  }
  BaseDocument* doc = Load(play.file);
  if (!doc) return kExitFailure;
  const LONG fps = doc->GetFps() > 0 ? doc->GetFps() : 30;
  std::vector<BaseObject*> objects;
  PointObjects(doc->GetFirstObject(), &objects);
  const LONG step = first <= last ? 1 : -1;
  double total = 0.0;
  LONG count = 0;
  for (LONG f = first;; f += step) {
    const double ms = EvaluateAt(doc, BaseTime(Real(f), Real(fps)));
    total += ms;
    ++count;
    std::string line = "frame " + std::to_string(f) + ": " + Num(ms) + " ms";
    for (BaseObject* op : objects) {
      bool deformed = false;
      const PointObject* points = Evaluated(op, &deformed);
      if (!deformed) continue;
      line += ", " + Quoted(op->GetName().Std()) + " " + Box(points);
      break;
    }
    std::printf("%s\n", line.c_str());
    if (f == last) break;
  }
  std::printf("Played %d frames in %s ms: %s ms a frame, %s frames a second\n", int(count), Num(total).c_str(),
              Num(total / count).c_str(), Num(total > 0.0 ? 1000.0 * count / total : 0.0).c_str());
  return 0;
}
