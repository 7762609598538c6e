// The font library's registry of open faces.
#include "Fonts.h"

#include <platform/text.h>

namespace Vexil3D {

CFonts::CFonts(FT_Library library) : m_Library(AdoptFreeTypeLibrary(library)) {}

CFonts::~CFonts() { Clear(); }

FT_Face CFonts::OpenFace(FT_Library library, Stream* stream, FT_StreamRec* record) {
  return OpenStreamFace(library, stream, record);
}

void CFonts::SetFace(CFontRecord* record, FT_Face face) {
  record->face = face;
  record->family = face && face->family_name ? text::Utf8ToUtf16(face->family_name) : std::u16string();
  record->style = face && face->style_name ? text::Utf8ToUtf16(face->style_name) : std::u16string();
}

void CFonts::DestroyFont(CFontRecord* record) {
  if (record == nullptr) return;
  if (record->face != nullptr) FT_Done_Face(record->face);
  delete record;
}

bool CFonts::AddFont(Stream* stream) {
  auto* record = new CFontRecord;
  record->library = m_Library;
  record->source = stream;
  FT_Face face = OpenFace(m_Library.get(), stream, &record->stream);
  if (face == nullptr) {
    DestroyFont(record);
    return false;
  }
  SetFace(record, face);
  CFontRecord*& slot = m_Families[record->family][record->style];
  DestroyFont(slot);
  slot = record;
  return true;
}

CFonts::CFontRecord* CFonts::GetFont(const std::u16string& family, const std::u16string& style) const {
  const auto styles = m_Families.find(family);
  if (styles == m_Families.end()) return nullptr;
  const auto found = styles->second.find(style);
  return found == styles->second.end() ? nullptr : found->second;
}

void CFonts::Remove(const std::u16string& family, const std::u16string& style) {
  const auto styles = m_Families.find(family);
  if (styles == m_Families.end()) return;
  const auto found = styles->second.find(style);
  if (found == styles->second.end()) return;
  DestroyFont(found->second);
  styles->second.erase(found);
}

void CFonts::Clear() {
  for (auto& [family, styles] : m_Families) {
    for (auto& [style, record] : styles) DestroyFont(record);
  }
  m_Families.clear();
}

}  // namespace Vexil3D
