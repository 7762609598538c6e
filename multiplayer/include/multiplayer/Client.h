#pragma once
// CClient: the multiplayer client's on-screen and console side. It owns the engine's resource scripting framework
// (resource manager with its command table, events, timers and key binds), both font registries, the GUI manager
// with the page of "/GUI/Main.xml", the chat window and the command window, runs their per-frame work on a
// fixed-step clock and turns SDL key presses into console and key-bind actions.
//
// Errors: nothing here fails loudly: a missing "/GUI/Main.xml" leaves the GUI empty and the client without a command
// window (keys then go to the key binds); a font file that does not open or is no font is skipped.
// Locking: none; the game's main thread alone creates, runs and destroys the client.
#include <cstdint>
#include <memory>
#include <string>

#include <SDL.h>

#include <engine/Context.h>
#include <engine/I2D.h>
#include <engine/Resource.h>
#include <scripting/ResourceMgr.h>

#include <TamberFont/Fonts.h>
#include <TamberGUI/Fonts.h>
#include <TamberGUI/GUI/Manager.h>
#include <TamberGUI/GUI/Page.h>
#include <TamberGUI/Windows/ChatWindow.h>
#include <TamberGUI/Windows/CmdWindow.h>

class CClient {
 public:
  static constexpr double kFixedStep = 1.0 / 60.0;
  // A long stall runs at most this much of the clock in one frame.
  static constexpr double kMaxFrameStep = 0.0625;
  static constexpr std::uint32_t kChatTextColour = 0xFF00FFFFu;
  // The chat window's scale is the screen height over this.
  static constexpr float kChatScaleHeight = 900.0f;
  static constexpr const char* kWelcomeLine = "Quorvant Mod Launcher 1.0.12";

  // Builds everything but the windows, then loads each file of "/Fonts" into both registries. The context must be
  // initialised and outlive the client.
  explicit CClient(Vexil3D::Context* context);
  // The GUI manager and root page, the resource manager, then both registries (their FreeType libraries end with
  // their last face).
  ~CClient();
  CClient(const CClient&) = delete;
  CClient& operator=(const CClient&) = delete;

  // Takes the renderer (not owned), loads "/GUI/Main.xml", makes the chat window and, when the page has a
  // "CmdWindow", the command window; empties the command table and prints the welcome line.
  void Start(Vexil3D::I2D* renderer);
  // The frame's work before the SDL events: clock, GUI layout, deferred engine events, timers.
  void Process();
  // True when the console took the key. Up and Down walk the command history: Up past the oldest line keeps
  // showing it but still counts its steps, which Down walks back before it shows a newer line; past the newest the
  // line being typed comes back.
  bool OnKeyDown(const SDL_KeyboardEvent& event);
  // A text input event: opens the console when a key asked for it (the character that asked is not typed).
  void OnTextInput();
  // Draws the chat window and the GUI.
  void Render();
  // Stops every resource, releases the hardware sides of the resource table's device lists and destroys both
  // windows.
  void Shutdown();

  // One chat line of UTF-8 text (markup turned into colours); nothing before Start or after Shutdown.
  void PrintChatLine(const char* text);

  bool IsConsoleVisible() const;
  bool IsConsoleRequested() const { return m_bConsoleRequested; }
  Vexil3D::CResourceMgr* GetResources() const { return m_pResources.get(); }
  Vexil3D::CCommandMgr* GetCommands() const { return &m_pResources->GetCommands(); }
  Vexil3D::CChatWindow* GetChat() const { return m_pChat.get(); }
  Vexil3D::CCmdWindow2* GetConsole() const { return m_pConsole.get(); }
  TamberGUI::GUI::CManager* GetGui() const { return m_pGui.get(); }
  // The named resources: the GUI finds rectangle textures in it, the hardware shutdown releases it.
  Vexil3D::CResourceTable& GetResourceTable() { return m_ResourceTable; }
  TamberGUI::CFonts* GetGuiFonts() const { return m_pGuiFonts.get(); }
  // The whole fixed steps of the last Process and the frame step it ran with (seconds).
  std::int32_t GetFrameTicks() const { return m_iFrameTicks; }
  double GetFrameStep() const { return m_dFrameStep; }

 private:
  void LoadFonts(const char16_t* fileName);
  void LoadGui();
  void AdvanceClock();
  // The console's input element, or null.
  TamberGUI::GUI::CText* ConsoleInput() const;
  void ShowHistoryLine(const char16_t* line);
  void HistoryBack();
  void HistoryForward();

  Vexil3D::Context* m_pContext;
  Vexil3D::I2D* m_pRenderer = nullptr;
  // The clock: last tick (ms), the remainder of whole steps, this frame's steps and step.
  std::uint64_t m_uLastTick = 0;
  double m_dAccumulator = 0.0;
  std::int32_t m_iFrameTicks = 0;
  double m_dFrameStep = 0.0;
  double m_dTimeScale = 1.0;
  std::unique_ptr<Vexil3D::CFonts> m_pEngineFonts;
  std::unique_ptr<TamberGUI::CFonts> m_pGuiFonts;
  std::unique_ptr<Vexil3D::CResourceMgr> m_pResources;
  Vexil3D::CResourceTable m_ResourceTable;  // outlives the GUI, which looks in it
  std::unique_ptr<TamberGUI::GUI::CManager> m_pGui;
  Vexil3D::Strong<TamberGUI::GUI::CPage> m_pRoot;
  std::unique_ptr<Vexil3D::CChatWindow> m_pChat;
  std::unique_ptr<Vexil3D::CCmdWindow2> m_pConsole;
  bool m_bConsoleRequested = false;
};
