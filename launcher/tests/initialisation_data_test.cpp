// Initialisation block: round trips, the launcher's thread id replaced, hostile blocks refused, fixed fields.
#include <gtest/gtest.h>

#include <cstring>

#include <launcher/InitialisationData.h>

namespace {

struct Lists {
  tList descriptors;
  tList options;
  ~Lists() { FreeInitDataLists(&descriptors, &options); }
};

void Fill(Lists* lists, std::uint32_t n, std::uint32_t m) {
  for (std::uint32_t i = 0; i < n; ++i) {
    auto* d = new ModuleDescriptor{};
    d->kind = i;
    SetFieldText(d->name, u"Module" + std::u16string(1, char16_t(u'A' + i)));
    SetFieldText(d->path, u"C:\\mods\\" + std::u16string(i + 1, u'x'));
    lists->descriptors.Append(d);
  }
  for (std::uint32_t i = 0; i < m; ++i) {
    auto* o = new ModuleOption{};
    SetFieldText(o->optionName, u"opt" + std::u16string(i + 1, u'o'));
    SetFieldText(o->moduleName, u"ModuleA");
    SetFieldText(o->value, std::u16string(i, u'v'));
    lists->options.Append(o);
  }
}

template <typename Record>
void ExpectSameRecords(const tList& a, const tList& b) {
  ASSERT_EQ(a.m_Count, b.m_Count);
  for (const ListNode *x = a.m_pHead, *y = b.m_pHead; x != nullptr; x = x->m_pNext, y = y->m_pNext) {
    EXPECT_EQ(std::memcmp(x->m_pRecord, y->m_pRecord, sizeof(Record)), 0);
  }
}

struct Shape {
  std::uint32_t descriptors, options;
  std::size_t size;
};

TEST(InitialisationData, RoundTripsWithTheLaunchersThreadIdReplaced) {
  const Shape shapes[] = {{0, 0, 3704}, {1, 0, 4356}, {0, 3, 4868}, {3, 2, 3704 + 3 * 652 + 2 * 388}};
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(testing::Message() << shape.descriptors << " descriptors, " << shape.options << " options");
    Lists in;
    Fill(&in, shape.descriptors, shape.options);
    InitialisationData settings = MakeInitialisationHeader();
    SetFieldText(settings.crashDumpDirectory, u"C:\\dumps");
    settings.startDelay = 250;
    settings.terminateAfterDump = 1;
    settings.gameMainThreadId = 0xDEADBEEF;
    auto block = SerialiseInitialisationData(settings, 4242, in.descriptors, in.options);
    ASSERT_EQ(block.size(), shape.size);
    EXPECT_EQ(InitialisationBlockSize(in.descriptors, in.options), shape.size);
    EXPECT_EQ(std::memcmp(block.data(), "KAVO", 4), 0);

    InitialisationData header;
    Lists out;
    ASSERT_TRUE(ParseInitialisationData(block.data(), block.size(), &header, &out.descriptors, &out.options));
    EXPECT_EQ(header.gameMainThreadId, 4242u);
    settings.gameMainThreadId = 4242;
    EXPECT_EQ(std::memcmp(&header, &settings, sizeof header), 0);
    ExpectSameRecords<ModuleDescriptor>(in.descriptors, out.descriptors);
    ExpectSameRecords<ModuleOption>(in.options, out.options);
  }
}

// Blocks built by hand: a header, then the counts and as many record bytes as given.
struct Hostile {
  const char* what;
  std::size_t size;  // bytes offered of the built block
  std::uint32_t descriptorCount, optionCount;
  bool parses;
};

TEST(InitialisationData, ParsesOnlyWhatTheBlockHolds) {
  constexpr std::size_t kOne = kInitEmptyBlockSize + sizeof(ModuleDescriptor) + sizeof(ModuleOption);
  const Hostile cases[] = {
      {"empty", 0, 0, 0, false},
      {"header cut", kInitHeaderSize - 1, 0, 0, false},
      {"no descriptor count", kInitHeaderSize, 0, 0, false},
      {"no option count", kInitHeaderSize + 4, 0, 0, false},
      {"empty lists", kInitEmptyBlockSize, 0, 0, true},
      {"descriptor cut", kOne - sizeof(ModuleOption) - 5, 1, 1, false},
      {"option cut", kOne - 1, 1, 1, false},
      {"whole", kOne, 1, 1, true},
      {"page padding after it", kOne + 100, 1, 1, true},
      {"descriptor count past the end", kOne, 2, 1, false},
      {"descriptor count that wraps 32 bits", kOne, 0x0FFFFFFF, 1, false},
      {"largest option count", kOne, 1, 0xFFFFFFFF, false},
  };
  std::vector<std::uint8_t> built(kOne + 100, 0xAB);
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.what);
    std::memcpy(built.data() + kInitHeaderSize, &c.descriptorCount, 4);
    const std::size_t optionCountAt = kInitHeaderSize + 4 + (c.descriptorCount == 0 ? 0 : sizeof(ModuleDescriptor));
    std::fill(built.begin() + kInitHeaderSize + 4, built.end(), 0xAB);
    std::memcpy(built.data() + optionCountAt, &c.optionCount, 4);
    InitialisationData header;
    std::memset(&header, 0x11, sizeof header);
    Lists out;
    out.options.Append(new ModuleOption{});  // what the caller already held stays
    const bool parsed = ParseInitialisationData(built.data(), c.size, &header, &out.descriptors, &out.options);
    EXPECT_EQ(parsed, c.parses);
    EXPECT_EQ(out.descriptors.m_Count, parsed ? c.descriptorCount : 0);
    EXPECT_EQ(out.options.m_Count, 1 + (parsed ? c.optionCount : 0));
    EXPECT_EQ(header.major, parsed ? 0xABABABABu : 0x11111111u);
  }
}

TEST(InitialisationData, UnterminatedFieldsReadToTheirEnd) {
  ModuleDescriptor descriptor;
  ModuleOption option;
  std::fill(std::begin(descriptor.name), std::end(descriptor.name), u'n');
  std::fill(std::begin(descriptor.path), std::end(descriptor.path), u'p');
  std::fill(std::begin(option.value), std::end(option.value), u'v');
  EXPECT_EQ(FieldText(descriptor.name), std::u16string(kInitNameLength, u'n'));
  EXPECT_EQ(FieldText(descriptor.path), std::u16string(kInitPathLength, u'p'));
  EXPECT_EQ(FieldText(option.value), std::u16string(kInitNameLength, u'v'));
  // Writing a text too long keeps its first units and says it was cut; one that fits is terminated.
  EXPECT_FALSE(SetFieldText(descriptor.name, std::u16string(kInitNameLength + 1, u'x')));
  EXPECT_EQ(FieldText(descriptor.name), std::u16string(kInitNameLength, u'x'));
  EXPECT_TRUE(SetFieldText(descriptor.name, u"ab"));
  EXPECT_EQ(FieldText(descriptor.name), u"ab");
  EXPECT_EQ(descriptor.name[kInitNameLength - 1], u'\0');
}

TEST(InitialisationData, ModNamesThatWouldLeaveModsAreNotMountable) {
  const std::pair<std::u16string_view, bool> cases[] = {
      {u"", false},   {u".", false},    {u"..", false},      {u"a/b", false},
      {u"a\\b", false}, {u"..a", true}, {u"Levels", true}, {u"my mod.v2", true},
  };
  for (const auto& [name, mountable] : cases) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_EQ(IsMountableModName(name), mountable);
  }
}

}  // namespace
