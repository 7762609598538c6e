// The blob class: a growable byte buffer with a read/write position, and the byte-order helpers.
// Every size, position and count coming from a script is checked before it touches memory.
#include <sqstdblob.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "registration.h"

namespace {

// Scripts come from servers: one blob may not take more than this, so a hostile size fails with
// a script error instead of exhausting the 32-bit address space.
constexpr int64_t kMaxBlobSize = 0x08000000;

const char kBlobTypeTag = 0;  // its address identifies blob instances
const SQChar kRegistryKey[] = u"sqstd.blob.class";

struct Blob {
  std::vector<unsigned char> bytes;
  SQInteger pos = 0;

  Blob() { bytes.reserve(1); }  // payload pointer never null, even when empty

  SQInteger Len() const { return SQInteger(bytes.size()); }

  bool Resize(int64_t size) {
    if (size < 0 || size > kMaxBlobSize) return false;
    try {
      bytes.resize(size_t(size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (pos > Len()) pos = Len();
    return true;
  }

  // resize(): sets the room reserved for the contents; only a smaller size changes the length.
  bool SetCapacity(int64_t size) {
    if (size < 0 || size > kMaxBlobSize) return false;
    if (size < Len()) return Resize(size);
    try {
      bytes.reserve(size_t(size));
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  bool Write(const void* src, SQInteger n) {
    int64_t end = int64_t(pos) + n;
    if (end > Len() && !Resize(end)) return false;
    if (n > 0) std::memcpy(bytes.data() + pos, src, size_t(n));
    pos = SQInteger(end);
    return true;
  }

  bool Read(void* dst, SQInteger n) {
    if (n < 0 || int64_t(pos) + n > Len()) return false;
    if (n > 0) std::memcpy(dst, bytes.data() + pos, size_t(n));
    pos += n;
    return true;
  }
};

SQInteger ReleaseBlob(SQUserPointer p, SQInteger) {
  delete static_cast<Blob*>(p);
  return 1;
}

Blob* BlobAt(HSQUIRRELVM v, SQInteger idx) {
  SQUserPointer p = nullptr;
  if (SQ_FAILED(sq_getinstanceup(v, idx, &p, const_cast<char*>(&kBlobTypeTag), SQFalse))) return nullptr;
  return static_cast<Blob*>(p);
}

// The blob behind `this`, or null after raising the script error.
Blob* Self(HSQUIRRELVM v) {
  Blob* b = BlobAt(v, 1);
  if (!b) sq_throwerror(v, u"invalid blob");
  return b;
}

SQRESULT SizeError(HSQUIRRELVM v, int64_t size) {
  if (size < 0) return sq_throwerror(v, u"negative blob size");
  if (size > kMaxBlobSize) return sq_throwerror(v, u"blob size exceeds the limit");
  return sq_throwerror(v, u"out of memory");
}

SQInteger BlobConstructor(HSQUIRRELVM v) {
  SQInteger size = 0;
  if (sq_gettop(v) >= 2) sq_getinteger(v, 2, &size);
  Blob* b = new Blob();
  if (size < 0) {
    delete b;
    return sq_throwerror(v, u"cannot create blob with negative size");
  }
  if (!b->Resize(size)) {
    delete b;
    return SizeError(v, size);
  }
  SQUserPointer old = nullptr;
  if (SQ_SUCCEEDED(sq_getinstanceup(v, 1, &old, nullptr, SQFalse)) && old) delete static_cast<Blob*>(old);
  sq_setinstanceup(v, 1, b);
  sq_setreleasehook(v, 1, ReleaseBlob);
  return 0;
}

SQInteger BlobEos(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  if (b->pos >= b->Len()) sq_pushinteger(v, 1);
  else sq_pushnull(v);
  return 1;
}

SQInteger BlobFlush(HSQUIRRELVM v) {
  if (!Self(v)) return SQ_ERROR;
  sq_pushinteger(v, 1);  // nothing is buffered: always succeeds
  return 1;
}

SQInteger BlobLen(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  sq_pushinteger(v, b->Len());
  return 1;
}

SQInteger BlobTell(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  sq_pushinteger(v, b->pos);
  return 1;
}

SQInteger BlobResize(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQInteger size = 0;
  sq_getinteger(v, 2, &size);
  if (!b->SetCapacity(size)) return SizeError(v, size);
  return 0;
}

SQInteger BlobSeek(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQInteger offset = 0, origin = 'b';
  sq_getinteger(v, 2, &offset);
  if (sq_gettop(v) >= 3) sq_getinteger(v, 3, &origin);
  int64_t base;
  switch (origin) {
    case 'b': base = 0; break;
    case 'c': base = b->pos; break;
    case 'e': base = b->Len(); break;
    default: return sq_throwerror(v, u"invalid origin");
  }
  int64_t target = base + offset;
  // Out of range leaves the position where it was and answers -1; success answers 0.
  bool inRange = target >= 0 && target <= b->Len();
  if (inRange) b->pos = SQInteger(target);
  sq_pushinteger(v, inRange ? 0 : -1);
  return 1;
}

SQInteger BlobReadBlob(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQInteger size = 0;
  sq_getinteger(v, 2, &size);
  if (size < 0) return sq_throwerror(v, u"invalid size");
  SQInteger available = b->Len() - b->pos;
  SQInteger n = size < available ? size : available;
  if (size > 0 && n == 0) return sq_throwerror(v, u"no data left to read");
  SQUserPointer dst = sqstd_createblob(v, n);
  if (!dst) return SQ_ERROR;
  b->Read(dst, n);
  return 1;
}

SQInteger BlobWriteBlob(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  Blob* src = BlobAt(v, 2);
  if (!src) return sq_throwerror(v, u"invalid blob");
  // Copy first: writing a blob into itself may move the bytes being read.
  std::vector<unsigned char> copy(src->bytes);
  if (!b->Write(copy.data(), SQInteger(copy.size()))) return SizeError(v, int64_t(b->pos) + SQInteger(copy.size()));
  return 0;
}

SQInteger BlobReadN(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQInteger type = 0;
  sq_getinteger(v, 2, &type);
  bool ok = true;
  switch (type) {
    case 'l':
    case 'i': {
      int32_t x = 0;
      ok = b->Read(&x, 4);
      sq_pushinteger(v, x);
      break;
    }
    case 's': {
      int16_t x = 0;
      ok = b->Read(&x, 2);
      sq_pushinteger(v, x);
      break;
    }
    case 'w': {
      uint16_t x = 0;
      ok = b->Read(&x, 2);
      sq_pushinteger(v, x);
      break;
    }
    case 'c': {
      int8_t x = 0;
      ok = b->Read(&x, 1);
      sq_pushinteger(v, x);
      break;
    }
    case 'b': {
      uint8_t x = 0;
      ok = b->Read(&x, 1);
      sq_pushinteger(v, x);
      break;
    }
    case 'f': {
      float x = 0;
      ok = b->Read(&x, 4);
      sq_pushfloat(v, x);
      break;
    }
    case 'd': {
      double x = 0;
      ok = b->Read(&x, 8);
      sq_pushfloat(v, SQFloat(x));
      break;
    }
    default: return sq_throwerror(v, u"invalid format");
  }
  if (!ok) {
    sq_poptop(v);
    return sq_throwerror(v, u"io error");
  }
  return 1;
}

SQInteger BlobWriteN(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQInteger type = 0, i = 0;
  SQFloat f = 0;
  sq_getinteger(v, 3, &type);
  sq_getinteger(v, 2, &i);
  sq_getfloat(v, 2, &f);
  bool ok;
  switch (type) {
    case 'l':
    case 'i': {
      int32_t x = i;
      ok = b->Write(&x, 4);
      break;
    }
    case 's':
    case 'w': {
      uint16_t x = uint16_t(uint32_t(i));
      ok = b->Write(&x, 2);
      break;
    }
    case 'c':
    case 'b': {
      uint8_t x = uint8_t(uint32_t(i));
      ok = b->Write(&x, 1);
      break;
    }
    case 'f': {
      float x = f;
      ok = b->Write(&x, 4);
      break;
    }
    case 'd': {
      double x = f;
      ok = b->Write(&x, 8);
      break;
    }
    default: return sq_throwerror(v, u"invalid format");
  }
  if (!ok) return sq_throwerror(v, u"blob size exceeds the limit");
  return 0;
}

template <size_t N>
void SwapUnits(Blob* b) {
  size_t units = b->bytes.size() / N;
  for (size_t u = 0; u < units; ++u) {
    unsigned char* p = b->bytes.data() + u * N;
    for (size_t k = 0; k < N / 2; ++k) std::swap(p[k], p[N - 1 - k]);
  }
}

SQInteger BlobSwap2(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SwapUnits<2>(b);
  return 0;
}

SQInteger BlobSwap4(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SwapUnits<4>(b);
  return 0;
}

// A key that is not a byte index is a missing slot (thrown null), so lookups fall through as usual.
SQInteger ThrowMissing(HSQUIRRELVM v) {
  sq_pushnull(v);
  return sq_throwobject(v);
}

SQInteger BlobGet(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  if (sq_gettype(v, 2) != OT_INTEGER) return ThrowMissing(v);
  SQInteger idx = 0;
  sq_getinteger(v, 2, &idx);
  if (idx < 0 || idx >= b->Len()) return sq_throwerror(v, u"index out of range");
  sq_pushinteger(v, b->bytes[size_t(idx)]);
  return 1;
}

SQInteger BlobSet(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  if (sq_gettype(v, 2) != OT_INTEGER) return ThrowMissing(v);
  SQInteger idx = 0, value = 0;
  sq_getinteger(v, 2, &idx);
  if (idx < 0 || idx >= b->Len()) return sq_throwerror(v, u"index out of range");
  if (!(sq_gettype(v, 3) & SQOBJECT_NUMERIC) || SQ_FAILED(sq_getinteger(v, 3, &value)))
    return sq_throwerror(v, u"a blob byte must be a number");
  b->bytes[size_t(idx)] = static_cast<unsigned char>(uint32_t(value));
  sq_push(v, 3);
  return 1;
}

SQInteger BlobNextI(HSQUIRRELVM v) {
  Blob* b = Self(v);
  if (!b) return SQ_ERROR;
  SQObjectType t = sq_gettype(v, 2);
  if (t == OT_NULL) {
    if (b->Len() > 0) sq_pushinteger(v, 0);
    else sq_pushnull(v);
    return 1;
  }
  if (t != OT_INTEGER) return sq_throwerror(v, u"internal error (_nexti) wrong argument type");
  SQInteger idx = 0;
  sq_getinteger(v, 2, &idx);
  if (idx >= 0 && idx + 1 < b->Len()) sq_pushinteger(v, idx + 1);
  else sq_pushnull(v);
  return 1;
}

SQInteger BlobTypeOf(HSQUIRRELVM v) {
  sq_pushstring(v, u"blob", -1);
  return 1;
}

SQInteger BlobCloned(HSQUIRRELVM v) {
  Blob* original = BlobAt(v, 2);
  if (!original) return sq_throwerror(v, u"invalid blob");
  Blob* copy = new Blob();
  try {
    copy->bytes = original->bytes;
  } catch (const std::bad_alloc&) {
    delete copy;
    return sq_throwerror(v, u"out of memory");
  }
  copy->pos = original->pos;
  sq_setinstanceup(v, 1, copy);
  sq_setreleasehook(v, 1, ReleaseBlob);
  return 0;
}

// ---- global helpers -----------------------------------------------------------------------------

SQInteger CastF2I(HSQUIRRELVM v) {
  SQFloat f = 0;
  sq_getfloat(v, 2, &f);
  SQInteger i;
  static_assert(sizeof(i) == sizeof(f));
  std::memcpy(&i, &f, sizeof(i));
  sq_pushinteger(v, i);
  return 1;
}

SQInteger CastI2F(HSQUIRRELVM v) {
  SQInteger i = 0;
  sq_getinteger(v, 2, &i);
  SQFloat f;
  std::memcpy(&f, &i, sizeof(f));
  sq_pushfloat(v, f);
  return 1;
}

SQInteger Swap2(HSQUIRRELVM v) {
  SQInteger i = 0;
  sq_getinteger(v, 2, &i);
  uint16_t u = uint16_t(uint32_t(i));
  u = uint16_t((u >> 8) | (u << 8));
  sq_pushinteger(v, int16_t(u));
  return 1;
}

SQInteger Swap4(HSQUIRRELVM v) {
  SQInteger i = 0;
  sq_getinteger(v, 2, &i);
  sq_pushinteger(v, SQInteger(__builtin_bswap32(uint32_t(i))));
  return 1;
}

SQInteger SwapFloat(HSQUIRRELVM v) {
  SQFloat f = 0;
  sq_getfloat(v, 2, &f);
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  bits = __builtin_bswap32(bits);
  std::memcpy(&f, &bits, 4);
  sq_pushfloat(v, f);
  return 1;
}

const SQRegFunction kBlobMethods[] = {
    {u"constructor", BlobConstructor, -1, u"xn"},
    {u"eos", BlobEos, 1, u"x"},
    {u"flush", BlobFlush, 1, u"x"},
    {u"len", BlobLen, 1, u"x"},
    {u"tell", BlobTell, 1, u"x"},
    {u"resize", BlobResize, 2, u"xn"},
    {u"seek", BlobSeek, -2, u"xnn"},
    {u"readblob", BlobReadBlob, 2, u"xn"},
    {u"writeblob", BlobWriteBlob, 2, u"xx"},
    {u"readn", BlobReadN, 2, u"xn"},
    {u"writen", BlobWriteN, 3, u"xnn"},
    {u"swap2", BlobSwap2, 1, u"x"},
    {u"swap4", BlobSwap4, 1, u"x"},
    {u"_get", BlobGet, 2, u"x."},
    {u"_set", BlobSet, 3, u"x.."},
    {u"_nexti", BlobNextI, 2, u"x."},
    {u"_typeof", BlobTypeOf, 1, u"x"},
    {u"_cloned", BlobCloned, 2, u"xx"},
    {nullptr, nullptr, 0, nullptr},
};

const SQRegFunction kBlobGlobals[] = {
    {u"castf2i", CastF2I, 2, u".n"},
    {u"casti2f", CastI2F, 2, u".n"},
    {u"swap2", Swap2, 2, u".n"},
    {u"swap4", Swap4, 2, u".n"},
    {u"swapfloat", SwapFloat, 2, u".n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

SQRESULT sqstd_register_bloblib(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  if (top < 1 || sq_gettype(v, -1) != OT_TABLE) return sq_throwerror(v, u"a table is expected on top of the stack");
  sq_pushstring(v, u"blob", -1);                     // top+1
  sq_newclass(v, SQFalse);                            // top+2
  sq_settypetag(v, -1, const_cast<char*>(&kBlobTypeTag));
  sq_setreleasehook(v, -1, ReleaseBlob);
  if (SQ_FAILED(sqstd::RegisterFunctions(v, top + 2, kBlobMethods))) {
    sq_settop(v, top);
    return SQ_ERROR;
  }
  // The registry keeps the class so C code can create blobs whatever scripts do to the globals.
  sq_pushregistrytable(v);
  sq_pushstring(v, kRegistryKey, -1);
  sq_push(v, top + 2);
  sq_newslot(v, -3, SQFalse);
  sq_poptop(v);
  if (SQ_FAILED(sq_newslot(v, top, SQFalse)) || SQ_FAILED(sqstd::RegisterFunctions(v, top, kBlobGlobals))) {
    sq_settop(v, top);
    return SQ_ERROR;
  }
  sq_settop(v, top);
  return SQ_OK;
}

SQRESULT sqstd_getblob(HSQUIRRELVM v, SQInteger idx, SQUserPointer* ptr) {
  Blob* b = BlobAt(v, idx);
  if (!b) return SQ_ERROR;
  *ptr = b->bytes.data();
  return SQ_OK;
}

SQInteger sqstd_getblobsize(HSQUIRRELVM v, SQInteger idx) {
  Blob* b = BlobAt(v, idx);
  return b ? b->Len() : -1;
}

SQUserPointer sqstd_createblob(HSQUIRRELVM v, SQInteger size) {
  SQInteger top = sq_gettop(v);
  if (size < 0) {
    sq_throwerror(v, u"cannot create blob with negative size");
    return nullptr;
  }
  // Made here rather than by calling the class: scripts reach the registry, and a native's result must not run
  // whatever a script left under the key (or added to the class) on the caller's thread. Only the class this
  // library made carries its tag.
  sq_pushregistrytable(v);
  sq_pushstring(v, kRegistryKey, -1);
  SQUserPointer tag = nullptr;
  if (SQ_FAILED(sq_rawget(v, -2)) || sq_gettype(v, -1) != OT_CLASS || SQ_FAILED(sq_gettypetag(v, -1, &tag)) ||
      tag != &kBlobTypeTag || SQ_FAILED(sq_createinstance(v, -1))) {
    sq_settop(v, top);
    sq_throwerror(v, u"the blob class is missing");
    return nullptr;
  }
  Blob* b = new Blob();
  if (!b->Resize(size)) {
    delete b;
    sq_settop(v, top);
    SizeError(v, size);
    return nullptr;
  }
  sq_setinstanceup(v, -1, b);
  sq_setreleasehook(v, -1, ReleaseBlob);
  sq_remove(v, -2);  // the class
  sq_remove(v, -2);  // the registry
  return b->bytes.data();
}
