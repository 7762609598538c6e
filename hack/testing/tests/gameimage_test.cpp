// Tests of the game image harness: sections for any size, one registered image at a time.
#include <gtest/gtest.h>

#include <tuple>

#include <hack/testing/GameImage.h>
#include <platform/memory.h>
#include <platform/modules.h>

namespace {

using gameimage::CGameImage;

DWORD ProtectionAt(std::uint32_t address) {
  void* page = reinterpret_cast<void*>(std::uintptr_t(address));
  DWORD old = 0, ignored = 0;
  VirtualProtect(page, 1, PAGE_READONLY, &old);
  VirtualProtect(page, 1, old, &ignored);
  return old;
}

TEST(GameImageHarness, DataAreaIsWritableWhateverTheSize) {
  const std::uint32_t page = std::uint32_t(platform::PageSize());
  const std::uint32_t sizes[] = {0x6B48B, 0x20000 + 1, 0x30000 - 4, 0x40000, 0x800, 0x10000};
  for (std::uint32_t size : sizes) {
    SCOPED_TRACE(size);
    CGameImage image(gameimage::kPreferredBase, size);
    ASSERT_TRUE(image.IsMapped());
    EXPECT_EQ((std::tuple{image.Base() + image.Size() - image.Data(), ProtectionAt(image.Data()),
                          ProtectionAt(image.Base() + size - 1)}),
              (std::tuple{std::min(size, gameimage::kDataAreaSize), DWORD(PAGE_READWRITE), DWORD(PAGE_READWRITE)}));
    if (image.Data() - image.Base() >= page) {
      EXPECT_EQ(ProtectionAt(image.Data() - page), DWORD(PAGE_EXECUTE_READ));
    }
  }
}

TEST(GameImageHarness, SecondRegisteredImageIsRefusedAndUnregistersNothing) {
  CGameImage first;
  ASSERT_TRUE(first.IsMapped());
  const auto firstModule = reinterpret_cast<HMODULE>(std::uintptr_t(first.Base()));
  {
    ::testing::internal::CaptureStderr();
    CGameImage second(gameimage::kRelocatedBase);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(!second.IsMapped() && said.find("refused a second game image") != std::string::npos) << said;
    EXPECT_EQ(GetModuleHandleW(nullptr), firstModule);
    // An image that does not register may live beside it.
    CGameImage unregistered(gameimage::kRelocatedBase, gameimage::kDefaultSize, gameimage::kDefaultPath, false);
    EXPECT_TRUE(unregistered.IsMapped());
  }
  EXPECT_EQ(GetModuleHandleW(nullptr), firstModule);
}

}  // namespace
