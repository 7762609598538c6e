#pragma once
// The core script library: colour and polygon functions, the "reflection", "module", "sdl" and
// "platform" namespaces, and the classes Stream, TextReader, Matrix4x4, Vec2 and Vec3, registered into
// a scripting object's "global" namespace.
//
// Errors: natives follow the native-state regime (Native.h): a refusal stores its text as the last error
// text and gives false; nothing throws. Locking: none; the game's main thread only.
#include <cstdint>

#include <engine/VexilMath.h>

namespace Vexil3D {

class CScripting;

// inPoly refuses polygons of more points than this ("Too many points").
constexpr std::uint32_t kMaxPolygonPoints = 128;

// Registers every entry of the library, in its fixed order, into the scripting object's "global"
// namespace. Done once, by the scripting object's constructor. The values sdl.ticks and platform.ticks
// are 64-bit integers (the tick counter as GetTicks keeps it): a 32-bit script integer would turn
// negative after 24.8 days of uptime and wrap after 49.7.
void RegisterCoreLibrary(CScripting* scripting);

// The even-odd test of inPoly: the point lies inside when an odd number of edges (the last point joins
// the first) lie at or above it along its column. No points: outside.
bool PointInPolygon(const CVector2D& point, const CVector2D* points, std::uint32_t count);

}  // namespace Vexil3D
