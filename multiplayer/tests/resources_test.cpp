// Server resources on the client: messages 9, 10 and 11 over a cache tree with scripts in a real script host, and
// against the loopback test server: its downloads, and a script's TriggerServerEvent as the server reads it.
#include "resources_fixture.h"

namespace nettest {
namespace {

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

// Starting a running resource and stopping a stopped one say so and change nothing: no event, no script, the same
// environment.
TEST_P(ResourcesTest, StartingARunningOneOrStoppingAStoppedOneChangesNothing) {
  MakeResourceClient();
  Receive(netserver::ResourceList({{"race", true, {Cache("race", "client.nut", kReportingScript)}}}));
  CClientResource* record = Find(u"race");
  ASSERT_TRUE(record->IsRunning());
  const CClientResourceScriptEnvironment* environment = record->GetEnvironment();
  const struct {
    const char* label;
    std::function<bool()> call;
    const char* console;
    bool running;
  } cases[] = {
      {"start while running", [&] { return record->Start(); },
       "START: Starting resource race...\nSTART: Resource race already running!\n", true},
      {"stop", [&] { return record->Stop(false); }, nullptr, false},
      {"stop while stopped", [&] { return record->Stop(false); },
       "STOP: Stopping resource race...\nSTOP: Resource race already stopped!\n", false},
      {"restarting stop while stopped", [&] { return record->Stop(true); },
       "STOP: Stopping resource race...\nSTOP: Resource race already stopped!\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    chat.clear();
    bool result = true;
    const std::string console = Console([&] { result = c.call(); });
    EXPECT_EQ(c.running, record->IsRunning());
    if (c.console == nullptr) continue;  // a step of the set-up
    EXPECT_FALSE(result);
    EXPECT_EQ(c.console, console);
    EXPECT_TRUE(chat.empty());
    if (c.running) {
      EXPECT_EQ(environment, record->GetEnvironment());
    }
  }
}

TEST_P(ResourcesTest, OpenFileStaysInsideItsOwnCacheFolder) {
  MakeResourceClient();
  Cache("other", "secret.txt", "x", 0);
  // Files that exist here but that a Win32 host would take for a device or another name.
  for (const char* special : {"aux.txt", "d.txt.", "d.txt ", "CONOUT$"}) Cache("res", special, "x", 0);
  Receive(netserver::ResourceList({{"res", true, {Cache("res", "client.nut", "", 1), Cache("res", "d.txt", "d", 0)}}}));
  CClientResourceScriptEnvironment* environment = Find(u"res")->GetEnvironment();
  ASSERT_NE(environment, nullptr);
  const struct {
    std::u16string path;
    bool opens;
  } cases[] = {
      {u"/UserData/Caches/res/d.txt", true},
      {u"/UserData/Caches/res/missing.txt", false},  // without asking anyone
      {u"/UserData/Caches/other/secret.txt", false},   {u"/UserData/Caches/res/../other/secret.txt", false},
      {u"/UserData/Caches/res/./d.txt", false},        {u"/UserData/Caches/res\\d.txt", false},
      {u"/UserData/Caches/res/c:d.txt", false},        {u"/UserData/Caches/RES/d.txt", false},
      {u"/UserData/Caches/res", false},
      {u"/UserData/Caches/res/" + std::u16string(256, u'a'), false},
      {u"/UserData/Caches/res/" + std::u16string(200, u'a') + u"/" + std::u16string(50, u'b'), false},
      {u"/UserData/Caches/res/d\u0001.txt", false},
      {u"/UserData/Caches/res/aux.txt", false},        {u"/UserData/Caches/res/d.txt.", false},
      {u"/UserData/Caches/res/d.txt ", false},         {u"/UserData/Caches/res/CONOUT$", false},
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
    // A resource's script that raises still counts as loaded; another environment's call tells the error.
    EXPECT_EQ(c.inResource || c.error.empty(), ok);
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

// Files not cached come from the server: a script runs when it arrives, OnFileDownload reaches its own resource
// alone, OnResourceReady follows the last file; a file that fails fires nothing and is never run, yet the resource
// gets ready. A second list finds everything cached and asks the server for nothing.
TEST_P(ResourcesTest, DownloadedFilesRunAndReachOnlyTheirResource) {
  for (const char* fault : {"none", "404"}) {
    SCOPED_TRACE(fault);
    std::filesystem::remove_all(root + "/Caches");
    const netserver::File other = Cache("other", "other.nut", kReportingScript, 1);
    Write("server/race", "client.nut", kReportingScript);
    Write("server/race", "track.dat", "track");
    ASSERT_NO_FATAL_FAILURE(ConnectAndEnterGame());
    ASSERT_TRUE(Fault("race/client.nut", fault));
    const bool ok = std::string(fault) == "none";
    const auto has = [&](const std::string& line) { return std::find(chat.begin(), chat.end(), line) != chat.end(); };
    chat.clear();
    // "other" is the list's own, cached resource; "race" comes from the server's folder.
    Receive(netserver::ResourceList({{"other", true, {other}}}));
    // Its script's event as the server reads it: "other", 5, true.
    if (ok) {
      EXPECT_EQ("received event loaded with arguments 030000000405006f7468657201050000000301",
                server->Command("wait 11 5000"));
    }
    const std::string console = Console([&] {
      ASSERT_EQ("listed the resource race (running, 2 files)", server->Command("resources race:1"));
      ASSERT_TRUE(PumpUntil([&] { return has("ready other race"); }));
    });
    for (const char* line : {"loaded race", "file race client.nut", "file race track.dat"}) EXPECT_EQ(ok, has(line));
    EXPECT_TRUE(has("start other race"));
    EXPECT_FALSE(has("file other track.dat") || has("file other client.nut"));
    EXPECT_EQ(!ok, Has(console, "Unable to download"));
    // The second list: nothing requested, the scripts that arrived run at once.
    ASSERT_EQ("answers the player again", server->Command("unmute"));  // collects the request log so far
    const std::size_t requests = server->HttpLog().size();
    EXPECT_GE(requests, 2u);
    chat.clear();
    ASSERT_EQ("listed the resource race (running, 2 files)", server->Command("resources race:1"));
    ASSERT_TRUE(PumpUntil([&] { return has("ready other race"); }));
    EXPECT_EQ(ok, has("loaded race"));
    ASSERT_EQ("answers the player again", server->Command("unmute"));
    EXPECT_EQ(requests + (ok ? 0 : 1), server->HttpLog().size());
    state->m_pClient.reset();
  }
}

// A resource stopped while its script still downloads: the transfer ends, and its delivery reaches no environment
// and runs nothing; the next start runs without the script that never arrived.
TEST_P(ResourcesTest, StoppingDuringADownloadEndsItWithoutEvents) {
  Write("server/race", "client.nut", kReportingScript);
  ASSERT_NO_FATAL_FAILURE(ConnectAndEnterGame());
  ASSERT_TRUE(Fault("race/client.nut", "stalled"));
  ASSERT_EQ("listed the resource race (running, 1 file)", server->Command("resources race:1"));
  ASSERT_TRUE(PumpUntil([&] { return Resources() != nullptr && Find(u"race") != nullptr; }));
  chat.clear();
  ASSERT_EQ("told the player to stop the resource race", server->Command("resstate race 0"));
  ASSERT_TRUE(PumpUntil([&] { return Find(u"race")->GetPendingCount() == 0; }));
  EXPECT_FALSE(Find(u"race")->IsRunning());
  EXPECT_TRUE(chat.empty());
  EXPECT_TRUE(Find(u"race")->GetScripts().empty());
  EXPECT_TRUE(Find(u"race")->Start());
}

// A script that raises at its top level: the error is reported as every script error is, and its resource runs
// whether the script came from the cache or from a download; every later start runs it again.
TEST_P(ResourcesTest, AScriptRaisingAtItsTopLevelRunsItsResourceCachedOrDownloaded) {
  const struct {
    const char* label;
    std::string code;
    std::string error;
  } cases[] = {
      {"throw", "throw \"boom\";", "boom"},
      {"runtime", "local nothing = null; nothing.field <- 1;", "sqvm: "},
      {"native", "Multiplayer.OutputChatBox(5);", "has an invalid type"},
      {"after a handler",
       "Engine.EventSystem.GetEventType(\"OnResourceStart\").AddHandler(@(e, r) Multiplayer.OutputChatBox(\"start\"));"
       "throw \"late\";",
       "late"},
  };
  for (const auto& c : cases) {
    for (const bool cached : {true, false}) {
      SCOPED_TRACE(std::string(c.label) + (cached ? " cached" : " downloaded"));
      std::filesystem::remove_all(root + "/Caches");
      CQVNetClient* client = MakeResourceClient();
      client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
      const std::string code = "Multiplayer.OutputChatBox(\"ran\");\n" + c.code;
      const netserver::File file =
          cached ? Cache("race", "client.nut", code) : Write("server/race", "client.nut", code);
      chat.clear();
      testing::internal::CaptureStderr();
      const std::string console = Console([&] {
        Receive(netserver::ResourceList({{"race", true, {file}}}));
        Drain(client);
      });
      const std::string errors = testing::internal::GetCapturedStderr();
      EXPECT_TRUE(Has(errors, c.error)) << errors;
      EXPECT_TRUE(Has(console, "START: Resource race started.\n")) << console;
      EXPECT_FALSE(Has(console, "failed to load")) << console;
      EXPECT_TRUE(Find(u"race")->IsRunning());
      EXPECT_EQ("ran", chat.empty() ? "" : chat.front());
      // The script is in the cache by now either way: a restart runs it and keeps the resource.
      chat.clear();
      testing::internal::CaptureStderr();
      const std::string again =
          Console([&] { Receive(netserver::ResourceState(netserver::NameHash("race"), RESOURCE_RESTART)); });
      testing::internal::GetCapturedStderr();
      EXPECT_TRUE(Has(again, "START: Resource race started.\n")) << again;
      EXPECT_TRUE(Find(u"race")->IsRunning());
      EXPECT_EQ("ran", chat.empty() ? "" : chat.front());
      state->m_pClient.reset();
    }
  }
}

// The record's lock is held through the whole of a list's reading and the whole of a stop, its handlers included:
// a loading thread that asks whether the resource runs while OnResourceStop's handler runs gets its answer only
// once the list or the stop has settled it.
TEST_P(ResourcesTest, AListAndAStopHoldTheRecordsLockThroughout) {
  MakeResourceClient();
  const auto script = Cache("race", "client.nut", kReportingScript);
  const std::uint32_t key = netserver::NameHash("race");
  const struct {
    const char* label;
    Bytes packet;
    bool answer;  // what the asking thread hears
  } cases[] = {
      {"a list restarting it", netserver::ResourceList({{"race", true, {script}}}), true},
      {"a list stopping it", netserver::ResourceList({{"race", false, {script}}}), false},
      {"a stop", netserver::ResourceState(key, RESOURCE_STOP), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Receive(netserver::ResourceList({{"race", true, {script}}}));
    ASSERT_TRUE(Find(u"race")->IsRunning());
    CClientResource* record = Find(u"race");
    std::atomic<int> answer{-1};
    std::thread asking;
    state->m_ChatSink = [&](const char* text) {
      if (std::string(text).rfind("stop ", 0) != 0 || asking.joinable()) return;
      asking = std::thread([&] { answer = record->IsRunning() ? 1 : 0; });
      // Long enough for an unguarded answer to come; a guarded one cannot come before the handler returns.
      const auto deadline = Clock::now() + std::chrono::milliseconds(200);
      while (answer < 0 && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    Receive(c.packet);
    state->m_ChatSink = [this](const char* text) { chat.push_back(text); };
    ASSERT_TRUE(asking.joinable());
    asking.join();
    EXPECT_EQ(c.answer ? 1 : 0, answer.load());
  }
}

// A list whose files the connection's loader fetches: only whole, right files reach the resource's scripts and
// events, and the resource becomes ready however its files end.
TEST_P(ResourcesTest, OnlyGoodFilesReachTheResourceAndItBecomesReady) {
  for (const char* fault : {"none", "crc", "404", "truncated"}) {
    SCOPED_TRACE(fault);
    const bool delivered = std::string(fault) == "none";
    CQVNetClient* client = MakeResourceClient();
    client->SetServerInfo(std::make_unique<CServerInfo>("127.0.0.1", server->HttpPort()));
    ASSERT_TRUE(Fault("race/data.txt", fault));
    const std::vector<netserver::File> files = {Write("server/race", "client.nut", kReportingScript),
                                                Write("server/race", "data.txt", "track data", 0)};
    std::filesystem::remove_all(root + "/Caches");
    chat.clear();
    const std::string console = Console([&] {
      Receive(netserver::ResourceList({{"race", true, files}}));
      Drain(client);
    });
    // The script arrives first (one loading thread, list order), loads into the running resource, and then hears
    // of the data file only when that one counts.
    Lines expected = {"loaded race", "file race client.nut"};
    if (delivered) expected.push_back("file race data.txt");
    expected.push_back("ready race race");
    EXPECT_EQ(expected, chat) << console;
    EXPECT_EQ(delivered, std::filesystem::exists(root + "/Caches/race/data.txt"));
    EXPECT_EQ(!delivered, Has(console, "Unable to download http://127.0.0.1:" + std::to_string(server->HttpPort()) +
                                           "/race/clientfile?data.txt"));
    state->m_pClient.reset();
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, ResourcesTest, ::testing::Values(ClientCase{Build::IVEditor, false}), CaseName);

}  // namespace
}  // namespace nettest
