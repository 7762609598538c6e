// libFuzzer target: script text a server could send, compiled by the machine's compiler; what compiles is written
// out, read back and written again, and the two images must match. Also raw bytes through the compiled-code
// reader. Nothing may crash, leak, hang or read out of bounds; refusals are the compiler's and reader's own.
//
// Input: a first byte 0x01 makes the rest UTF-16 text (little-endian pairs), 0x02 makes the rest a compiled image for
// the reader; anything else is 8-bit text as a whole, so plain scripts are seeds as they are.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <squirrel.h>

namespace {

void Quiet(HSQUIRRELVM, const SQChar*, ...) {}

struct Sink {
  std::vector<std::uint8_t> bytes;
};
SQInteger Write(SQUserPointer up, SQUserPointer data, SQInteger size) {
  auto* sink = static_cast<Sink*>(up);
  const auto* p = static_cast<const std::uint8_t*>(data);
  sink->bytes.insert(sink->bytes.end(), p, p + size);
  return size;
}

struct Source {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;
};
SQInteger Read(SQUserPointer up, SQUserPointer out, SQInteger size) {
  auto* source = static_cast<Source*>(up);
  const std::size_t n = std::min(std::size_t(size), source->size - source->at);
  std::memcpy(out, source->data + source->at, n);
  source->at += n;
  return n == std::size_t(size) ? size : -1;
}

// The closure on the stack top, written out.
std::vector<std::uint8_t> Image(HSQUIRRELVM v) {
  Sink sink;
  if (SQ_FAILED(sq_writeclosure(v, Write, &sink))) return {};
  return sink.bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  int form = 0;
  if (size > 0 && (data[0] == 1 || data[0] == 2)) {
    form = data[0];
    ++data;
    --size;
  }
  HSQUIRRELVM v = sq_open(1024);
  sq_setprintfunc(v, Quiet, Quiet);
  bool compiled = false;
  if (form == 2) {
    Source source{data, size};
    compiled = SQ_SUCCEEDED(sq_readclosure(v, Read, &source));
  } else {
    std::u16string text;
    if (form == 0) {
      text.assign(data, data + size);
    } else {
      for (std::size_t i = 0; i + 1 < size; i += 2) text.push_back(char16_t(data[i] | (data[i + 1] << 8)));
    }
    compiled = SQ_SUCCEEDED(sq_compilebuffer(v, text.data(), SQInteger(text.size()), u"fuzz.nut", SQFalse));
  }
  if (compiled) {
    const std::vector<std::uint8_t> first = Image(v);
    if (first.empty()) std::abort();  // a closure the machine made or accepted must write out
    Source source{first.data(), first.size()};
    if (SQ_FAILED(sq_readclosure(v, Read, &source)) || source.at != first.size()) std::abort();
    if (Image(v) != first) std::abort();
  }
  sq_close(v);
  return 0;
}
