// The text element: sizing, the key table, typing and pasting, the clipboard, the context menu,
// caret blink, OLE drops and drags, drawing, and missing fonts or sizes.
#include <gtest/gtest.h>

#include <engine/OS.h>
#include <platform/ole.h>

#include <cstring>
#include <memory>

#include <TamberGUI/GUI/Text.h>

#include "AssertionCapture.h"
#include "GuiPages.h"

using namespace guitest;
using TextElement = TamberGUI::GUI::CText;

namespace {

constexpr const char* kFonts =
    R"(<FontStack Name="Body"><Font Family="Open Sans"/><Font Family="Noto Color Emoji"/></FontStack>)";

struct TextTest : testing::Test, PageFixture {
  TextElement* plain = nullptr;
  TextElement* selectable = nullptr;
  TextElement* editable = nullptr;

  void SetUp() override {
    ASSERT_TRUE(Load(std::string("<Page>") + kFonts + R"(
      <Text Name="plain" Left="0" Top="0" FontStack="Body" Size="20" Colour="#ffffff" Text="plain"/>
      <Text Name="selectable" Left="0" Top="30" FontStack="Body" Size="20" Colour="#ffffff" Selectable="true"/>
      <Text Name="editable" Left="0" Top="60" FontStack="Body" Size="20" Colour="#ff00ff00" Editable="true"
            SelectionHighlightColour="#0000ff" DropShadow="true" CaretWidth="2"/>
    </Page>)"));
    plain = dynamic_cast<TextElement*>(Find(u"plain"));
    selectable = dynamic_cast<TextElement*>(Find(u"selectable"));
    editable = dynamic_cast<TextElement*>(Find(u"editable"));
    ASSERT_TRUE(plain && selectable && editable);
  }
  static std::u32string U32(const TextElement* e) { return e->GetText(); }
  static SDL_Keysym Sym(SDL_Keycode sym, Uint16 mod) {
    SDL_Keysym key{};
    key.sym = sym;
    key.mod = mod;
    return key;
  }
};

TEST_F(TextTest, GrowsWithItsTextAndNeverWraps) {
  editable->SetText(u"a rather long line of text that is wider than the screen");
  manager.UpdateLayout();
  auto& layout = editable->GetLayout();
  EXPECT_EQ(layout.GetLineCount(), 1u);
  EXPECT_GT(editable->m_fWidthPx, kScreenWidth);
  EXPECT_FLOAT_EQ(editable->m_fWidthPx, layout.GetWidth());
  EXPECT_FLOAT_EQ(editable->m_fHeightPx, layout.GetHeight());
}

struct KeyCase {
  const char* name;
  int element;  // 0 plain, 1 selectable, 2 editable
  const char16_t* text;
  std::uint32_t anchor, caret;
  SDL_Keycode sym;
  Uint16 mod;
  bool allowNewLines;
  bool handled;
  const char32_t* after;
  std::uint32_t first, last;  // the selection afterwards
};

TEST_F(TextTest, KeyTable) {
  const KeyCase cases[] = {
      {"backspace", 2, u"abc", 3, 3, SDLK_BACKSPACE, KMOD_NONE, false, true, U"ab", 2, 2},
      {"delete", 2, u"abc", 0, 0, SDLK_DELETE, KMOD_NONE, false, true, U"bc", 0, 0},
      {"delete selection", 2, u"abc", 0, 2, SDLK_DELETE, KMOD_NONE, false, true, U"c", 0, 0},
      {"shift delete is backspace", 2, u"abc", 2, 2, SDLK_DELETE, KMOD_LSHIFT, false, true, U"ac", 1, 1},
      {"ctrl delete", 2, u"abc", 2, 2, SDLK_DELETE, KMOD_LCTRL, false, false, U"abc", 2, 2},
      {"plain backspace", 0, u"abc", 3, 3, SDLK_BACKSPACE, KMOD_NONE, false, false, U"abc", 3, 3},
      {"selectable backspace", 1, u"abc", 3, 3, SDLK_BACKSPACE, KMOD_NONE, false, false, U"abc", 3, 3},
      {"select all", 1, u"abc", 1, 1, SDLK_a, KMOD_LCTRL, false, true, U"abc", 0, 3},
      {"select all of nothing", 2, u"", 0, 0, SDLK_a, KMOD_RCTRL, false, false, U"", 0, 0},
      {"ctrl shift a", 2, u"abc", 1, 1, SDLK_a, KMOD_LCTRL | KMOD_LSHIFT, false, false, U"abc", 1, 1},
      {"typed letter editable", 2, u"abc", 1, 1, SDLK_b, KMOD_NONE, false, true, U"abc", 1, 1},
      {"typed letter selectable", 1, u"abc", 1, 1, SDLK_b, KMOD_NONE, false, false, U"abc", 1, 1},
      {"a without ctrl", 2, u"abc", 1, 1, SDLK_a, KMOD_NONE, false, true, U"abc", 1, 1},
      {"undo", 2, u"abc", 1, 1, SDLK_z, KMOD_LCTRL, false, false, U"abc", 1, 1},
      {"redo", 2, u"abc", 1, 1, SDLK_y, KMOD_LCTRL, false, false, U"abc", 1, 1},
      {"shift redo", 2, u"abc", 1, 1, SDLK_z, KMOD_LCTRL | KMOD_LSHIFT, false, false, U"abc", 1, 1},
      {"left collapses", 1, u"abc", 1, 3, SDLK_LEFT, KMOD_NONE, false, true, U"abc", 1, 1},
      {"right collapses", 1, u"abc", 3, 1, SDLK_RIGHT, KMOD_NONE, false, true, U"abc", 3, 3},
      {"shift right extends", 0, u"abc", 1, 1, SDLK_RIGHT, KMOD_RSHIFT, false, true, U"abc", 1, 2},
      {"left at start", 2, u"abc", 0, 0, SDLK_LEFT, KMOD_NONE, false, true, U"abc", 0, 0},
      {"ctrl left", 2, u"abc", 1, 1, SDLK_LEFT, KMOD_LCTRL, false, false, U"abc", 1, 1},
      {"colour code is one step", 2,
       u"\x01"
       u"ff00ff00x",
       0, 0, SDLK_RIGHT, KMOD_NONE, false, true,
       U"\x01"
       U"ff00ff00x",
       9, 9},
      {"home", 2, u"ab\ncd", 4, 4, SDLK_HOME, KMOD_NONE, true, true, U"ab\ncd", 3, 3},
      {"end", 2, u"ab\ncd", 0, 0, SDLK_END, KMOD_NONE, true, true, U"ab\ncd", 2, 2},
      {"down", 2, u"ab\ncd", 1, 1, SDLK_DOWN, KMOD_NONE, true, true, U"ab\ncd", 4, 4},
      {"shift up", 2, u"ab\ncd", 4, 4, SDLK_UP, KMOD_LSHIFT, true, true, U"ab\ncd", 1, 4},
      {"enter without new lines", 2, u"ab", 1, 1, SDLK_RETURN, KMOD_NONE, false, false, U"ab", 1, 1},
      {"enter with new lines", 2, u"ab", 1, 1, SDLK_RETURN, KMOD_NONE, true, true, U"a\nb", 2, 2},
      {"tab", 2, u"ab", 1, 1, SDLK_TAB, KMOD_NONE, false, true, U"a\tb", 2, 2},
      {"tab selectable", 1, u"ab", 1, 1, SDLK_TAB, KMOD_NONE, false, false, U"ab", 1, 1},
      {"escape without callback", 2, u"ab", 1, 1, SDLK_ESCAPE, KMOD_NONE, false, false, U"ab", 1, 1},
  };
  TextElement* elements[] = {plain, selectable, editable};
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    TextElement* element = elements[c.element];
    element->GetLayout().GetSettings().allowNewLines = c.allowNewLines;
    element->GetLayout().GetSettings().colourCodes = 1;
    element->SetText(c.text);
    element->Select(c.anchor, c.caret);
    EXPECT_EQ(element->OnKeyDown(Sym(c.sym, c.mod)), c.handled);
    EXPECT_EQ(U32(element), std::u32string(c.after));
    EXPECT_EQ(element->GetSelectionFirst(), c.first);
    EXPECT_EQ(element->GetSelectionLast(), c.last);
  }
}

TEST_F(TextTest, EnterAndEscapeCallbacksComeFirst) {
  int enters = 0;
  editable->SetEnterCallback([&](TextElement*) { return ++enters, true; });
  editable->GetLayout().GetSettings().allowNewLines = 1;
  editable->SetText(u"ab");
  EXPECT_TRUE(editable->OnKeyDown(Sym(SDLK_RETURN, KMOD_NONE)));
  EXPECT_EQ(U32(editable), U"ab");
  EXPECT_TRUE(editable->OnKeyDown(Sym(SDLK_RETURN, KMOD_LSHIFT)));  // shift skips the callback
  EXPECT_EQ(U32(editable), U"\nab");
  EXPECT_EQ(enters, 1);
  editable->SetEscapeCallback([](TextElement*) { return true; });
  EXPECT_TRUE(editable->OnKeyDown(Sym(SDLK_ESCAPE, KMOD_NONE)));
}

TEST_F(TextTest, PastingKeepsLineFeedsTypingDropsThem) {
  ASSERT_TRUE(Vexil3D::OS::SetClipboardText(u"a\r\nb", 4));
  editable->SetText(u"");
  EXPECT_TRUE(editable->OnKeyDown(Sym(SDLK_v, KMOD_LCTRL)));
  EXPECT_EQ(U32(editable), U"a\nb");
  EXPECT_EQ(editable->GetCaret(), 3u);
  editable->SetText(u"");
  EXPECT_TRUE(editable->OnTextInput("a\r\nb"));
  EXPECT_EQ(U32(editable), U"ab");
  EXPECT_FALSE(selectable->OnTextInput("x"));
  EXPECT_TRUE(U32(selectable).empty());
}

TEST_F(TextTest, CopyWritesCarriageReturnsAndCutNeedsTheClipboard) {
  selectable->SetText(u"x\ny");
  selectable->SelectAll();
  EXPECT_TRUE(selectable->OnKeyDown(Sym(SDLK_c, KMOD_LCTRL)));  // copying needs no editing
  std::unique_ptr<char16_t[]> copied(Vexil3D::OS::GetClipboardText());
  ASSERT_NE(copied, nullptr);
  EXPECT_EQ(std::u16string(copied.get()), u"x\r\ny");
  EXPECT_FALSE(selectable->OnKeyDown(Sym(SDLK_x, KMOD_LCTRL)));
  EXPECT_EQ(U32(selectable), U"x\ny");

  editable->SetText(u"cut me");
  editable->Select(0, 3);
  EXPECT_TRUE(editable->Cut());
  EXPECT_EQ(U32(editable), U" me");
  copied.reset(Vexil3D::OS::GetClipboardText());
  EXPECT_EQ(std::u16string(copied.get()), u"cut");
  editable->Select(1, 1);
  EXPECT_FALSE(editable->Copy());  // nothing selected
}

TEST_F(TextTest, SettingTheSameTextKeepsTheLayout) {
  editable->SetText(u"same");
  editable->Select(1, 3);
  const auto* line = &editable->GetLayout().GetLine(0);
  editable->SetText(u"same");
  EXPECT_EQ(&editable->GetLayout().GetLine(0), line);
  EXPECT_EQ(editable->GetSelectionLast(), 0u);
}

TEST_F(TextTest, ContextMenuItems) {
  ASSERT_TRUE(Vexil3D::OS::SetClipboardText(u"z", 1));
  editable->SetText(u"menu");
  editable->Select(0, 2);
  manager.ClearContextMenu();
  EXPECT_TRUE(editable->OnContextMenu({0, 0}));
  const std::pair<std::uint32_t, bool> expected[] = {{5, true}, {6, true}, {7, true}, {8, true}, {0xFFFFFFFFu, false},
                                                     {9, true}};
  ASSERT_EQ(manager.GetContextMenuCount(), std::size(expected));
  for (std::uint32_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(manager.GetContextMenuItem(i).id, expected[i].first);
    EXPECT_EQ(manager.GetContextMenuItem(i).enabled != 0, expected[i].second);
  }
  EXPECT_EQ(manager.GetContextMenuItem(4).separator, 1);
  manager.ClearContextMenu();
  selectable->SetText(u"read");
  selectable->OnContextMenu({0, 0});
  EXPECT_FALSE(manager.GetContextMenuItem(0).enabled);  // cut: not editable
  EXPECT_FALSE(manager.GetContextMenuItem(1).enabled);  // copy: nothing selected

  editable->OnContextMenuCommand(TamberGUI::GUI::TEXT_MENU_DELETE);
  EXPECT_EQ(U32(editable), U"nu");
  editable->OnContextMenuCommand(TamberGUI::GUI::TEXT_MENU_SELECT_ALL);
  editable->OnContextMenuCommand(TamberGUI::GUI::TEXT_MENU_PASTE);
  EXPECT_EQ(U32(editable), U"z");
}

TEST_F(TextTest, CaretBlinksOnlyWithTheFocus) {
  editable->Focus();
  ASSERT_EQ(manager.GetFocusedElement(), editable);
  editable->Process(0.5f);
  EXPECT_TRUE(editable->IsCaretVisible());
  editable->Process(0.04f);  // past 530 ms
  EXPECT_FALSE(editable->IsCaretVisible());
  editable->Process(0.54f);
  EXPECT_TRUE(editable->IsCaretVisible());
  editable->Process(0.5f);
  selectable->Focus();
  editable->Process(0.1f);  // the timer starts again when the focus comes back
  editable->Focus();
  editable->Process(0.5f);
  EXPECT_TRUE(editable->IsCaretVisible());
}

TEST_F(TextTest, MouseSelectsByDragging) {
  editable->SetText(u"drag over this");
  manager.UpdateLayout();
  const float y = editable->m_fTopEdge + 5;
  Mouse(SDL_MOUSEBUTTONDOWN, 1, static_cast<int>(y));
  EXPECT_EQ(manager.GetFocusedElement(), editable);
  Mouse(SDL_MOUSEMOTION, static_cast<int>(editable->m_fLeft + editable->m_fWidthPx - 1), static_cast<int>(y));
  Mouse(SDL_MOUSEBUTTONUP, static_cast<int>(editable->m_fLeft + editable->m_fWidthPx - 1), static_cast<int>(y));
  EXPECT_EQ(editable->GetSelectionFirst(), 0u);
  EXPECT_EQ(editable->GetSelectionLast(), 14u);
  // The plain element lets the mouse through.
  EXPECT_FALSE(plain->ContainsPoint({1, 5}));
}

TEST_F(TextTest, RenderDrawsSelectionShadowTextAndCaret) {
  editable->SetText(u"ab");
  editable->Focus();
  editable->Select(0, 1);
  manager.UpdateLayout();
  manager.UpdateClipRect();
  RecordingI2D renderer;
  editable->Render(&renderer);
  ASSERT_GE(renderer.draws.size(), 5u);
  EXPECT_EQ(std::uint32_t(renderer.draws.front().colour), 0xFF0000FFu);  // the highlight first
  EXPECT_EQ(renderer.draws.front().material, nullptr);
  const auto& caret = renderer.draws.back();
  EXPECT_EQ(std::uint32_t(caret.colour), 0xFF00FF00u);  // the caret last, in the text colour
  EXPECT_FLOAT_EQ(caret.width, 2.0f);
  EXPECT_EQ(std::uint32_t(renderer.draws[renderer.draws.size() - 2].colour), 0xFF000000u);  // its shadow

  // Unfocused, the selection is hidden and no caret is drawn.
  selectable->Focus();
  renderer.draws.clear();
  editable->Render(&renderer);
  for (const auto& draw : renderer.draws) EXPECT_NE(draw.material, nullptr);
}

// A data object offering CF_UNICODETEXT with the given bytes (no terminator added).
struct TestData : IDataObject {
  std::vector<char16_t> units;
  HRESULT query = S_OK;
  HRESULT OLE_STDCALL QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG OLE_STDCALL AddRef() override { return 1; }
  ULONG OLE_STDCALL Release() override { return 1; }
  HRESULT OLE_STDCALL GetData(FORMATETC* format, STGMEDIUM* medium) override {
    if (format->cfFormat != CF_UNICODETEXT) return DV_E_FORMATETC;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, units.size() * sizeof(char16_t));
    std::memcpy(GlobalLock(memory), units.data(), units.size() * sizeof(char16_t));
    GlobalUnlock(memory);
    *medium = {TYMED_HGLOBAL, memory, nullptr};
    return S_OK;
  }
  HRESULT OLE_STDCALL GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL QueryGetData(FORMATETC*) override { return query; }
  HRESULT OLE_STDCALL GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT OLE_STDCALL EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
};

struct DropCase {
  const char* name;
  DWORD allowed;
  DWORD keys;
  HRESULT query;
  DWORD overEffect, dropEffect;
  const char32_t* after;
};

TEST_F(TextTest, DropsFromElsewhere) {
  enginetest::AssertionCapture capture;
  const DropCase cases[] = {
      {"move allowed, copied without alt", DROPEFFECT_MOVE | DROPEFFECT_COPY, 0, S_OK, DROPEFFECT_MOVE, DROPEFFECT_COPY,
       U"xyzab"},
      {"alt moves", DROPEFFECT_MOVE | DROPEFFECT_COPY, MK_ALT, S_OK, DROPEFFECT_MOVE, DROPEFFECT_MOVE, U"xyzab"},
      {"copy only", DROPEFFECT_COPY, MK_ALT, S_OK, DROPEFFECT_COPY, DROPEFFECT_COPY, U"xyzab"},
      {"move only without alt", DROPEFFECT_MOVE, 0, S_OK, DROPEFFECT_MOVE, DROPEFFECT_NONE, U"ab"},
      {"no text", DROPEFFECT_COPY, 0, S_FALSE, DROPEFFECT_NONE, DROPEFFECT_NONE, U"ab"},
  };
  manager.UpdateLayout();
  const Vexil3D::CVector2D start{editable->m_fLeft + 1, editable->m_fTopEdge + 5};
  for (const DropCase& c : cases) {
    SCOPED_TRACE(c.name);
    editable->SetText(u"ab");
    manager.UpdateLayout();
    TestData data;
    data.units = {u'x', u'y', u'z'};  // unterminated: bounded by the block
    data.query = c.query;
    DWORD effect = c.allowed;
    manager.DragEnter(&data, c.keys, start, &effect);
    EXPECT_EQ(effect, c.overEffect);
    EXPECT_EQ(editable->IsDropCaretShown(), c.overEffect != DROPEFFECT_NONE);
    effect = c.allowed;
    manager.Drop(&data, c.keys, start, &effect);
    EXPECT_EQ(effect, c.dropEffect);
    EXPECT_EQ(U32(editable), std::u32string(c.after));
    EXPECT_FALSE(editable->IsDropCaretShown());
  }
  EXPECT_EQ(capture.Count(), 0u);
  TestData failing;
  failing.query = E_FAIL;
  DWORD effect = DROPEFFECT_COPY;
  manager.DragEnter(&failing, 0, start, &effect);
  EXPECT_TRUE(capture.LastNames(u"SUCCEEDED(hr)"));
  EXPECT_EQ(effect, DROPEFFECT_NONE);
}

// The drop caret during a drag over the element: DropWidth times the scale, in the text colour,
// after its shadow.
TEST_F(TextTest, TheDropCaretIsDropWidthWide) {
  for (const float scale : {1.0f, 2.0f, 3.5f}) {
    SCOPED_TRACE(scale);
    manager.SetScreen(0, 0, kScreenWidth, kScreenHeight, scale);
    editable->SetText(u"drop here");
    selectable->Focus();  // no caret of the element's own
    manager.UpdateLayout();
    manager.UpdateClipRect();
    TestData data;
    data.units = {u'x', 0};
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    const Vexil3D::CVector2D point{editable->m_fLeft + 2, editable->m_fTopEdge + 2};
    ASSERT_TRUE(manager.DragEnter(&data, 0, point, &effect));
    ASSERT_TRUE(editable->IsDropCaretShown());
    RecordingI2D renderer;
    editable->Render(&renderer);
    std::vector<RecordingI2D::Draw> carets;
    for (const auto& d : renderer.draws) {
      if (d.material == nullptr) carets.push_back(d);
    }
    ASSERT_EQ(carets.size(), 2u);
    EXPECT_EQ(std::uint32_t(carets[0].colour), 0xFF000000u);
    EXPECT_EQ(std::uint32_t(carets[1].colour), 0xFF00FF00u);
    for (const auto& caret : carets) EXPECT_FLOAT_EQ(caret.width, 2.0f * scale);
    manager.DragLeave();
    EXPECT_FALSE(editable->IsDropCaretShown());
  }
}

TEST_F(TextTest, DraggingOwnTextMovesOrCopiesIt) {
  editable->SetText(u"one two");
  manager.UpdateLayout();
  const float y = editable->m_fTopEdge + 5;
  const float end = editable->m_fLeft + editable->m_fWidthPx - 0.5f;
  for (DWORD keys : {DWORD(0), MK_CONTROL}) {
    SCOPED_TRACE(keys);
    editable->SetText(u"one two");
    editable->Select(0, 3);  // "one"
    platform::SetDragDropHandler([&](IDataObject* data, IDropSource*, DWORD allowed, DWORD* effect) {
      *effect = allowed;
      manager.DragEnter(data, keys, {end, y}, effect);
      *effect = allowed;
      manager.Drop(data, keys, {end, y}, effect);
      return DRAGDROP_S_DROP;
    });
    Mouse(SDL_MOUSEBUTTONDOWN, static_cast<int>(editable->m_fLeft + 2), static_cast<int>(y));
    Mouse(SDL_MOUSEMOTION, static_cast<int>(editable->m_fLeft + 3), static_cast<int>(y));
    Mouse(SDL_MOUSEBUTTONUP, static_cast<int>(end), static_cast<int>(y));
    EXPECT_EQ(U32(editable), keys == 0 ? U" twoone" : U"one twoone");
    EXPECT_EQ(editable->GetSelectionLast() - editable->GetSelectionFirst(), 3u);
  }
  platform::SetDragDropHandler({});
}

TEST_F(TextTest, MissingFontsAndSizesDrawNothing) {
  enginetest::AssertionCapture capture;
  const char* pages[] = {
      R"(<Page><Text Name="t" FontStack="None" Size="20" Colour="#ffffff" Text="x"/></Page>)",
      R"(<Page><FontStack Name="Empty"/><Text Name="t" FontStack="Empty" Size="20" Colour="#ffffff" Text="x"/></Page>)",
      R"(<Page><FontStack Name="B"><Font Family="Open Sans"/></FontStack>
         <Text Name="t" FontStack="B" Size="0" Colour="#ffffff" Text="x"/></Page>)",
      R"(<Page><FontStack Name="B"><Font Family="Open Sans"/></FontStack>
         <Text Name="t" FontStack="B" Size="nan" Colour="#ffffff" Text="x"/></Page>)",
  };
  for (const char* page : pages) {
    SCOPED_TRACE(page);
    ASSERT_TRUE(Load(page));
    auto* text = dynamic_cast<TextElement*>(Find(u"t"));
    ASSERT_NE(text, nullptr);
    EXPECT_FALSE(text->HasFontStack());
    RecordingI2D renderer;
    manager.GetRoot()->Render(&renderer);
    EXPECT_TRUE(renderer.draws.empty());
  }
  capture.Clear();
  ASSERT_TRUE(Load(R"(<Page><Text Name="t" Size="20" Colour="#ffffff" Align="0.5" Transform="Sideways"/></Page>)"));
  EXPECT_EQ(capture.Count(), 2u);  // Align without a fixed width, the unknown transform
}

}  // namespace
