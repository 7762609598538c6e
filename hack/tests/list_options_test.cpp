// The game side's list, its name hash and the per-module option tables.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <hack/List.h>
#include <hack/ModuleOptions.h>

#include "HackTestSupport.h"

namespace {

std::vector<int> Walk(const tList& list) {
  std::vector<int> values;
  for (ListNode* node = list.m_pHead; node != nullptr; node = node->m_pNext) {
    values.push_back(*static_cast<int*>(node->m_pRecord));
    EXPECT_EQ(node->m_pList, &list);
  }
  // Backwards gives the same records in reverse.
  std::vector<int> backwards;
  for (ListNode* node = list.m_pTail; node != nullptr; node = node->m_pPrevious) {
    backwards.push_back(*static_cast<int*>(node->m_pRecord));
  }
  EXPECT_EQ(std::vector<int>(backwards.rbegin(), backwards.rend()), values);
  EXPECT_EQ(list.m_Count, values.size());
  return values;
}

TEST(HackList, AppendAndRemoveKeepHeadTailAndCount) {
  int records[4] = {0, 1, 2, 3};
  tList list;
  ListNode* nodes[4];
  for (int i = 0; i < 4; ++i) nodes[i] = list.Append(&records[i]);
  EXPECT_EQ(Walk(list), (std::vector<int>{0, 1, 2, 3}));
  ListNode::Remove(nodes[1]);  // middle
  EXPECT_EQ(Walk(list), (std::vector<int>{0, 2, 3}));
  ListNode::Remove(nodes[0]);  // head
  EXPECT_EQ(Walk(list), (std::vector<int>{2, 3}));
  ListNode::Remove(nodes[3]);  // tail
  EXPECT_EQ(Walk(list), (std::vector<int>{2}));
  ListNode::Remove(nodes[2]);  // last
  EXPECT_EQ((std::tuple{list.m_pHead, list.m_pTail, list.m_Count}), (std::tuple{nullptr, nullptr, 0u}));
  ListNode::Remove(nullptr);
  list.Append(&records[0]);
  list.Append(&records[1]);
  list.Clear();
  EXPECT_EQ(Walk(list), std::vector<int>{});
}

struct HashCase {
  const char16_t* text;
  bool fold;
  std::uint32_t hash;
};

class HackHashName : public ::testing::TestWithParam<HashCase> {};

TEST_P(HackHashName, StandardCrcOverLowBytes) {
  EXPECT_EQ(HashName(GetParam().text, GetParam().fold), GetParam().hash);
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, HackHashName,
    ::testing::ValuesIn(std::vector<HashCase>{
        {u"abc", false, 0x352441C2}, {u"abc", true, 0x352441C2}, {u"ABC", true, 0x352441C2},
        {u"ABC", false, 0xA3830348}, {u"AbC", true, 0x352441C2}, {u"", false, 0}, {u"", true, 0}, {nullptr, true, 0},
        {u"a", false, 0xE8B7BE43}, {u"The quick brown fox jumps over the lazy dog", false, 0x414FA339},
        // Only the low byte counts, and only A-Z fold: U+0141 is an "A". "[" and "@" lie next to the letters.
        {u"\u0141", false, 0xD3D99E8B}, {u"\u0141", true, 0xD3D99E8B}, {u"\u0161", false, 0xE8B7BE43},
        {u"[", true, 0x2EBB67F1}, {u"@", true, 0xA4DEAE1D}, {u"Nickname", false, 0x58FE9C32},
        {u"Nickname", true, 0xA188FE64}, {u"MULTIPLAYER", false, 0xC81C89CD}, {u"MULTIPLAYER", true, 0x451F1B25},
        {u"SquirrelSupport", true, 0x7D98835C}, {u"Z", false, 0x59BC5767}, {u"Z", true, 0x62D277AF},
        {u"z", true, 0x62D277AF},
        // Two names of one CRC (used below).
        {u"plumless", true, 0x4DDB0C25}, {u"buckeroo", false, 0x4DDB0C25}}));

ModuleOption MakeOption(const char16_t* module, const char16_t* name, const char16_t* value) {
  ModuleOption option{};
  for (auto [field, text] : {std::pair{option.optionName, name}, {option.moduleName, module}, {option.value, value}}) {
    std::memcpy(field, text, (std::char_traits<char16_t>::length(text) + 1) * 2);
  }
  return option;
}

class HackOptions : public hacktest::HackRegistryTest {};

TEST_F(HackOptions, FirstDuplicateWinsAndAbsentGivesNull) {
  const ModuleOption nick = MakeOption(u"Multiplayer", u"Nickname", u"Kelv");
  const ModuleOption nickAgain = MakeOption(u"Multiplayer", u"nickname", u"Other");
  const ModuleOption server = MakeOption(u"Multiplayer", u"Server", u"127.0.0.1:7777");
  const ModuleOption squirrel = MakeOption(u"SquirrelSupport", u"Nickname", u"Script");
  AddModuleOption(u"Multiplayer", u"Nickname", &nick);
  AddModuleOption(u"MULTIPLAYER", u"nickname", &nickAgain);
  AddModuleOption(u"Multiplayer", u"Server", &server);
  AddModuleOption(u"SquirrelSupport", u"Nickname", &squirrel);

  tModuleOptionTable* table = FindModuleOption(u"multiplayer");
  const ModuleOption* found = FindModuleOptionEntry(table, u"NICKNAME");
  ASSERT_TRUE(table != nullptr && found != nullptr && table == FindModuleOption(u"Multiplayer"));
  // Callers read the value at byte 260 of the record.
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(found) + 260)), u"Kelv");
  EXPECT_NE(found, &nick);  // a copy
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(table, u"Server")->value), u"127.0.0.1:7777");
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(FindModuleOption(u"SquirrelSupport"), u"Nickname")->value),
            u"Script");
  EXPECT_EQ((std::tuple{FindModuleOptionEntry(table, u"Password"), FindModuleOption(u"CustomFiles"),
                        FindModuleOptionEntry(nullptr, u"Nickname")}),
            (std::tuple{nullptr, nullptr, nullptr}));
}

TEST_F(HackOptions, ManyModulesAndOptionsShareBucketsCorrectly) {
  // More names than buckets: every one must still be found by its own key.
  for (int m = 0; m < 70; ++m) {
    const std::u16string module = hacktest::U16(("Module" + std::to_string(m)).c_str());
    for (int o = 0; o < 70; ++o) {
      const std::u16string name = hacktest::U16(("Option" + std::to_string(o)).c_str());
      const std::u16string value = hacktest::U16((std::to_string(m) + ":" + std::to_string(o)).c_str());
      const ModuleOption option = MakeOption(module.c_str(), name.c_str(), value.c_str());
      AddModuleOption(module.c_str(), name.c_str(), &option);
    }
  }
  for (int m = 0; m < 70; m += 7) {
    const tModuleOptionTable* table = FindModuleOption(hacktest::U16(("module" + std::to_string(m)).c_str()).c_str());
    ASSERT_NE(table, nullptr);
    for (int o = 0; o < 70; o += 3) {
      const ModuleOption* option =
          FindModuleOptionEntry(table, hacktest::U16(("option" + std::to_string(o)).c_str()).c_str());
      ASSERT_NE(option, nullptr);
      EXPECT_EQ(text::Utf16ToUtf8(option->value), std::to_string(m) + ":" + std::to_string(o));
    }
  }
}

// Entries are told apart by their 32-bit key alone: two names of one CRC are
// one name to the tables, and the first stored wins.
TEST_F(HackOptions, KeysAloneDecide) {
  const ModuleOption a = MakeOption(u"", u"", u"first"), b = MakeOption(u"", u"", u"second"),
                     c = MakeOption(u"", u"", u"third");
  AddModuleOption(u"Multiplayer", u"plumless", &a);
  AddModuleOption(u"Multiplayer", u"BUCKEROO", &b);
  AddModuleOption(u"plumless", u"Nickname", &c);
  tModuleOptionTable* table = FindModuleOption(u"MultiPlayer");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(table, u"buckeroo")->value), u"first");
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(table, u"Plumless")->value), u"first");
  // A module named by a colliding name finds the other's table.
  tModuleOptionTable* other = FindModuleOption(u"Buckeroo");
  ASSERT_TRUE(other != nullptr && other == FindModuleOption(u"plumless"));
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(other, u"NICKNAME")->value), u"third");
  EXPECT_EQ((std::tuple{FindModuleOptionEntry(other, u"plumless"), FindModuleOptionEntry(table, u"Nickname")}),
            (std::tuple{nullptr, nullptr}));
  // Empty names hash to 0 and are a name like any other.
  const ModuleOption d = MakeOption(u"", u"", u"empty");
  AddModuleOption(u"", u"", &d);
  EXPECT_EQ(std::u16string(FindModuleOptionEntry(FindModuleOption(u""), u"")->value), u"empty");
}

}  // namespace
