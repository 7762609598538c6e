// The core script library's functions and namespaces, and the order in which everything registers.
#include <engine/CoreLibrary.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include <engine/Native.h>
#include <engine/OS.h>
#include <engine/Scripting.h>

#include "CoreLibraryClasses.h"

namespace Vexil3D {

namespace {

constexpr std::uint32_t kByteMask = 0xFF;
constexpr int kAlphaShift = 24;
constexpr int kRedShift = 16;
constexpr int kGreenShift = 8;
constexpr std::int32_t kOpaque = 255;
constexpr int kAlphaArgument = 3;
// An edge this close to vertical takes a steep slope instead of dividing by almost nothing.
constexpr double kVerticalTolerance = 0.000001;
constexpr double kSteepSlope = 4294967296.0;
constexpr char16_t kPlatformName[] = u"Windows";
constexpr std::uint32_t kPlatformNameLength = std::size(kPlatformName) - 1;

bool ToColour(CNativeState* state, int argumentCount, void*) {
  std::int32_t channels[] = {0, 0, 0, kOpaque};
  for (int i = 0; i < kAlphaArgument; ++i)
    if (!state->CheckNumber(i, &channels[i])) return false;
  if (argumentCount > kAlphaArgument && !state->CheckNumber(kAlphaArgument, &channels[kAlphaArgument])) return false;
  const auto channel = [&](int i) { return static_cast<std::uint32_t>(channels[i]) & kByteMask; };
  return state->ReturnUnsigned(channel(kAlphaArgument) << kAlphaShift | channel(0) << kRedShift |
                               channel(1) << kGreenShift | channel(2));
}

bool CollectAllGarbage(CNativeState* state, int, void* user) {
  static_cast<CScripting*>(user)->CollectGarbage();
  return state->ReturnBoolean(true);
}

bool InPoly(CNativeState* state, int argumentCount, void*) {
  CVector2D point;
  if (!state->CheckVector2D(0, &point)) return false;
  const std::uint32_t count = argumentCount > 1 ? static_cast<std::uint32_t>(argumentCount - 1) : 0;
  if (count > kMaxPolygonPoints) return state->Error(u"Too many points");
  CVector2D points[kMaxPolygonPoints];
  for (std::uint32_t i = 0; i < count; ++i)
    if (!state->CheckVector2D(static_cast<int>(i + 1), &points[i])) return false;
  return state->ReturnBoolean(PointInPolygon(point, points, count));
}

bool PlatformName(CNativeState* state, int, void*) { return state->ReturnString(kPlatformName, kPlatformNameLength); }
bool ModState(CNativeState* state, int, void*) {
  return state->ReturnInteger(static_cast<std::int32_t>(GetModState()));
}
bool Ticks(CNativeState* state, int, void*) { return state->ReturnLongInteger(static_cast<std::int64_t>(GetTicks())); }

// The object argument i of "clone", "move" and "tostring".
CBaseObject* ObjectArgument(CNativeState* state, int i) {
  CArgument* argument = state->GetArgument(i);
  CBaseObject* object = argument && argument->IsObject() ? argument->ToObject() : nullptr;
  if (!object) state->Error(u"Expected %s for argument %d", u"Object", i + 1);
  return object;
}

// Clone, move and toString leave their own failure text standing: only the result is ours.
bool Clone(CNativeState* state, int, void*) {
  CBaseObject* object = ObjectArgument(state, 0);
  if (!object) return false;
  CBaseObject* copy = ReflectedClass::Clone(object);
  return copy && CoreLibrary::ReturnNew(state, copy);
}

bool Move(CNativeState* state, int, void*) {
  CBaseObject* destination = ObjectArgument(state, 0);
  CBaseObject* source = destination ? ObjectArgument(state, 1) : nullptr;
  if (!source || !ReflectedClass::Move(destination, source)) return false;
  return state->ReturnBoolean(true);
}

bool ToString(CNativeState* state, int, void*) {
  CBaseObject* object = ObjectArgument(state, 0);
  std::uint32_t length = 0;
  std::unique_ptr<char16_t[]> text(object ? ReflectedClass::ToString(object, &length) : nullptr);
  return text && state->ReturnString(text.get(), length);
}

bool CreateFunction(CNativeState* state, int, void* user) {
  CFunction* function = state->CheckFunction(0);
  if (!function) return false;
  if (!function->GetReflectedClass()) function->SetReflectedClass(static_cast<ReflectedClass*>(user));
  return state->ReturnObject(function);
}

// Calls a function object with the remaining arguments; its first result becomes ours.
bool CallFunction(CNativeState* state, int argumentCount, void* user) {
  CBaseObject* object = nullptr;
  if (!state->CheckObject(static_cast<ReflectedClass*>(user), 0, false, &object)) return false;
  auto* function = dynamic_cast<CFunction*>(object);
  if (!function) return state->Error(u"Expected %s for argument %d", u"Function", 1);
  CArgumentArray arguments;
  for (int i = 1; i < argumentCount; ++i)
    if (CArgument* argument = state->GetArgument(i)) arguments.Append(argument);
  // The function object may go while it runs (its last holder could drop it): keep it.
  Strong<CFunction> keep(function);
  CNativeState inner(state->GetScripting(), state->GetResource(), &arguments);
  if (!function->Call(&inner, static_cast<int>(arguments.GetCount()))) return false;
  if (inner.GetResults().GetCount()) return state->GetResults().Append(inner.GetResults().Get(0));
  return true;
}

}  // namespace

bool PointInPolygon(const CVector2D& point, const CVector2D* points, std::uint32_t count) {
  const double px = point.x;
  const double py = point.y;
  std::uint32_t crossings = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CVector2D& a = points[i];
    const CVector2D& b = points[i + 1 == count ? 0 : i + 1];
    const double xi = a.x, yi = a.y, xj = b.x, yj = b.y;
    if (!(std::min(xi, xj) < px && px <= std::max(xi, xj))) continue;
    if (yi <= py && yj < py) continue;
    const double slope = std::fabs(xj - xi) < kVerticalTolerance ? kSteepSlope : (yj - yi) / (xj - xi);
    if (yi + (px - xi) * slope >= py) ++crossings;
  }
  return crossings % 2 == 1;
}

void RegisterCoreLibrary(CScripting* scripting) {
  CReflection& global = scripting->m_Global;
  CReflection* reflection = global.GetNamespace(u"reflection");
  // Kept empty here: native modules register into it.
  global.GetNamespace(u"module");
  if (!reflection) return;
  ReflectedClass* functionClass = reflection->RegisterClass(u"Function", nullptr);

  global.RegisterFunction(u"toColour", u"iii|i", &ToColour, nullptr);
  global.RegisterFunction(u"collectAllGarbage", u"", &CollectAllGarbage, scripting);
  global.RegisterFunction(u"inPoly", u"z*", &InPoly, nullptr);

  if (CReflection* sdl = global.GetNamespace(u"sdl")) {
    sdl->RegisterValue(u"platform", ARGUMENT_STRING, &PlatformName, nullptr);
    sdl->RegisterFunction(u"getModState", u"", &ModState, nullptr);
    sdl->RegisterValue(u"ticks", ARGUMENT_LONGINTEGER, &Ticks, nullptr);
  }
  if (CReflection* platform = global.GetNamespace(u"platform")) {
    platform->RegisterValue(u"name", ARGUMENT_STRING, &PlatformName, nullptr);
    platform->RegisterValue(u"modState", ARGUMENT_INTEGER, &ModState, nullptr);
    platform->RegisterValue(u"ticks", ARGUMENT_LONGINTEGER, &Ticks, nullptr);
  }

  reflection->RegisterFunction(u"clone", u"x", &Clone, nullptr);
  reflection->RegisterFunction(u"move", u"xx", &Move, nullptr);
  reflection->RegisterFunction(u"tostring", u"x", &ToString, nullptr);
  reflection->RegisterFunction(u"createFunction", u"c", &CreateFunction, functionClass);
  reflection->RegisterFunction(u"call", u"x", &CallFunction, functionClass);

  CoreLibrary::RegisterStreamClasses(&global);
  CoreLibrary::RegisterMathClasses(&global);
}

}  // namespace Vexil3D
