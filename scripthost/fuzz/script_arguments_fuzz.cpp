// libFuzzer target: reads an argument list in the network form with a live host, and when it reads, writes the
// values back from the machine's stack and reads them again: the second list must equal the first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <base/Stream.h>

#include <scripthost/ScriptArguments.h>
#include <scripthost/ScriptHost.h>

namespace {

CScriptHost* Host() {
  static CScriptHost* host = new CScriptHost();
  return host;
}

bool Same(HSQUIRRELVM v, const HSQOBJECT& a, const HSQOBJECT& b) {
  if (a._type != b._type) return false;
  switch (a._type) {
    case OT_INTEGER:
    case OT_FLOAT:
    case OT_BOOL: return a._unVal.raw == b._unVal.raw;
    case OT_STRING: {
      sq_pushobject(v, a);
      sq_pushobject(v, b);
      const SQChar* x = nullptr;
      const SQChar* y = nullptr;
      SQInteger nx = 0, ny = 0;
      sq_getstringandsize(v, -2, &x, &nx);
      sq_getstringandsize(v, -1, &y, &ny);
      const bool same = nx == ny && std::memcmp(x, y, std::size_t(nx) * sizeof(SQChar)) == 0;
      sq_pop(v, 2);
      return same;
    }
    default: return true;
  }
}

std::vector<HSQOBJECT> Values(HSQUIRRELVM v, CListScriptArguments& list) {
  const SQInteger top = sq_gettop(v);
  list.Push(v);
  std::vector<HSQOBJECT> values(std::size_t(list.GetCount()));
  for (std::size_t i = 0; i < values.size(); ++i) sq_getstackobj(v, top + 1 + SQInteger(i), &values[i]);
  sq_settop(v, top);
  return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CScriptHost* host = Host();
  const HSQUIRRELVM v = host->GetVM();
  std::vector<std::uint8_t> input(data, data + size);
  auto* in = new CByteArrayStream(input.data(), std::uint32_t(input.size()));
  CListScriptArguments first(host);
  const bool read = CListScriptArguments::Read(in, &first);
  in->Release();
  if (!read) return 0;

  const SQInteger top = sq_gettop(v);
  first.Push(v);
  // Each value takes at most 5 bytes besides its text, and decoding turns each input byte into at most three
  // (bad UTF-8 becomes U+FFFD), so a string may grow past the limit and the write then fails.
  constexpr std::size_t kValueBytes = 5, kGrowth = 3, kCountBytes = 4;
  std::vector<std::uint8_t> buffer(kCountBytes + kValueBytes * std::size_t(first.GetCount()) + kGrowth * size);
  auto* out = new CByteArrayStream(buffer.data(), std::uint32_t(buffer.size()));
  const bool written = WriteStackArguments(v, top + 1, out);
  std::uint64_t length = 0;
  out->GetPosition(&length);
  out->Release();
  sq_settop(v, top);
  if (!written) return 0;

  auto* again = new CByteArrayStream(buffer.data(), std::uint32_t(length));
  CListScriptArguments second(host);
  if (!CListScriptArguments::Read(again, &second)) std::abort();
  again->Release();
  const std::vector<HSQOBJECT> a = Values(v, first);
  const std::vector<HSQOBJECT> b = Values(v, second);
  if (a.size() != b.size()) std::abort();
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(v, a[i], b[i])) std::abort();
  }
  return 0;
}
