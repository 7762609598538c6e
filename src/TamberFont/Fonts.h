#pragma once
// The font library's registry: family -> style -> font record, each record keeping one FreeType
// face open over the engine stream that feeds it.
//
// Errors: null or false results (a stream that is no font is skipped); FreeType failing to end the
// library is an assertion. Every record keeps the library alive, so FT_Done_FreeType runs after the
// last face. Locking: none (the game's main thread only).
#include <string>
#include <unordered_map>

#include <engine/Stream.h>
#include <engine/VexilReference.h>

#include "FreeTypeStream.h"

namespace Vexil3D {

class CFonts {
 public:
  struct CFontRecord {
    FreeTypeLibrary library;
    FT_Face face = nullptr;
    FT_StreamRec stream{};  // the face reads through this record; it never moves
    std::u16string family;
    std::u16string style;
    Strong<Stream> source;  // the stream that feeds the face
  };

  // Takes over a library made with FT_Init_FreeType.
  explicit CFonts(FT_Library library);
  ~CFonts();
  CFonts(const CFonts&) = delete;
  CFonts& operator=(const CFonts&) = delete;

  // The stream bridge (FreeTypeStream.h): the face, or null.
  static FT_Face OpenFace(FT_Library library, Stream* stream, FT_StreamRec* record);
  // Stores the face and copies its family and style names (UTF-8 to UTF-16).
  static void SetFace(CFontRecord* record, FT_Face face);
  // Ends the face (which lets go of its stream reference) and frees the record.
  static void DestroyFont(CFontRecord* record);

  // Opens a face over the stream and files it under its family and style, replacing a record filed
  // there before. False, leaving the table as it was, when the stream is no font.
  bool AddFont(Stream* stream);
  // Null when the family or the style is absent (exact, case-sensitive names).
  CFontRecord* GetFont(const std::u16string& family, const std::u16string& style) const;
  // Destroys that record and erases its style; the family entry stays, possibly empty.
  void Remove(const std::u16string& family, const std::u16string& style);
  void Clear();

  FT_Library GetLibrary() const { return m_Library.get(); }

 private:
  using Styles = std::unordered_map<std::u16string, CFontRecord*>;

  FreeTypeLibrary m_Library;
  std::unordered_map<std::u16string, Styles> m_Families;
};

}  // namespace Vexil3D
