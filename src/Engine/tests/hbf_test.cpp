// HBF chunk trees: versions and bodies, hostile sizes and nesting, every prefix, detaching, payloads.
#include <gtest/gtest.h>

#include <tuple>

#include "AssertionCapture.h"
#include "ChunkFixtures.h"

using namespace Vexil3D;
using enginetest::Bytes;

namespace {

CChunk* Add(CChunk* parent, CChunk* child, const std::u16string& name) {
  child->SetName(name);
  parent->AppendChild(child);
  return child;
}

// root { data "d" [1 2 3], history "h" "log", element "e" {x="1"} { unknown 40 "u" [9] }, unknown 500 }
void BuildTree(CRootChunk* root) {
  root->SetName(u"root");
  static_cast<CDataChunk*>(Add(root, new CDataChunk, u"d"))->SetData("\x01\x02\x03", 3);
  auto* history = new CHistoryChunk;
  Add(root, history, u"h");
  Bytes text = {'l', 'o', 'g'};
  history->ReadData(enginetest::Over(text));
  auto* element = static_cast<CElementChunk*>(Add(root, new CElementChunk, u"e"));
  element->GetAttributes().Set(u"x", new CArgumentString(u"1"));
  static_cast<CDataChunk*>(Add(element, new CDataChunk(40), u"u"))->SetData("\x09", 1);
  Add(root, new CDataChunk(500), std::u16string(200, u'n'));  // a name with a two-byte prefix
}

// Every chunk class, names, types and payloads come back: written again, the tree gives the same bytes.
void ExpectTree(CRootChunk* root, const Bytes& file, std::uint32_t version, bool compressed, bool oneBytePrefix) {
  ASSERT_EQ(root->GetChildCount(), 4u);
  EXPECT_EQ((std::tuple{dynamic_cast<CHistoryChunk*>(root->GetChild(1)) != nullptr,
                        root->GetChild(2)->GetChild(0)->GetType(), root->GetChild(3)->GetParent(), root->GetChild(4)}),
            (std::tuple{true, 40u, root, nullptr}));
  EXPECT_EQ(enginetest::WriteFile(root, version, compressed, oneBytePrefix), file);
}

struct Layout { std::uint32_t version; bool compressed; bool oneBytePrefix; };

class HbfLayout : public ::testing::TestWithParam<Layout> {};

TEST_P(HbfLayout, ReadsBackAndEveryPrefixFails) {
  CRootChunk written;
  BuildTree(&written);
  const Bytes file = enginetest::WriteFile(&written, GetParam().version, GetParam().compressed, GetParam().oneBytePrefix);
  CRootChunk read;
  ASSERT_TRUE(read.Read(enginetest::Over(file)));
  EXPECT_EQ((std::tuple{read.GetVersion(), read.IsCompressed()}),
            (std::tuple{GetParam().version, GetParam().compressed}));
  ExpectTree(&read, file, GetParam().version, GetParam().compressed, GetParam().oneBytePrefix);
  for (std::size_t length = 0; length < file.size(); ++length) {
    CRootChunk prefix;
    EXPECT_FALSE(prefix.Read(enginetest::Over(Bytes(file.begin(), file.begin() + length)))) << length;
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, HbfLayout,
                         ::testing::Values(Layout{6, false, false}, Layout{6, false, true}, Layout{6, true, false},
                                           Layout{7, false, false}, Layout{7, true, false}, Layout{8, false, false},
                                           Layout{8, true, false}));

// Version 6 headers of either writer, long names (prefixes of one to three bytes) and bytes after the
// name in the header: every tree reads back with its names and payloads.
TEST(Hbf, Version6HeadersOfEitherWriterWithExtraBytes) {
  for (const bool oneByte : {false, true}) {
    for (const std::uint16_t extra : {0, 1, 2, 3, 7}) {
      for (const std::size_t length : {std::size_t(0), std::size_t(127), std::size_t(128), std::size_t(200),
                                       std::size_t(16383), std::size_t(16384), std::size_t(40000)}) {
        SCOPED_TRACE(testing::Message() << (oneByte ? "one-byte" : "whole prefix") << ", " << extra
                                        << " extra, name of " << length);
        CRootChunk written;
        written.SetName(std::u16string(length, u'r'));
        auto* outer = static_cast<CDataChunk*>(Add(&written, new CDataChunk, std::u16string(length, u'a')));
        outer->SetData("\x01\x02", 2);
        static_cast<CDataChunk*>(Add(outer, new CDataChunk(40), std::u16string(length / 2 + 1, u'b')))
            ->SetData("\x03", 1);
        Add(&written, new CDataChunk(500), u"c");
        const Bytes file = enginetest::WriteFile(&written, 6, false, oneByte, extra);
        CRootChunk read;
        ASSERT_TRUE(read.Read(enginetest::Over(file)));
        ASSERT_EQ(read.GetChildCount(), 2u);
        ASSERT_EQ(read.GetChild(0)->GetChildCount(), 1u);
        // Written again without the extra bytes, it gives what the same tree gives.
        EXPECT_EQ(enginetest::WriteFile(&read, 6, false), enginetest::WriteFile(&written, 6, false));
      }
    }
  }
}

// Offsets into a version-8 plain file of one data chunk named "a" with payload [7]:
// 0 magic, 4 version, 8 skipped, 12 skipped, 16 root name, 17 root P, 21 root N, 25 child type,
// 29 child name, 31 child P, 35 payload, 36 child N. Compressed: 12 inflated size (28), 16 compressed
// size. Version 6 plain: 12 root header size (u16), 14 root name, 15 root record size.
Bytes SmallFile(std::uint32_t version, bool compressed) {
  CRootChunk root;
  static_cast<CDataChunk*>(Add(&root, new CDataChunk, u"a"))->SetData("\x07", 1);
  return enginetest::WriteFile(&root, version, compressed);
}

void Patch(Bytes* file, std::size_t at, std::uint32_t value) { std::memcpy(file->data() + at, &value, sizeof(value)); }

TEST(Hbf, HostileHeadersAndSizesFailCleanly) {
  const struct {
    const char* what;
    std::uint32_t version;
    bool compressed;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"magic", 8, false, 0, 0x46424858},        {"flag", 8, false, 0, 0x41464248},
      {"version 5", 8, false, 4, 5},             {"version 9", 8, false, 4, 9},
      {"root payload size", 8, false, 17, 0xFFFFFFFF}, {"child payload size", 8, false, 31, 0xFFFFFFFF},
      {"root child count", 8, false, 21, 0xFFFFFFFF},  {"child count", 8, false, 36, 0xFFFFFFFF},
      {"inflated size over the cap", 8, true, 12, CRootChunk::kMaxInflatedSize + 1},
      {"inflated size beyond what deflate gives", 8, true, 12, CRootChunk::kMaxInflatedSize},
      {"inflated size too large", 8, true, 12, 29},    {"inflated size too small", 8, true, 12, 27},
      {"compressed size", 8, true, 16, 0xFFFFFFFF},    {"v6 header size", 6, false, 12, 0},
      {"v6 record size", 6, false, 15, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes file = SmallFile(c.version, c.compressed);
    CRootChunk intact;
    ASSERT_TRUE(intact.Read(enginetest::Over(file)));
    const std::uint16_t small = static_cast<std::uint16_t>(c.value);  // version 6: root H at 12, root T at 15
    if (c.version == 6) std::memcpy(file.data() + c.at, &small, sizeof(small));
    else Patch(&file, c.at, c.value);
    EXPECT_FALSE(CRootChunk().Read(enginetest::Over(file)));
  }
}

TEST(Hbf, DeepNestingFailsCleanly) {
  constexpr std::uint32_t kLevels = 100000;
  Bytes file = {'H', 'B', 'F', 0xFF};
  enginetest::Put<std::uint32_t>(&file, 7);
  enginetest::Put<std::uint32_t>(&file, 0);
  for (std::uint32_t i = 0; i < kLevels; ++i) {
    file.push_back(0);                            // name
    enginetest::Put<std::uint32_t>(&file, 0);     // payload size
    enginetest::Put<std::uint32_t>(&file, 1);     // one child...
    enginetest::Put<std::uint32_t>(&file, CHUNK_DATA);  // ...of type 1
  }
  EXPECT_FALSE(CRootChunk().Read(enginetest::Over(file)));
}

// A chunk that reads one byte of its payload and counts its destruction.
struct ShortReader : CChunk {
  static inline int destroyed = 0;
  ~ShortReader() override { ++destroyed; }
  bool ReadData(Stream* payload) override {
    std::uint8_t byte;
    return payload->Read(&byte, 1) == 1 && byte != 0xEE;
  }
};

TEST(Hbf, ShortPayloadReadersResumeAtTheEndAndFailedChildrenGo) {
  constexpr std::uint32_t kShortType = 150;
  CChunk::Register(kShortType, [] { return static_cast<CChunk*>(new ShortReader); });
  CRootChunk written;
  for (int i = 0; i < 3; ++i)
    static_cast<CDataChunk*>(Add(&written, new CDataChunk(kShortType), u"s"))->SetData("\x01\x02\x03", 3);
  Bytes file = enginetest::WriteFile(&written, 8, false);
  {
    CRootChunk read;
    ASSERT_TRUE(read.Read(enginetest::Over(file)));
    ASSERT_EQ(read.GetChildCount(), 3u);
    EXPECT_TRUE(dynamic_cast<ShortReader*>(read.GetChild(2)));
  }
  const int afterGood = ShortReader::destroyed;
  file[file.size() - 4 - 3] = 0xEE;  // the third child's payload now fails its reader
  {
    CRootChunk read;
    EXPECT_EQ((std::tuple{read.Read(enginetest::Over(file)), read.GetChildCount()}), (std::tuple{false, 2u}));
  }
  CChunk::RegisterTypes();
  std::unique_ptr<CChunk> unregistered(CChunk::Create(kShortType));  // a plain data chunk again
  EXPECT_EQ((std::tuple{afterGood, ShortReader::destroyed, unregistered->GetType()}), (std::tuple{3, 6, kShortType}));
}

TEST(Hbf, DetachFindsChunksByIdentity) {
  CRootChunk root;
  CChunk* first = Add(&root, new CDataChunk, u"a");
  CChunk* middle = Add(&root, new CDataChunk, u"b");
  CChunk* last = Add(&root, new CDataChunk, u"c");
  delete middle;  // detaches itself
  last->Detach();
  CChunk* const parent = last->GetParent();
  delete last;
  EXPECT_EQ((std::tuple{parent, root.GetChildCount(), root.GetChild(0)}), (std::tuple{nullptr, 1u, first}));
}

TEST(Hbf, ReadingIntoAChunkWithChildrenAssertsAndFails) {
  enginetest::AssertionCapture capture;
  CDataChunk parent;
  Add(&parent, new CDataChunk, u"a");
  Bytes record;
  CDataChunk empty;
  enginetest::WriteRecord(&record, &empty, 8);
  EXPECT_FALSE(parent.Read(enginetest::Over(record)));
  EXPECT_EQ((std::tuple{capture.LastNames(u"m_Children.size() == 0"), parent.GetChildCount()}), (std::tuple{true, 1u}));
}

// A stream that hands out at most one byte per read.
struct Trickle : CMemoryStream {
  using CMemoryStream::CMemoryStream;
  std::uint32_t Read(void* buffer, std::uint32_t size) override { return CMemoryStream::Read(buffer, size ? 1 : 0); }
};

TEST(Hbf, PayloadsRoundTripAndShortReadsFail) {
  CRootChunk root;
  BuildTree(&root);
  auto* texture = new CTextureChunk;
  texture->SetDescription(CTextureChunk::FORMAT_RAW, 64, 32);
  Add(&root, texture, u"t");
  auto* image = new CImageDataChunk;
  image->SetData("\x01\x02\x03\x04", 4);
  Add(&root, image, u"i");
  for (std::uint32_t i = 0; i < root.GetChildCount(); ++i) {
    CChunk* chunk = root.GetChild(i);
    SCOPED_TRACE(chunk->GetType());
    enginetest::GrowingStream first;
    ASSERT_TRUE(chunk->WriteData(&first));
    CChunk* copy = CChunk::Create(chunk->GetType());
    enginetest::GrowingStream second;
    ASSERT_TRUE(copy->ReadData(enginetest::Over(first.bytes)) && copy->WriteData(&second));
    EXPECT_EQ(first.bytes, second.bytes);
    if (dynamic_cast<CDataChunk*>(copy) || dynamic_cast<CHistoryChunk*>(copy)) {
      Strong<Stream> trickle;
      trickle.Attach(new Trickle(first.bytes.data(), static_cast<std::uint32_t>(first.bytes.size())));
      EXPECT_EQ(copy->ReadData(trickle), first.bytes.size() <= 1);
    }
    delete copy;
  }
}

}  // namespace
