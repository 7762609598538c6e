// The FreeType library holder and the stream bridge of both font registries.
#include "FreeTypeStream.h"

#include <engine/Stream.h>
#include <engine/VexilAssert.h>

#include <climits>

namespace Vexil3D {
namespace {

void DoneLibrary(FT_Library library) {
  const FT_Error error = FT_Done_FreeType(library);
  VEXIL_ASSERT(error == 0);
}

// FreeType's read callback. A count of 0 is a seek, which answers 0 for success; any other count
// answers the bytes read, 0 when the seek fails.
unsigned long ReadStream(FT_Stream record, unsigned long offset, unsigned char* buffer, unsigned long count) {
  auto* stream = static_cast<Stream*>(record->descriptor.pointer);
  if (stream == nullptr) return count == 0 ? 1 : 0;
  const bool sought = stream->Seek(static_cast<std::int64_t>(offset), STREAM_SEEK_BEGIN);
  if (count == 0) return sought ? 0 : 1;
  if (!sought) return 0;
  const auto wanted = static_cast<std::uint32_t>(count > UINT32_MAX ? UINT32_MAX : count);
  return stream->Read(buffer, wanted);
}

// FreeType's close callback: lets go of the face's reference. The descriptor is cleared so the
// bridge can tell whether FreeType already closed the stream of a failed open.
void CloseStream(FT_Stream record) {
  auto* stream = static_cast<Stream*>(record->descriptor.pointer);
  record->descriptor.pointer = nullptr;
  if (stream != nullptr) stream->Release();
}

}  // namespace

FreeTypeLibrary AdoptFreeTypeLibrary(FT_Library library) {
  if (library == nullptr) return nullptr;
  return FreeTypeLibrary(library, DoneLibrary);
}

FreeTypeLibrary CreateFreeTypeLibrary() {
  FT_Library library = nullptr;
  if (FT_Init_FreeType(&library) != 0) return nullptr;
  return AdoptFreeTypeLibrary(library);
}

FT_Face OpenStreamFace(FT_Library library, Stream* stream, FT_StreamRec* record) {
  if (library == nullptr || stream == nullptr || record == nullptr) return nullptr;
  stream->AddRef();
  *record = FT_StreamRec{};
  const std::uint64_t length = stream->GetLength();
  record->size = static_cast<unsigned long>(length > ULONG_MAX ? ULONG_MAX : length);
  record->pos = 0;
  record->descriptor.pointer = stream;
  record->read = ReadStream;
  record->close = CloseStream;
  FT_Open_Args args{};
  args.flags = FT_OPEN_STREAM;
  args.stream = record;
  FT_Face face = nullptr;
  if (FT_Open_Face(library, &args, 0, &face) != 0) {
    // FreeType closes a stream it was given when the open fails; release only what it did not.
    CloseStream(record);
    return nullptr;
  }
  return face;
}

}  // namespace Vexil3D
