// Server resources on the client: messages 9, 10 and 11 over a cache tree, with scripts in a real script host.
#include "resources_fixture.h"

namespace nettest {
namespace {

using ResourcesTest = ResourceTest;
using Lines = std::vector<std::string>;

bool Has(const std::string& console, const std::string& line) { return console.find(line) != std::string::npos; }

// A name byte above 0x7F is one character: in its folder, to scripts and on the console.
TEST_P(ResourcesTest, AllCachedResourceStartsAndIsReadyInTheSameMessageWithoutBytesToShow) {
  MakeResourceClient();
  const std::string name = "caf\xC3\xA9";
  const auto script = Cache(name, "client.nut", kReportingScript);
  const auto data = Cache(name, "track.dat", "data", 0);
  const std::string console = Console([&] { Receive(netserver::ResourceList({{"caf\xE9", true, {script, data}}})); });
  EXPECT_EQ((Lines{"loaded " + name, "start " + name + " " + name, "ready " + name + " " + name}), chat);
  for (const std::string line : {"CREATE: Creating resource ", "START: Starting resource ", "START: Resource "}) {
    EXPECT_TRUE(Has(console, line + name)) << line;
  }
  EXPECT_TRUE(Has(console, "Resource " + name + " downloading count: 0\n"));
  std::uint64_t total = 1, downloaded = 1;
  state->m_pClient->GetServerInfo()->GetByteCounts(&total, &downloaded);
  EXPECT_EQ(0u, total + downloaded);
}

// Messages 9 and 10 in turn: a listed running resource stops restarting and starts again; a stopped one keeps its
// scripts, which every start runs again.
TEST_P(ResourcesTest, ListsAndResourceStatesStopStartAndRestartRerunningScripts) {
  MakeResourceClient();
  const auto script = Cache("race", "client.nut", kReportingScript);
  const std::uint32_t key = netserver::NameHash("race");
  const Lines started{"loaded race", "start race race"};
  const struct {
    Bytes packet;
    Lines chat;
    bool running;
  } steps[] = {
      {netserver::ResourceList({{"race", true, {script}}}),
       {"loaded race", "start race race", "ready race race"},
       true},
      {netserver::ResourceList({{"race", true, {script}}}),
       {"stop race race true", "loaded race", "start race race", "ready race race"},
       true},
      {netserver::ResourceList({{"race", false, {script}}}), {"stop race race false"}, false},
      {netserver::ResourceState(key, RESOURCE_STOP), {}, false},
      {netserver::ResourceState(key, RESOURCE_START), started, true},
      {netserver::ResourceState(key, RESOURCE_START), {}, true},
      {netserver::ResourceState(key, RESOURCE_RESTART),
       {"stop race race false", "loaded race", "start race race"},
       true},
      {netserver::ResourceState(key, RESOURCE_STOP), {"stop race race false"}, false},
      {netserver::ResourceState(key, RESOURCE_RESTART), started, true},
      {netserver::ResourceState(key, 7), {}, true},
      {netserver::ResourceState(key + 1, RESOURCE_STOP), {}, true},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(i);
    chat.clear();
    Receive(steps[i].packet);
    EXPECT_EQ(steps[i].chat, chat);
    EXPECT_EQ(steps[i].running, Find(u"race")->IsRunning());
  }
}

TEST_P(ResourcesTest, PreventedStartFailsAndStopsAndPreventedStopKeepsRunning) {
  MakeResourceClient();
  // The first start is refused; every stop is refused.
  const auto script = Cache("race", "client.nut", R"(
    Engine.EventSystem.GetEventType("OnResourceStart").AddHandler(function(e, r) {
      if (!("refused" in Shared)) { Shared.refused <- true; e.PreventDefault(); }
    });
    Engine.EventSystem.GetEventType("OnResourceStop").AddHandler(@(e, r, restarting) e.PreventDefault());
  )");
  const std::uint32_t key = netserver::NameHash("race");
  const struct {
    Bytes packet;
    const char* line;
    bool running;
  } steps[] = {
      // A failed start stops the resource even against OnResourceStop.
      {netserver::ResourceList({{"race", true, {script}}}), "START: Resource race failed to load!\n", false},
      {netserver::ResourceState(key, RESOURCE_START), "START: Resource race started.\n", true},
      {netserver::ResourceState(key, RESOURCE_STOP), "STOP: Resource race failed to stop!\n", true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.line);
    EXPECT_TRUE(Has(Console([&] { Receive(step.packet); }), step.line));
    EXPECT_EQ(step.running, Find(u"race")->IsRunning());
  }
}

TEST_P(ResourcesTest, OpenFileStaysInsideItsOwnCacheFolder) {
  MakeResourceClient();
  Cache("other", "secret.txt", "x", 0);
  Receive(netserver::ResourceList({{"res", true, {Cache("res", "client.nut", "", 1), Cache("res", "d.txt", "d", 0)}}}));
  CClientResourceScriptEnvironment* environment = Find(u"res")->GetEnvironment();
  ASSERT_NE(environment, nullptr);
  const struct {
    std::u16string path;
    bool opens;
  } cases[] = {
      {u"/UserData/Caches/res/d.txt", true},
      {u"/UserData/Caches/res/missing.txt", false},  // without asking anyone
      {u"/UserData/Caches/other/secret.txt", false},
      {u"/UserData/Caches/res/../other/secret.txt", false},
      {u"/UserData/Caches/res/./d.txt", false},
      {u"/UserData/Caches/res\\d.txt", false},
      {u"/UserData/Caches/res/c:d.txt", false},
      {u"/UserData/Caches/RES/d.txt", false},
      {u"/UserData/Caches/res", false},
      {u"/UserData/Caches/res/" + std::u16string(256, u'a'), false},
      {u"/UserData/Caches/res/" + std::u16string(200, u'a') + u"/" + std::u16string(50, u'b'), false},
      {u"/UserData/Caches/res/d\u0001.txt", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(text::Utf16ToUtf8(c.path));
    CStream* stream = environment->OpenFile(c.path.c_str(), true, false, false);
    EXPECT_EQ(c.opens, stream != nullptr);
    if (stream != nullptr) stream->Release();
  }
  // A script path beyond the file system's buffers is a console line, not a fatal report.
  const std::string console = Console([&] { EXPECT_FALSE(environment->LoadScript(std::u16string(250, u'n'))); });
  EXPECT_TRUE(Has(console, "MULTIPLAYER: The script path of"));
}

TEST_P(ResourcesTest, NativesRefuseMisuseWithScriptErrors) {
  MakeResourceClient();
  Receive(netserver::ResourceList({{"res", true, {Cache("res", "client.nut", "Shared.mp <- Multiplayer", 1)}}}));
  CClientResourceScriptEnvironment* resource = Find(u"res")->GetEnvironment();
  // Another environment reaching the natives through Shared: the natives themselves must tell it apart.
  CScriptEnvironment plain(host.get(), u"plain");
  const std::string noResource = "no resource script environment is running";
  const struct {
    bool inResource;
    std::string code;
    std::string error;  // in the host's error output; "" for none
    std::string chat;
  } cases[] = {
      {false, "Shared.mp.GetThisResource()", noResource, ""},
      {false, "Shared.mp.IsResourceReady()", noResource, ""},
      {false, "Shared.mp.AddCommand(\"x\", function() {})", noResource, ""},
      {true, "Multiplayer.GetResourceName(Shared.bogus)", "the pointer is not a resource of this client", ""},
      {true, "Multiplayer.GetResourceName(\"res\")", "has an invalid type", ""},
      {true, "Multiplayer.OutputChatBox(5)", "has an invalid type", ""},
      {true, "Multiplayer.AddCommand(\"x\", 5)", "has an invalid type", ""},
      {true, "Multiplayer.TriggerServerEvent(\"" + std::string(256, 'e') + "\")", "longer than 255 characters", ""},
      {true, "Multiplayer.TriggerServerEvent(\"\\u0100\")", "a character above 0xFF", ""},
      {true, "local s = \"x\"; for (local i = 0; i < 17; ++i) s += s; Multiplayer.TriggerServerEvent(\"e\", s)",
       "cannot be sent to the server", ""},
      {true, "Multiplayer.TriggerServerEvent(\"e\", 1, [], null)", "", ""},
      {true, "Multiplayer.OutputChatBox(Multiplayer.IsResourceReady() + \"\")", "", "true"},
      {true, "Multiplayer.OutputChatBox(\"%s%n\")", "", "%s%n"},
  };
  HSQUIRRELVM v = host->GetVM();
  host->GetSharedTable().Push(v);
  sq_pushstring(v, u"bogus", -1);
  sq_pushuserpointer(v, &plain);
  sq_newslot(v, -3, SQFalse);
  sq_poptop(v);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    chat.clear();
    std::ofstream(root + "/Caches/res/n.nut") << c.code;
    testing::internal::CaptureStderr();
    CScriptObjectRef closure;
    const HSQUIRRELVM t = plain.GetThread();
    const std::u16string code = text::Utf8ToUtf16(c.code);
    if (!c.inResource && SQ_SUCCEEDED(sq_compilebuffer(t, code.c_str(), SQInteger(code.size()), u"n", SQTrue))) {
      closure.SetFromStack(t, -1);
      sq_poptop(t);
    }
    const bool ok = c.inResource ? resource->LoadScript(u"n.nut") : plain.CallHandler(closure, nullptr);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(c.error.empty(), ok);
    EXPECT_TRUE(Has(errors, c.error)) << errors;
    EXPECT_EQ(c.chat.empty() ? Lines{} : Lines{c.chat}, chat);
  }
}

TEST_P(ResourcesTest, ServerEventsReachTheirTypeAndUnknownNamesAreDroppedQuietly) {
  MakeResourceClient();
  const std::string script = R"(
    local type = Engine.EventType("onRace");
    Engine.EventSystem.AddEventType(type);
    type.AddHandler(function(e, ...) { Multiplayer.OutputChatBox("race " + vargv.len() + " " + vargv[0]); });
  )";
  Receive(netserver::ResourceList({{"res", true, {Cache("res", "client.nut", script)}}}));
  const struct {
    std::string name;
    Bytes arguments;
    Lines chat;
  } cases[] = {
      {"onRace", {2, 0, 0, 0, 1, 7, 0, 0, 0, 3, 1}, {"race 2 7"}},
      {"onrace", {1, 0, 0, 0, 1, 7, 0, 0, 0}, {}},
      {"unknown", {1, 0, 0, 0, 1, 7, 0, 0, 0}, {}},
      {"onRace", {3, 0, 0, 0, 1, 7, 0, 0, 0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    chat.clear();
    testing::internal::CaptureStderr();
    const std::string console = Console([&] { Receive(netserver::ScriptEvent(c.name, c.arguments)); });
    EXPECT_EQ("", testing::internal::GetCapturedStderr());
    EXPECT_EQ("", console);
    EXPECT_EQ(c.chat, chat);
  }
}

TEST_P(ResourcesTest, ScriptCommandsRunAndLeaveWithTheirEnvironment) {
  MakeResourceClient();
  const std::string script = R"(
    Multiplayer.AddCommand("go", function(name, arguments) { Multiplayer.OutputChatBox(name + "|" + arguments); });
    Multiplayer.AddCommand("GO", function(name, arguments) { Multiplayer.OutputChatBox("second"); });
  )";
  Receive(netserver::ResourceList({{"res", true, {Cache("res", "client.nut", script)}}}));
  CClientScripting* scripting = state->m_pScripting.get();
  EXPECT_EQ(2u, scripting->GetCommandCount());
  EXPECT_EQ(2u, scripting->RunCommand(u"Go", u"a b"));
  EXPECT_EQ((Lines{"Go|a b", "second"}), chat);
  EXPECT_EQ(0u, scripting->RunCommand(u"stop", u""));
  Find(u"res")->Stop(false);
  EXPECT_EQ(0u, scripting->GetCommandCount());
}

INSTANTIATE_TEST_SUITE_P(Builds, ResourcesTest, ::testing::Values(ClientCase{Build::IVEditor, false}), CaseName);

}  // namespace
}  // namespace nettest
