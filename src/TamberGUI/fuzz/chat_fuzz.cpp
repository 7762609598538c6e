// Fuzzes the chat window: arbitrary lines (markup, colour codes, any UTF-16 units) added by every way in, then
// drawn into a counting I2D, with wrapping, visibility and scale taken from the input.
#include <TamberGUI/Windows/ChatWindow.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>

#include "PageFuzzSupport.h"

namespace {

constexpr float kScales[] = {1.0f, 0.5f, 2.0f, 0.0f};

enum : std::uint8_t { kWrap = 1, kHidden = 2 };
enum : std::uint8_t { kByAddLine = 0, kByPush = 1, kByPrintf = 2, kByLog = 3 };

}  // namespace

// Input: a flags byte and a scale byte, then records of {how and kind, unit count, units (2 bytes each)}.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  guifuzz::AnswerAssertions();
  static guifuzz::Fonts fonts;
  constexpr std::size_t kHeadSize = 2, kRecordHeadSize = 2;
  if (size < kHeadSize) return 0;
  Vexil3D::CChatWindow chat(nullptr, &fonts.registry, kScales[data[1] % std::size(kScales)]);
  chat.SetWrap((data[0] & kWrap) != 0);
  chat.SetVisible((data[0] & kHidden) == 0);
  guifuzz::CountingI2D renderer;
  std::size_t at = kHeadSize;
  while (at + kRecordHeadSize <= size) {
    const std::uint8_t how = data[at] & 3, kind = data[at] >> 2;
    std::size_t units = data[at + 1];
    at += kRecordHeadSize;
    units = std::min(units, (size - at) / 2);
    std::u16string text(units, u'\0');
    for (std::size_t i = 0; i < units; ++i) text[i] = char16_t(data[at + 2 * i] | data[at + 2 * i + 1] << 8);
    at += 2 * units;
    switch (how) {
      case kByAddLine: chat.AddLine(text.c_str(), kind); break;
      case kByPush: chat.PushLine(text, kind); break;
      case kByPrintf: chat.Printf(u"%s", text.c_str()); break;
      case kByLog: chat.Log(kind, text.c_str()); break;
    }
    chat.Draw(&renderer);
  }
  chat.Draw(&renderer);
  return 0;
}
