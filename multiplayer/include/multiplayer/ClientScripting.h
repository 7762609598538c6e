#pragma once
// The multiplayer client's script side, module-wide: the four client event types in the host's registry, the
// table "Multiplayer" of the six client natives that every resource environment sees, the script command table
// that AddCommand fills, the server's script events (message 11), and TriggerClientEvent.
//
// Natives (the machine checks counts and types against the masks before they run):
//   GetThisResource  "."       the running resource environment's record, as a user pointer
//   GetResourceName  ".p"      the name of a record this client handed out (GetThisResource, an event argument)
//   IsResourceReady  "."       whether the running environment's resource has no download pending
//   TriggerServerEvent ".s"+   message 11 of the name and the further arguments to the server; nothing else
//   OutputChatBox    ".s"      one chat line of the text, as it is (no formatting)
//   AddCommand       ".sc"     a script command (name, closure) of the running resource environment
//
// Errors: misuse of a native (no resource environment running, a pointer that is no record of this client,
// an event name the protocol cannot carry, arguments the network form cannot carry) is a Squirrel error, never
// more; a server event whose name no type has is dropped without output. Nothing throws but std::bad_alloc.
// Ownership: the module owns the one CClientScripting from Init to Unload. It holds one reference on each of its
// event types, and the natives' table and every command's closure in the machine; a host that goes first makes
// it drop them all. A command's record goes when the environment that added it is destroyed.
// Locking: none; the game's main thread alone.
#include <cstdint>
#include <memory>
#include <string_view>

#include <scripthost/Events.h>
#include <scripthost/NameHashTable.h>
#include <scripthost/ScriptObjectRef.h>

class CClientResourceTable;
class CMultiplayerState;
class CQVNetClient;
class CScriptArguments;
class CScriptEnvironment;
class CScriptHost;
struct ScriptEventMessage;

// The client's event types, in the order they enter the registry.
enum class ClientEvent : std::uint32_t { FileDownload, ResourceReady, ResourceStart, ResourceStop, Count };

class CClientScripting : public tHostDependent {
 public:
  // The event types and the natives' table on the host; null without an open host. The newest instance is the
  // one the natives reach.
  static std::unique_ptr<CClientScripting> Create(CScriptHost* host, CMultiplayerState* state);
  // Takes the event types out of the registry and drops every held value (while the host is open).
  ~CClientScripting() override;

  CEventType* GetEventType(ClientEvent which) const { return m_pEventTypes[static_cast<std::uint32_t>(which)]; }
  const CScriptObjectRef& GetNatives() const { return m_natives; }
  CMultiplayerState* GetState() const { return m_pState; }

  // Message 11: the type of the event's name (any registered type) fires for all environments with the
  // event's arguments; nothing happens when no type has the name or the arguments do not read.
  void OnServerEvent(const ScriptEventMessage& event);

  // Calls every closure that AddCommand registered under the name (case folded), in order of addition, as
  // handler(name, arguments) in its environment; the number called. The console's own handling of the line
  // (the server, for commands it does not know) is the caller's.
  std::uint32_t RunCommand(std::u16string_view name, std::u16string_view arguments);
  std::uint32_t GetCommandCount() const { return m_commands.GetCount(); }

  // The instance the natives reach, or null.
  static CClientScripting* GetCurrent();

 private:
  struct tCommand {
    CScriptEnvironment* m_pEnvironment;
    CScriptObjectRef m_closure;
  };
  friend struct CClientNatives;

  CClientScripting(CScriptHost* host, CMultiplayerState* state);
  // AddCommand's record for the closure at the stack index.
  void AddCommand(HSQUIRRELVM v, std::u16string_view name, SQInteger closure, CScriptEnvironment* environment);
  void TakeValuesOf(CScriptEnvironment* environment, std::vector<CScriptObjectRef>& values) override;
  void DropHostValues() override;
  void RemoveCommands(CScriptEnvironment* environment, std::vector<CScriptObjectRef>* values);

  CMultiplayerState* m_pState;
  CEventType* m_pEventTypes[static_cast<std::uint32_t>(ClientEvent::Count)] = {};
  CScriptObjectRef m_natives;
  NameHashTable m_commands;  // values: tCommand, owned
};

// Fires a new event of the type with the arguments, at the handlers of the filter environment only or of every
// environment (null); true when a handler prevented the default. A null type fires nothing (false).
bool TriggerClientEvent(CEventType* type, CScriptArguments* arguments, CScriptEnvironment* filter = nullptr);

// A new client resource table for the client's messages 9 to 11 (set it with CQVNetClient::SetResourceTable).
std::unique_ptr<CClientResourceTable> CreateClientResourceTable(CMultiplayerState* state, CQVNetClient* client);
