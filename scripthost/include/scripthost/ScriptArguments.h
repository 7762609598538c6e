#pragma once
// Argument lists that native code hands to script handlers, and their network form (the script argument list
// format: u32 count, then per value a u8 tag and its payload, little-endian).
//
// Errors: reading and writing answer false; nothing is reported elsewhere. A list read so far stays in the
// list when reading fails.
// Ownership: a list holds its values in the machine until Clear (or until the host closes).
// Locking: none; the game's main thread alone uses these.
#include <cstdint>
#include <vector>

#include <squirrel.h>

#include <scripthost/ScriptObjectRef.h>

class CStream;
class CEvent;

class CScriptArguments {
 public:
  // The number of values Push pushes.
  virtual SQInteger GetCount() = 0;
  virtual void Push(HSQUIRRELVM v) = 0;

 protected:
  ~CScriptArguments() = default;
};

class CListScriptArguments : public CScriptArguments, public tHostDependent {
 public:
  // Tags of the network form.
  enum : std::uint8_t { kTagNull = 0, kTagInteger = 1, kTagFloat = 2, kTagBool = 3, kTagString = 4 };
  // Limits of the network form: values per list and bytes per string.
  static constexpr std::uint32_t kMaxValues = 1024;
  static constexpr std::uint32_t kMaxStringBytes = 0xFFFF;

  explicit CListScriptArguments(CScriptHost* host);
  ~CListScriptArguments();

  SQInteger GetCount() override { return SQInteger(m_values.size()); }
  void Push(HSQUIRRELVM v) override;

  // Appends the value at the stack index of v (any thread of the host's machine).
  void AddFromStack(HSQUIRRELVM v, SQInteger index);
  void AddNull();
  void AddInteger(SQInteger value);
  void AddFloat(SQFloat value);
  void AddBool(bool value);
  void AddUserPointer(SQUserPointer value);
  // Null text adds null.
  void AddString(const char16_t* text);
  void AddString(const char16_t* text, SQInteger length);
  // Drops every value; the list is reusable.
  void Clear();

  // Reads one list in the network form and appends its values. False, with the values read so far kept,
  // when the stream ends early or the count is above kMaxValues or above the bytes left.
  static bool Read(CStream* stream, CListScriptArguments* list);

 private:
  void DropHostValues() override { Clear(); }

  std::vector<CScriptObjectRef> m_values;
};

// Puts the event's script instance in front of another list (or of nothing).
class CEventScriptArguments : public CScriptArguments {
 public:
  CEventScriptArguments(CEvent* event, CScriptArguments* inner) : m_pEvent(event), m_pInner(inner) {}
  SQInteger GetCount() override { return 1 + (m_pInner != nullptr ? m_pInner->GetCount() : 0); }
  void Push(HSQUIRRELVM v) override;

 private:
  CEvent* m_pEvent;
  CScriptArguments* m_pInner;
};

// Writes the network form of the values from the first stack index to the top (none when first is above the
// top). Strings go as their UTF-8 bytes, the length field counting bytes: U+0080 to U+00FF take two bytes
// each, not one byte per UTF-16 unit, so that every string reads back as it was written (the reader decodes
// UTF-8); ASCII is one byte either way. Writes nothing and answers false for a first index below 1, more than
// kMaxValues values or a string of more than kMaxStringBytes bytes of UTF-8; false also when the stream takes
// less than it was given.
bool WriteStackArguments(HSQUIRRELVM v, SQInteger first, CStream* stream);
