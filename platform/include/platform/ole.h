#pragma once
// OLE drag and drop in Win32 shape: the data object and drop source interfaces (COM layout, methods
// at their Win32 slot indices, stdcall), the format and medium records, ReleaseStgMedium and
// DoDragDrop.
//
// No system drag loop exists on this host: DoDragDrop hands the drag to the handler that
// SetDragDropHandler installed (tests stand in for the user and the drop target there); without one
// the drag is cancelled at once (DRAGDROP_S_CANCEL, effect DROPEFFECT_NONE).
// Errors: HRESULT values. Locking: the handler slot is guarded; a drag runs on the calling thread.
#include <functional>

#include <platform/guid.h>
#include <platform/ui.h>
#include <platform/win32types.h>

#define OLE_STDCALL __attribute__((stdcall))

using REFIID = const GUID&;
using CLIPFORMAT = WORD;

constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006Bu);
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003u);
constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;

constexpr DWORD DVASPECT_CONTENT = 1;
constexpr DWORD TYMED_NULL = 0;
constexpr DWORD TYMED_HGLOBAL = 1;

constexpr DWORD DROPEFFECT_NONE = 0;
constexpr DWORD DROPEFFECT_COPY = 1;
constexpr DWORD DROPEFFECT_MOVE = 2;
constexpr DWORD DROPEFFECT_LINK = 4;

// Key-state bits of drag calls.
constexpr DWORD MK_LBUTTON = 0x0001;
constexpr DWORD MK_RBUTTON = 0x0002;
constexpr DWORD MK_SHIFT = 0x0004;
constexpr DWORD MK_CONTROL = 0x0008;
constexpr DWORD MK_MBUTTON = 0x0010;
constexpr DWORD MK_ALT = 0x0020;

inline constexpr GUID IID_IDataObject = {0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IDropSource = {0x00000121, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct DVTARGETDEVICE;
struct IEnumFORMATETC;
struct IAdviseSink;
struct IEnumSTATDATA;

struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

struct IUnknown {
  virtual HRESULT OLE_STDCALL QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG OLE_STDCALL AddRef() = 0;
  virtual ULONG OLE_STDCALL Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct STGMEDIUM {
  DWORD tymed;
  HGLOBAL hGlobal;  // the medium for TYMED_HGLOBAL (the union's one member used here)
  IUnknown* pUnkForRelease;
};

struct IDataObject : IUnknown {
  virtual HRESULT OLE_STDCALL GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT OLE_STDCALL GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  // S_OK when GetData would give that format, S_FALSE or a DV_E_ code when not.
  virtual HRESULT OLE_STDCALL QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT OLE_STDCALL GetCanonicalFormatEtc(FORMATETC* in, FORMATETC* out) = 0;
  virtual HRESULT OLE_STDCALL SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
  virtual HRESULT OLE_STDCALL EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
  virtual HRESULT OLE_STDCALL DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT OLE_STDCALL DUnadvise(DWORD connection) = 0;
  virtual HRESULT OLE_STDCALL EnumDAdvise(IEnumSTATDATA** advice) = 0;

 protected:
  ~IDataObject() = default;
};

struct IDropSource : IUnknown {
  // S_OK to go on, DRAGDROP_S_DROP to drop, DRAGDROP_S_CANCEL to cancel.
  virtual HRESULT OLE_STDCALL QueryContinueDrag(BOOL escapePressed, DWORD keyState) = 0;
  virtual HRESULT OLE_STDCALL GiveFeedback(DWORD effect) = 0;

 protected:
  ~IDropSource() = default;
};

// Frees the medium's storage: Release of pUnkForRelease when set, else GlobalFree of an HGLOBAL;
// the record is zeroed. A null medium does nothing.
void ReleaseStgMedium(STGMEDIUM* medium);

// Runs a drag of the data: DRAGDROP_S_DROP with the effect the target chose, DRAGDROP_S_CANCEL
// with DROPEFFECT_NONE, or E_INVALIDARG for null arguments.
HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect);

namespace platform {

// Plays the part of the user and the drop targets during DoDragDrop; answers as DoDragDrop does.
using DragDropHandler = std::function<HRESULT(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect)>;
// Installs the handler (empty: none); returns the previous one.
DragDropHandler SetDragDropHandler(DragDropHandler handler);

}  // namespace platform
