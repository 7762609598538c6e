#pragma once
// The FreeType side shared by both font registries: a shared holder of one FT_Library, whose
// FT_Done_FreeType runs after the last face made with it is done, and the bridge that opens a face
// over an engine stream.
//
// Errors: a stream that is no font gives a null face; a library that fails to end is an assertion.
// Locking: none (fonts live on the game's main thread; the holder's count is atomic).
#include <ft2build.h>
#include FT_FREETYPE_H

#include <memory>

namespace Vexil3D {

class Stream;

// Registries, font records and GUI fonts each keep one of these, so a face never outlives its library.
using FreeTypeLibrary = std::shared_ptr<FT_LibraryRec_>;

// Takes over a library made with FT_Init_FreeType (null gives null).
FreeTypeLibrary AdoptFreeTypeLibrary(FT_Library library);
// A new library, or null when FreeType cannot make one.
FreeTypeLibrary CreateFreeTypeLibrary();

// Opens face 0 over the stream through record, which must stay where it is while the face lives.
// The face holds its own reference to the stream until FreeType closes it (at FT_Done_Face, or at
// once when the open fails); the caller's reference is untouched. Null when the bytes are no font.
FT_Face OpenStreamFace(FT_Library library, Stream* stream, FT_StreamRec* record);

}  // namespace Vexil3D
