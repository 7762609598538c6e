#pragma once
// What the natives of Texture, AudioInstance and the game natives add to NativeHelpers.h: refusing a
// constructor called on an instance that is bound already, and the game's data by build column.
// Errors: Squirrel errors (sq_throwerror), returned as negative results. Locking: none; the game's main thread.
#include <cstdint>
#include <cstring>

#include <squirrel.h>

#include <hack/GameVersion.h>

#include "NativeHelpers.h"

namespace natives {

// A constructor must bind a fresh instance: one called again on a bound instance would do its work (open
// files, make game textures) only to be refused at the binding.
inline SQRESULT CheckUnbound(HSQUIRRELVM v) {
  if (sq_gettype(v, kThis) != OT_INSTANCE) return sq_throwerror(v, u"the object is not a class instance");
  SQUserPointer current = nullptr;
  sq_getinstanceup(v, kThis, &current, nullptr, SQFalse);
  if (current != nullptr) return sq_throwerror(v, kAlreadyBoundMessage);
  return SQ_OK;
}

// A game place by its four build columns (IV Editor, IV Release Patched, IV Demo Corvel, V Release Patched).
struct GamePlace {
  std::uint32_t a, b, c, d;
  std::uint32_t At(std::uint32_t size = 0) const { return TranslateGameAddress(size, a, b, c, d); }
};

// Values of the game's data; memcpy, since some of its globals lie at odd addresses.
template <typename T>
T ReadGame(const GamePlace& place) {
  T value;
  std::memcpy(&value, reinterpret_cast<const void*>(std::uintptr_t(place.At())), sizeof value);
  return value;
}
template <typename T>
void WriteGame(const GamePlace& place, const T& value) {
  std::memcpy(reinterpret_cast<void*>(std::uintptr_t(place.At())), &value, sizeof value);
}

}  // namespace natives
