// Textures from texture chunks: raw and PNG levels of every colour type and depth, damaged input,
// hostile sizes, the image-data writer; hardware sides and the resource table.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include <engine/Context.h>

#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;

namespace {

// A texture chunk as read from a file, with one image-data child per level.
std::unique_ptr<CTextureChunk> LoadTexture(std::uint16_t format, std::uint32_t width, std::uint32_t height,
                                           const std::vector<Bytes>& levels) {
  auto chunk = std::make_unique<CTextureChunk>();
  chunk->SetName(u"tex");
  chunk->SetDescription(format, width, height);
  for (const Bytes& level : levels) {
    auto* child = new CImageDataChunk;
    child->SetData(level.data(), static_cast<std::uint32_t>(level.size()));
    chunk->AppendChild(child);
  }
  chunk->OnLoaded();
  return chunk;
}

TEST(TextureRaw, LevelsHalveAndPixelsBecomeWordsAndBack) {
  std::vector<Bytes> levels;
  for (std::uint32_t w = 64, h = 32; w >= 16; w /= 2, h /= 2) {
    Bytes bytes(w * h * 4);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + w);
    levels.push_back(bytes);
  }
  auto chunk = LoadTexture(CTextureChunk::FORMAT_RAW, 64, 32, levels);
  Texture* texture = chunk->GetTexture();
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->GetName(), u"tex");
  for (std::uint32_t i = 0; i < 3; ++i) {
    CMipLevel* level = texture->GetMipLevel(i);
    EXPECT_EQ((std::tuple{level->GetWidth(), level->GetHeight(), level->HasAlpha()}),
              (std::tuple{64u >> i, 32u >> i, true}));
    const std::uint8_t* b = levels[i].data();
    enginetest::GrowingStream written;
    // R, G, B, A in the file.
    EXPECT_EQ((std::tuple{level->GetPixels()[1], chunk->GetChild(i)->WriteData(&written), written.bytes}),
              (std::tuple{CARGB(b[7], b[4], b[5], b[6]), true, levels[i]}));
  }
  EXPECT_EQ(texture->GetMipLevel(3), nullptr);
}

struct PngCase { int colourType; int depth; bool interlaced; };

// Sample s of pixel x in row y, and what an 8-bit channel of it becomes.
std::uint32_t Sample(std::uint32_t x, std::uint32_t y, std::uint32_t channel, int depth) {
  return (x * 5 + y * 3 + channel * 7) & ((1u << depth) - 1);
}
std::uint8_t Expand(std::uint32_t sample, int depth) {
  if (depth == 16) return static_cast<std::uint8_t>(sample >> 8);
  return static_cast<std::uint8_t>(sample * 255 / ((1u << depth) - 1));
}

class TexturePng : public ::testing::TestWithParam<PngCase> {};

TEST_P(TexturePng, DecodesEveryTakenLayout) {
  const PngCase c = GetParam();
  const std::uint32_t channels = c.colourType == 0 ? 1 : c.colourType == 2 ? 3 : c.colourType == 4 ? 2 : 4;
  constexpr std::uint32_t kWidth = 13, kHeight = 9;
  std::vector<Bytes> rows;
  for (std::uint32_t y = 0; y < kHeight; ++y) {
    Bytes row((kWidth * channels * c.depth + 7) / 8);
    for (std::uint32_t x = 0; x < kWidth; ++x)
      for (std::uint32_t ch = 0; ch < channels; ++ch) {
        const std::uint32_t bit = (x * channels + ch) * c.depth;
        const std::uint32_t s = Sample(x, y, ch, c.depth);
        if (c.depth == 16) {
          row[bit / 8] = static_cast<std::uint8_t>(s >> 8);
          row[bit / 8 + 1] = static_cast<std::uint8_t>(s);
        } else {
          row[bit / 8] |= static_cast<std::uint8_t>(s << (8 - c.depth - bit % 8));
        }
      }
    rows.push_back(row);
  }
  auto chunk = LoadTexture(CTextureChunk::FORMAT_PNG, 0, 0,
                           {enginetest::WritePng(kWidth, kHeight, c.colourType, c.depth, c.interlaced, rows)});
  CMipLevel* level = chunk->GetTexture()->GetMipLevel(0);
  ASSERT_EQ((std::tuple{level->GetWidth(), level->GetHeight(), level->HasAlpha()}),
            (std::tuple{kWidth, kHeight, c.colourType == 4 || c.colourType == 6}));
  for (std::uint32_t y = 0; y < kHeight; ++y)
    for (std::uint32_t x = 0; x < kWidth; ++x) {
      auto at = [&](std::uint32_t ch) { return Expand(Sample(x, y, ch, c.depth), c.depth); };
      const bool grey = channels <= 2;
      const std::uint8_t alpha = channels == 2 ? at(1) : channels == 4 ? at(3) : 0xFF;
      const CARGB expected = grey ? CARGB(alpha, at(0), at(0), at(0)) : CARGB(alpha, at(0), at(1), at(2));
      ASSERT_EQ(level->GetPixels()[y * kWidth + x], expected) << x << "," << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, TexturePng,
                         ::testing::ValuesIn(std::vector<PngCase>{
                             {0, 1, false}, {0, 2, true}, {0, 4, false}, {0, 8, true}, {0, 16, false}, {2, 8, false},
                             {2, 16, true}, {4, 8, true}, {4, 16, false}, {6, 8, false}, {6, 8, true}, {6, 16, true}}),
                         [](const ::testing::TestParamInfo<PngCase>& info) {
                           return "Type" + std::to_string(info.param.colourType) + "Depth" +
                                  std::to_string(info.param.depth) + (info.param.interlaced ? "Interlaced" : "");
                         });

TEST(TexturePng, GreyAndAlphaPixel) {
  auto chunk = LoadTexture(CTextureChunk::FORMAT_PNG, 0, 0, {enginetest::WritePng(1, 1, 4, 8, false, {{0x40, 0x80}})});
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk->GetTexture()->GetMipLevel(0)->GetPixels());
  EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{0x40, 0x40, 0x40, 0x80}));
}

TEST(TexturePng, RefusedInputLeavesTheLevelAsItWas) {
  const Bytes good = enginetest::WritePng(2, 2, 6, 8, false, {Bytes(8, 1), Bytes(8, 2)});
  const Bytes palette = enginetest::WritePng(2, 1, 3, 8, false, {{0, 1}}, {1, 2, 3, 4, 5, 6});
  const Bytes tooWide = enginetest::WritePng(CMipLevel::kMaxSide + 1, 1, 0, 1, false, {Bytes(2049, 0)});
  const struct { const char* what; Bytes bytes; } cases[] = {
      {"palette", palette}, {"truncated", Bytes(good.begin(), good.end() - 20)},
      {"no signature", Bytes(good.begin() + 8, good.end())},
      {"damaged signature", [&] { Bytes b = good; b[5] ^= 1; return b; }()}, {"too wide", tooWide},
  };
  for (const auto& c : cases) {
    CMipLevel level;
    ASSERT_TRUE(level.Create(1, 1));
    level.GetPixels()[0] = COLOUR_ORANGE;
    EXPECT_EQ((std::tuple{DecodePNG(enginetest::Over(c.bytes), &level), level.GetWidth(), level.GetPixels()[0]}),
              (std::tuple{false, 1u, COLOUR_ORANGE}))
        << c.what;
  }
}

TEST(TextureRaw, HostileSizesAndChildren) {
  Context context;
  context.Initialise();
  char log[4096] = {};
  Strong<Stream> logStream;
  logStream.Attach(new CMemoryStream(log, sizeof(log) - 1, CMemoryStream::ACCESS_WRITE));
  context.GetLogWriter().SetStream(logStream);
  context.GetLogWriter().SetTimeFormat(u"");

  const struct {
    const char* what;
    std::uint16_t format;
    std::uint32_t width, height, levels, bytes;
    std::uint32_t lastWidth, lastHeight;
    const char* logged;
  } cases[] = {
      {"short payload", 1, 4, 4, 1, 63, 0, 0, "Mip level 0 of texture tex holds 63 bytes of 64!"},
      {"side over the cap", 1, CMipLevel::kMaxSide * 2, 1, 1, 0, 0, 0, "is 32768 by 1 pixels, over 16384!"},
      {"huge sides", 1, 0xFFFFFFFF, 0xFFFFFFFF, 1, 0, 0, 0, "is 4294967295 by 4294967295 pixels"},
      {"level 32 and up are empty", 1, 0x80000000u, 1, 34, 0, 0, 0, nullptr},
      {"unknown format", 7, 1, 1, 1, 4, 0, 0, "Unknown texture format 7 in texture tex!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(log, 0, sizeof(log));
    logStream->Seek(0, STREAM_SEEK_BEGIN);
    auto chunk = LoadTexture(c.format, c.width, c.height, std::vector<Bytes>(c.levels, Bytes(c.bytes, 0xAB)));
    CMipLevel* last = chunk->GetTexture()->GetMipLevel(c.levels - 1);
    EXPECT_EQ((std::tuple{last->GetWidth(), last->GetHeight(), last->GetPixels()}),
              (std::tuple{c.lastWidth, c.lastHeight, nullptr}));
    EXPECT_TRUE(!c.logged || std::string(log).find(c.logged) != std::string::npos) << log;
  }
  // A child that is not a data chunk leaves its level empty; a texture without levels answers 0 and null.
  CTextureChunk odd;
  odd.SetDescription(CTextureChunk::FORMAT_RAW, 1, 1);
  odd.AppendChild(new CElementChunk);
  odd.OnLoaded();
  EXPECT_EQ(odd.GetTexture()->GetWidth(), 0u);
  Texture empty(0);
  EXPECT_EQ((std::tuple{empty.GetWidth(), empty.GetFormat(), empty.GetMipLevel(0)}), (std::tuple{0u, 0u, nullptr}));
}

TEST(TextureRaw, WriteRowsStaysInsideTheBuffer) {
  CMipLevel level;
  ASSERT_TRUE(level.Create(4, 2));
  const CARGB row[9] = {};
  EXPECT_EQ((std::tuple{level.WriteRows(1, 4, row), level.WriteRows(0, 8, row), level.WriteRows(1, 5, row),
                        level.WriteRows(0, 9, row), level.WriteRows(2, 1, row), CMipLevel().WriteRows(0, 0, row)}),
            (std::tuple{true, true, false, false, false, false}));
}

// A hardware side that counts how many of its kind live.
struct CountedSide : HWResource {
  static inline int live = 0;
  explicit CountedSide(Resource* owner) : HWResource(owner) { ++live; }
  ~CountedSide() override { --live; }
  bool Create() override { return true; }
};

// A resource that is its own hardware side.
struct SelfSide : Texture, CountedSide {
  SelfSide() : Texture(0), CountedSide(this) { SetHWResource(this); }
};

TEST(HardwareSides, EveryDeletionPathClearsTheOwner) {
  Strong<Texture> texture;
  texture.Attach(new Texture(1));
  texture->SetHWResource(new CountedSide(texture));
  delete texture->GetHWResource();
  HWResource* const afterDelete = texture->GetHWResource();
  texture->SetHWResource(new CountedSide(texture));
  HWResource::ReleaseAll();
  HWResource* const afterReleaseAll = texture->GetHWResource();
  texture->SetHWResource(new CountedSide(texture));
  texture->ReleaseHWResource();
  EXPECT_EQ((std::tuple{afterDelete, afterReleaseAll, CountedSide::live}), (std::tuple{nullptr, nullptr, 0}));

  Strong<SelfSide> self;
  self.Attach(new SelfSide);
  self->ReleaseHWResource();
  HWResource* const released = self->GetHWResource();
  self->SetHWResource(static_cast<CountedSide*>(self.Get()));
  HWResource::ReleaseAll();
  EXPECT_EQ((std::tuple{released, CountedSide::live}), (std::tuple{nullptr, 1}));
  self = nullptr;
  EXPECT_EQ(CountedSide::live, 0);
}

TEST(ResourceTable, AddFindReleaseClear) {
  CResourceTable table;
  std::vector<Strong<Texture>> textures;
  const char16_t* names[] = {u"a", u"b", u"A", u"self"};
  for (unsigned i = 0; i < 4; ++i) {
    textures.push_back(nullptr);
    textures.back().Attach(i == 3 ? new SelfSide : new Texture(1));
    textures.back()->SetName(names[i]);
    if (i != 3) textures.back()->SetHWResource(new CountedSide(textures.back()));
    table.GetList(i % 2 == 0 ? 2 : 3, 0).Add(textures.back());
    EXPECT_EQ(textures.back()->GetRefCount(), 2);
  }
  table.GetList(1, 1).Add(textures[0]);  // not a first list: invisible to the table's find
  // The case is kept.
  EXPECT_EQ((std::tuple{table.Find(u"a").Get(), table.Find(u"A").Get(), table.Find(u"c").Get()}),
            (std::tuple{textures[0].Get(), textures[2].Get(), nullptr}));
  // Released: "b" and the self side.
  EXPECT_EQ((std::tuple{table.GetList(3, 0).ReleaseHWResources(), CountedSide::live, textures[3]->GetHWResource()}),
            (std::tuple{2u, 3, nullptr}));
  const std::uint32_t clearedHeld = table.GetList(2, 0).Clear();
  textures[1] = nullptr;
  EXPECT_EQ((std::tuple{clearedHeld, table.GetList(3, 0).Clear(), table.GetList(3, 0).GetCount()}),
            (std::tuple{0u, 1u, 0u}));
}

// The device's release takes the hardware sides of the first and fifth list of every group and no
// other, whatever the group; a resource in several lists loses its side once.
TEST(ResourceTable, HardwareReleaseTakesTheFirstAndFifthLists) {
  CResourceTable table;
  std::vector<Strong<Texture>> textures;
  std::string expected;
  for (unsigned group = 0; group < CResourceTable::kGroupCount; ++group) {
    for (unsigned list = 0; list < CResourceTable::kListsPerGroup; ++list) {
      textures.push_back(nullptr);
      textures.back().Attach(new Texture(1));
      textures.back()->SetHWResource(new CountedSide(textures.back()));
      table.GetList(group, list).Add(textures.back());
      expected += list == 0 || list == 4 ? '-' : 'x';
    }
  }
  table.GetList(3, 4).Add(textures[1]);  // in a kept list and a released one
  expected[1] = '-';
  const int before = CountedSide::live;
  EXPECT_EQ(table.ReleaseHardware(), 9u);
  std::string kept;
  for (const auto& texture : textures) kept += texture->GetHWResource() ? 'x' : '-';
  EXPECT_EQ(kept, expected);
  EXPECT_EQ(CountedSide::live, before - 9);
  EXPECT_EQ(table.ReleaseHardware(), 0u);  // nothing left to release
  for (unsigned group = 0; group < CResourceTable::kGroupCount; ++group)
    for (unsigned list = 0; list < CResourceTable::kListsPerGroup; ++list) table.GetList(group, list).Clear();
  textures.clear();
  EXPECT_EQ(CountedSide::live, 0);
}

}  // namespace
