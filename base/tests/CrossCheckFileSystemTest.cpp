// File-system prompts by outcome: Retry really searches again (the file may have
// appeared meanwhile), and without a terminal every prompt takes its fallback
// answer instead of ending the process or waiting.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <platform/testing/ScriptedDialogs.h>

#include <base/FileSystem.h>

#include "FileSystemTestSupport.h"

namespace {

using fstest::CollectingAppContext;
using fstest::TempDir;

// Runs an action the first time a prompt line is written, as a user who fixes
// things before answering would.
class FixingDialogs : public platform::testing::ScriptedDialogs {
 public:
  std::function<void()> onFirstPrompt;
  int prompts = 0;
  void ConsoleWrite(std::u16string_view text) override {
    ScriptedDialogs::ConsoleWrite(text);
    if (!text.empty() && text.front() == u'[' && ++prompts == 1 && onFirstPrompt) onFirstPrompt();
  }
};

std::string ReadAll(CStream* stream) {
  std::string content;
  char buffer[64];
  for (std::uint32_t got; (got = stream->Read(buffer, 1, sizeof buffer)) != 0;) content.append(buffer, got);
  return content;
}

class CrossCheckFileSystemPrompts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(g_FileSystem, nullptr);
    fs_ = std::make_unique<CFileSystem>(&context_);
    root_.MakeDir("game");
    ASSERT_NE(MountPhysicalDirectory(u"/GameData", true, root_.WideSub("game").c_str()), nullptr);
  }
  void TearDown() override { fs_.reset(); }

  TempDir root_;
  CollectingAppContext context_;
  FixingDialogs dialogs_;
  std::unique_ptr<CFileSystem> fs_;
};

TEST_F(CrossCheckFileSystemPrompts, RetryAfterNotFoundFindsAFileThatAppeared) {
  dialogs_.onFirstPrompt = [this] { root_.Write("game/late.txt", "arrived"); };
  dialogs_.QueueConsoleInput(u"r\n");
  CStream* stream = fs_->OpenFile(u"/GameData/late.txt", true, false, false, true, false);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(ReadAll(stream), "arrived");
  stream->Release();
  EXPECT_EQ(dialogs_.prompts, 1);
}

TEST_F(CrossCheckFileSystemPrompts, RetryAfterAFailedCreateSucceedsOnceTheWayIsClear) {
  // "blocked/new.txt" cannot be made while "blocked" is a file; the user clears the
  // way before answering Retry, and the second attempt makes the file.
  root_.Write("game/blocked", "a file");
  dialogs_.onFirstPrompt = [this] {
    std::remove(root_.Sub("game/blocked").c_str());
    root_.MakeDir("game/blocked");
  };
  dialogs_.QueueConsoleInput(u"r\n");
  CStream* stream = fs_->CreateFile(u"/GameData/blocked/new.txt", false, true);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Write("made", 1, 4), 4u);
  stream->Release();
  EXPECT_EQ(root_.Read("game/blocked/new.txt"), "made");
  EXPECT_EQ(dialogs_.prompts, 1);
  EXPECT_EQ(dialogs_.ConsoleOutput(),
            u"The following file could not be created:\n\n/GameData/blocked/new.txt\n[C]lose [R]etry [I]gnore\n");
}

// At the end of input each prompt gives its fallback: never Close (which would end
// the process), never a second question.
TEST_F(CrossCheckFileSystemPrompts, EndOfInputTakesEachPromptsFallback) {
  root_.Write("game/kept.txt", "kept");
  // Not found: Ignore.
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", true, false, false, true, true), nullptr);
  // Create: No.
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", true, true, true, true, true), nullptr);
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  // Already exists: No.
  EXPECT_EQ(fs_->CreateFile(u"/GameData/kept.txt", true, true), nullptr);
  EXPECT_EQ(root_.Read("game/kept.txt"), "kept");
  EXPECT_EQ(dialogs_.prompts, 3);
  EXPECT_TRUE(context_.GetErrors().empty());
}

// Each prompt's icon and buttons as a message box: not found (warning, Close /
// Retry / Ignore), create (warning, Yes / No), already exists (warning, Yes / No /
// Close), failure (error, Close / Retry / Ignore).
TEST_F(CrossCheckFileSystemPrompts, EachPromptsIconAndButtonsInAMessageBox) {
  using Kind = platform::testing::ScriptedDialogs::Kind;
  context_.SetDisplayMode(MessageDisplayMode::ServiceMessageBox);
  root_.Write("game/old.txt", "old");
  MountPhysicalDirectory(u"/ReadOnly", false, root_.WideSub("game").c_str());
  dialogs_.QueueMessageBox(IDIGNORE);  // not found: Ignore
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", true, false, false, true, false), nullptr);
  dialogs_.QueueMessageBox(IDNO);  // create: No
  EXPECT_EQ(fs_->OpenFile(u"/GameData/none.txt", true, true, true, true, false), nullptr);
  dialogs_.QueueMessageBox(IDNO);  // already exists: No
  EXPECT_EQ(fs_->CreateFile(u"/GameData/old.txt", true, false), nullptr);
  dialogs_.QueueMessageBox(IDIGNORE);  // failure: Ignore
  EXPECT_EQ(fs_->CreateFile(u"/ReadOnly/new.txt", false, true), nullptr);

  const auto boxes = dialogs_.CallsOf(Kind::MessageBox);
  ASSERT_EQ(boxes.size(), 4u);
  const struct {
    UINT type;
    std::u16string text;
  } expected[] = {
      {MB_ABORTRETRYIGNORE | MB_ICONWARNING, u"The following file was not found:\n\n/GameData/none.txt"},
      {MB_YESNO | MB_ICONWARNING,
       u"The following file does not exist:\n\n/GameData/none.txt\n\nWould you like to create it?"},
      {MB_YESNOCANCEL | MB_ICONWARNING,
       u"The following file already exists:\n\n/GameData/old.txt\n\nWould you like to overwrite it?"},
      {MB_ABORTRETRYIGNORE | MB_ICONERROR, u"The following file could not be created:\n\n/ReadOnly/new.txt"},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(boxes[i].type, expected[i].type | MB_SERVICE_NOTIFICATION);
    EXPECT_EQ(boxes[i].text, expected[i].text);
  }
  EXPECT_FALSE(root_.Exists("game/none.txt"));
  EXPECT_EQ(root_.Read("game/old.txt"), "old");
}

}  // namespace
