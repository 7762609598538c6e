// The text element's OLE drag and drop: the data object and drop source of a text drag, and the
// drop target calls.
#include <TamberGUI/GUI/Text.h>

#include <algorithm>
#include <cstring>

#include <engine/VexilAssert.h>

#include <TamberGUI/StringConversion.h>

namespace TamberGUI::GUI {
namespace {

constexpr LONG kAllIndices = -1;

FORMATETC TextFormat() {
  return {static_cast<CLIPFORMAT>(CF_UNICODETEXT), nullptr, DVASPECT_CONTENT, kAllIndices, TYMED_HGLOBAL};
}

bool IsTextFormat(const FORMATETC* format) {
  return format != nullptr && format->cfFormat == CF_UNICODETEXT && (format->tymed & TYMED_HGLOBAL) != 0 &&
         format->dwAspect == DVASPECT_CONTENT;
}

// The dragged text (CR LF line ends, terminated) for the drag's lifetime; lives on the stack of the
// drag, so its counts only check balance.
class CTextDataObject final : public IDataObject, public IDropSource {
 public:
  explicit CTextDataObject(std::u16string text) : m_Text(std::move(text)) {}

  HRESULT OLE_STDCALL QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDataObject) {
      *object = static_cast<IDataObject*>(this);
    } else if (iid == IID_IDropSource) {
      *object = static_cast<IDropSource*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG OLE_STDCALL AddRef() override { return ++m_uReferences; }
  ULONG OLE_STDCALL Release() override { return --m_uReferences; }

  HRESULT OLE_STDCALL GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (medium == nullptr) return E_INVALIDARG;
    if (!IsTextFormat(format)) return DV_E_FORMATETC;
    const SIZE_T bytes = (m_Text.size() + 1) * sizeof(char16_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) return E_OUTOFMEMORY;
    std::memcpy(GlobalLock(memory), m_Text.c_str(), bytes);
    GlobalUnlock(memory);
    *medium = {TYMED_HGLOBAL, memory, nullptr};
    return S_OK;
  }
  HRESULT OLE_STDCALL GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL QueryGetData(FORMATETC* format) override { return IsTextFormat(format) ? S_OK : S_FALSE; }
  HRESULT OLE_STDCALL GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    if (out != nullptr) out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT OLE_STDCALL SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT OLE_STDCALL DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT OLE_STDCALL EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

  HRESULT OLE_STDCALL QueryContinueDrag(BOOL escapePressed, DWORD keyState) override {
    if (escapePressed) return DRAGDROP_S_CANCEL;
    return (keyState & MK_LBUTTON) != 0 ? S_OK : DRAGDROP_S_DROP;
  }
  HRESULT OLE_STDCALL GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }

 private:
  std::u16string m_Text;
  ULONG m_uReferences = 1;
};

}  // namespace

void CText::StartTextDrag() {
  const std::uint32_t first = GetSelectionFirst(), last = GetSelectionLast();
  if (first == last) return;
  // The drag runs the drop targets, this element among them, which may remove it: hold it.
  Vexil3D::Strong<CElement> self(this);
  const std::u32string dragged = m_Text.substr(first, last - first);
  CTextDataObject data(utf32_to_utf16(dragged.data(), dragged.size(), true));
  m_bDraggingOwn = 1;
  m_bOwnDropMarked = 0;
  DWORD effect = DROPEFFECT_NONE;
  const DWORD allowed = m_bEditable ? DROPEFFECT_COPY | DROPEFFECT_MOVE : DROPEFFECT_COPY;
  const HRESULT result = DoDragDrop(&data, &data, allowed, &effect);
  m_bDraggingOwn = 0;
  // The text may have changed under the drag (a drop from elsewhere cannot reach here, but be safe).
  const bool intact = m_Text.size() >= last && m_Text.compare(first, last - first, dragged) == 0;
  if (m_bOwnDropMarked && intact) {
    m_bOwnDropMarked = 0;
    std::uint32_t at = std::min<std::uint32_t>(m_uOwnDropPosition, static_cast<std::uint32_t>(m_Text.size()));
    if (m_uOwnDropEffect == DROPEFFECT_MOVE) {
      m_Text.erase(first, last - first);
      if (at >= last) at -= last - first;
    }
    m_Text.insert(at, dragged);
    Relayout();
    Select(at, at + static_cast<std::uint32_t>(dragged.size()));
    CaretMoved(false);
  } else if (result == DRAGDROP_S_DROP && effect == DROPEFFECT_MOVE && m_bEditable && intact) {
    ReplaceRange(first, last, {});
  }
  m_bOwnDropMarked = 0;
}

bool CText::ReadDropText(IDataObject* data, std::u32string* text) {
  FORMATETC format = TextFormat();
  STGMEDIUM medium{};
  if (data->GetData(&format, &medium) != S_OK) return false;
  bool read = false;
  if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal != nullptr) {
    if (const auto* units = static_cast<const char16_t*>(GlobalLock(medium.hGlobal))) {
      // Bounded by the block: a sender need not terminate its text.
      const std::size_t capacity = GlobalSize(medium.hGlobal) / sizeof(char16_t);
      std::size_t length = 0;
      while (length < capacity && units[length] != 0) ++length;
      *text = utf16_to_utf32(std::u16string(units, length).c_str());
      GlobalUnlock(medium.hGlobal);
      read = true;
    }
  }
  ReleaseStgMedium(&medium);
  return read;
}

bool CText::OnDragEnter(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  if (!m_bSelectable || !m_bEditable) return CElement::OnDragEnter(data, keyState, point, effect);
  FORMATETC format = TextFormat();
  const HRESULT hr = data != nullptr ? data->QueryGetData(&format) : E_INVALIDARG;
  // S_FALSE (no text offered) is a success code: the check is the call's failure alone.
  VEXIL_ASSERT(SUCCEEDED(hr));
  m_bDropAccepted = hr == S_OK;
  if (!m_bDropAccepted) {
    *effect = DROPEFFECT_NONE;
    return true;
  }
  return OnDragOver(keyState, point, effect);
}

bool CText::OnDragOver(DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  if (!m_bSelectable || !m_bEditable) return CElement::OnDragOver(keyState, point, effect);
  const DWORD allowed = *effect;
  *effect = DROPEFFECT_NONE;
  if (m_bDropAccepted) {
    m_uDropPosition = PositionAt(point);
    const bool inside =
        m_bDraggingOwn && GetSelectionFirst() <= m_uDropPosition && m_uDropPosition <= GetSelectionLast();
    if (inside) {
      *effect = DROPEFFECT_NONE;
    } else if (m_bDraggingOwn && (keyState & MK_CONTROL) != 0) {
      *effect = allowed & DROPEFFECT_COPY;
    } else if ((allowed & DROPEFFECT_MOVE) != 0) {
      *effect = DROPEFFECT_MOVE;
    } else {
      *effect = allowed & DROPEFFECT_COPY;
    }
  }
  m_bDropCaretShown = *effect != DROPEFFECT_NONE;
  Invalidate();
  return true;
}

void CText::OnDragLeave() {
  if (!m_bSelectable || !m_bEditable) return CElement::OnDragLeave();
  m_bDropAccepted = 0;
  m_bDropCaretShown = 0;
  Invalidate();
}

bool CText::OnDrop(IDataObject* data, DWORD keyState, const Vexil3D::CVector2D& point, DWORD* effect) {
  if (!m_bSelectable || !m_bEditable) return CElement::OnDrop(data, keyState, point, effect);
  Vexil3D::Strong<CElement> self(this);
  const DWORD allowed = *effect;
  *effect = DROPEFFECT_NONE;
  const bool accepted = m_bDropAccepted != 0;
  m_bDropAccepted = 0;
  m_bDropCaretShown = 0;
  if (!accepted || data == nullptr) return true;
  const std::uint32_t position = PositionAt(point);
  if (m_bDraggingOwn) {
    // The drag that started here completes the move or copy once it returns.
    if (GetSelectionFirst() <= position && position <= GetSelectionLast()) return true;
    if ((keyState & MK_CONTROL) == 0 && (allowed & DROPEFFECT_MOVE) != 0) {
      *effect = DROPEFFECT_MOVE;
    } else {
      *effect = allowed & DROPEFFECT_COPY;
    }
    m_bOwnDropMarked = *effect != DROPEFFECT_NONE;
    m_uOwnDropPosition = position;
    m_uOwnDropEffect = *effect;
    return true;
  }
  if ((keyState & MK_ALT) != 0 && (allowed & DROPEFFECT_MOVE) != 0) {
    *effect = DROPEFFECT_MOVE;
  } else {
    *effect = allowed & DROPEFFECT_COPY;
  }
  std::u32string text;
  if (*effect == DROPEFFECT_NONE || !ReadDropText(data, &text)) {
    *effect = DROPEFFECT_NONE;
    return true;
  }
  const auto at = std::min<std::uint32_t>(position, static_cast<std::uint32_t>(m_Text.size()));
  m_Text.insert(at, text);
  Relayout();
  Select(at, at + static_cast<std::uint32_t>(text.size()));
  CaretMoved(false);
  return true;
}

}  // namespace TamberGUI::GUI
