// ReleaseStgMedium and DoDragDrop over a replaceable drag handler.
#include <platform/ole.h>

#include <mutex>
#include <utility>

namespace {

struct DragSlot {
  std::mutex lock;
  platform::DragDropHandler handler;
};

DragSlot& Slot() {
  static DragSlot slot;
  return slot;
}

}  // namespace

void ReleaseStgMedium(STGMEDIUM* medium) {
  if (medium == nullptr) return;
  if (medium->pUnkForRelease != nullptr) {
    medium->pUnkForRelease->Release();
  } else if (medium->tymed == TYMED_HGLOBAL && medium->hGlobal != nullptr) {
    GlobalFree(medium->hGlobal);
  }
  *medium = {};
}

HRESULT DoDragDrop(IDataObject* data, IDropSource* source, DWORD okEffects, DWORD* effect) {
  if (data == nullptr || source == nullptr || effect == nullptr) return E_INVALIDARG;
  platform::DragDropHandler handler;
  {
    DragSlot& slot = Slot();
    std::lock_guard<std::mutex> guard(slot.lock);
    handler = slot.handler;
  }
  *effect = DROPEFFECT_NONE;
  if (!handler) return DRAGDROP_S_CANCEL;
  const HRESULT result = handler(data, source, okEffects, effect);
  // A target may only choose among the effects the source allowed.
  if (result != DRAGDROP_S_DROP) *effect = DROPEFFECT_NONE;
  *effect &= okEffects;
  return result;
}

namespace platform {

DragDropHandler SetDragDropHandler(DragDropHandler handler) {
  DragSlot& slot = Slot();
  std::lock_guard<std::mutex> guard(slot.lock);
  return std::exchange(slot.handler, std::move(handler));
}

}  // namespace platform
