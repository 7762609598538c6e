#pragma once
// Routines around fixed-size wide buffers, text conversion and the Windows
// version. Overflow is reported to a task context, never truncated silently.
#include <cstdint>

#include <platform/win32types.h>

class tTaskContext;
class CStream;

// Copies (or appends, when append is set) source into buffer of `capacity`
// characters. False, with a message in errors, when it does not fit; the
// buffer's previous text stays terminated. Does nothing while errors already
// holds an error.
bool CopyStringChecked(tTaskContext* errors, char16_t* buffer, std::uint32_t capacity, const char16_t* source,
                       bool append);
// The same for byte strings, reporting to g_AppContext.
bool CopyStringCheckedA(char* buffer, std::uint32_t capacity, const char* source, bool append);

// UTF-8 form of text with its terminator, in a buffer freed with delete[].
char* WideToUTF8(const char16_t* text);

bool GetWindowsVersion(OSVERSIONINFOW* info);

// Characters appended one by one while length < capacity; never terminated.
struct tStringBuffer {
  char16_t* characters;
  std::uint32_t capacity;
  std::uint32_t length;
};
bool AppendToStringBuffer(tStringBuffer* buffer, tTaskContext* errors, const char* text);
bool AppendToStringBuffer(tStringBuffer* buffer, tTaskContext* errors, const char16_t* text);

struct tStringListNode {
  tStringListNode* next;
  char16_t* text;
};
struct tStringList {
  tStringListNode* head;
  tStringListNode* tail;
};
// Appends a heap copy of text at the tail. On failure the list is unchanged.
bool AppendStringCopy(tStringList* list, tTaskContext* errors, const char16_t* text);
// Frees every node and its copy and leaves the list empty.
void FreeStringList(tStringList* list);

// One UTF-16 unit as two bytes; swap for big-endian text.
bool ReadUCS2Unit(CStream* stream, char16_t* unit, bool swap);
bool WriteUCS2Unit(CStream* stream, char16_t unit, bool swap);
std::uint32_t WriteBytesToStream(CStream* stream, const void* bytes, std::uint32_t count);

extern const char kCopyStringTooShortMessage[];
extern const char kStringBufferTooShortMessage[];
