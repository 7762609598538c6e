#include <gtest/gtest.h>

#include <base/AudioSource.h>
#include <base/Stream.h>
#include <hack/BuiltInModules.h>
#include <hack/ModuleEventData.h>

#include "OggFixture.h"

namespace {

struct StreamCase {
  const char* name;
  std::vector<std::uint8_t> bytes;
  std::uint32_t reply;
};

// The handler answers 11 with a source of the stream's sound, or 1 with the stream back where it stood.
TEST(OggVorbisSupport, OpenAudioSource) {
  std::vector<std::uint8_t> ogg = oggfixture::Encode(2, 22050, 3000);
  std::vector<std::uint8_t> prefixed(ogg.size() + 7, 0);
  std::copy(ogg.begin(), ogg.end(), prefixed.begin() + 7);
  const StreamCase cases[] = {{"Ogg Vorbis", prefixed, MODULEREPLY_VALUE},
                              {"not Ogg", std::vector<std::uint8_t>(5000, 0x55), MODULEREPLY_HANDLED},
                              {"cut short", std::vector<std::uint8_t>(prefixed.begin(), prefixed.begin() + 60),
                               MODULEREPLY_HANDLED}};
  EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_INIT, nullptr), MODULEREPLY_HANDLED);
  EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_LOADSAMPLE, nullptr), 0u);
  for (auto c : cases) {
    SCOPED_TRACE(c.name);
    auto* stream = new CByteArrayStream(c.bytes.data(), std::uint32_t(c.bytes.size()));
    ASSERT_TRUE(stream->Seek(7, CStream::kSeekBegin));
    OpenAudioSourceEventData block{};
    block.size = sizeof(block);
    block.stream = stream;
    EXPECT_EQ(OggVorbisSupportModuleHandler(MODULEEVENT_OPENAUDIOSOURCE, &block), c.reply);
    std::uint64_t position = 0;
    EXPECT_TRUE(stream->GetPosition(&position));
    if (c.reply != MODULEREPLY_VALUE) {
      EXPECT_EQ(position, 7u);
    }
    stream->Release();  // a source keeps its stream
    if (c.reply == MODULEREPLY_VALUE) {
      ASSERT_NE(block.result, nullptr);
      std::uint32_t frames = 0;
      EXPECT_TRUE(block.result->GetLength(&frames));
      EXPECT_EQ(frames, 3000u);
      float sample[2];
      EXPECT_EQ(block.result->Read(sample, sizeof(sample)), sizeof(sample));
      block.result->Release();
    } else {
      EXPECT_EQ(block.result, nullptr);
    }
  }
}

}  // namespace
