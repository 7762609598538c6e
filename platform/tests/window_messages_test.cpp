// Window parents, focus, sent messages and drag hand-over in the platform's window model.
#include <platform/errors.h>
#include <platform/ole.h>
#include <platform/window.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

HWND Window(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }

struct Sent {
  HWND window;
  UINT message;
};
std::vector<Sent> g_Sent;

LRESULT Recorder(HWND window, UINT message, WPARAM, LPARAM) {
  g_Sent.push_back({window, message});
  return static_cast<LRESULT>(message) + 1;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetWindows();
    g_Sent.clear();
  }
  void TearDown() override { platform::ResetWindows(); }
};

TEST_F(WindowTest, AncestorsFollowTheRecordedChain) {
  const HWND top = Window(0x10), middle = Window(0x20), leaf = Window(0x30);
  EXPECT_EQ(SetParent(middle, top), nullptr);
  EXPECT_EQ(SetParent(leaf, middle), nullptr);
  struct Case {
    HWND window;
    UINT flags;
    HWND expected;
  };
  const Case cases[] = {
      {leaf, GA_PARENT, middle}, {leaf, GA_ROOT, top},        {leaf, GA_ROOTOWNER, top}, {top, GA_ROOT, top},
      {top, GA_PARENT, nullptr}, {nullptr, GA_ROOT, nullptr}, {leaf, 7, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.window << " flags " << c.flags);
    EXPECT_EQ(GetAncestor(c.window, c.flags), c.expected);
  }
  // A parent that would close a loop is refused and changes nothing.
  EXPECT_EQ(SetParent(top, leaf), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetAncestor(leaf, GA_ROOT), top);
}

TEST_F(WindowTest, MessagesReachTheInstalledProcedureOnly) {
  const HWND game = Window(0x40);
  SetLastError(0);
  EXPECT_EQ(SendMessageW(game, WM_CLOSE, 0, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(platform::SetWindowProcedure(game, Recorder), nullptr);
  EXPECT_EQ(SendMessageW(game, WM_CLOSE, 0, 0), static_cast<LRESULT>(WM_CLOSE) + 1);
  ASSERT_EQ(g_Sent.size(), 1u);
  EXPECT_EQ(g_Sent[0].window, game);
  EXPECT_EQ(SetFocus(game), nullptr);
  EXPECT_EQ(GetFocus(), game);
  EXPECT_EQ(GetCaretBlinkTime(), 530u);
}

TEST_F(WindowTest, DragWithoutHandlerIsCancelledAndEffectsStayAllowed) {
  struct Object : IDataObject, IDropSource {
    HRESULT OLE_STDCALL QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG OLE_STDCALL AddRef() override { return 1; }
    ULONG OLE_STDCALL Release() override { return ++releases; }
    HRESULT OLE_STDCALL GetData(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL QueryGetData(FORMATETC*) override { return S_FALSE; }
    HRESULT OLE_STDCALL GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL DUnadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT OLE_STDCALL QueryContinueDrag(BOOL, DWORD) override { return S_OK; }
    HRESULT OLE_STDCALL GiveFeedback(DWORD) override { return S_OK; }
    ULONG releases = 0;
  } object;
  DWORD effect = DROPEFFECT_MOVE;
  EXPECT_EQ(DoDragDrop(&object, &object, DROPEFFECT_COPY, &effect), DRAGDROP_S_CANCEL);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  platform::SetDragDropHandler([](IDataObject*, IDropSource*, DWORD, DWORD* chosen) {
    *chosen = DROPEFFECT_MOVE | DROPEFFECT_COPY;
    return DRAGDROP_S_DROP;
  });
  EXPECT_EQ(DoDragDrop(&object, &object, DROPEFFECT_COPY, &effect), DRAGDROP_S_DROP);
  EXPECT_EQ(effect, DROPEFFECT_COPY);  // the move the source did not allow is taken away
  platform::SetDragDropHandler({});

  HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, 4);
  STGMEDIUM medium{TYMED_HGLOBAL, kept, static_cast<IDataObject*>(&object)};
  ReleaseStgMedium(&medium);  // the releasing object owns the memory
  EXPECT_EQ(object.releases, 1u);
  EXPECT_EQ(GlobalSize(kept), 4u);
  GlobalFree(kept);
  STGMEDIUM owned{TYMED_HGLOBAL, GlobalAlloc(GMEM_MOVEABLE, 4), nullptr};
  ReleaseStgMedium(&owned);
  EXPECT_EQ(owned.hGlobal, nullptr);
}

}  // namespace
