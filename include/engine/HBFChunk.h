#pragma once
// HBF chunk files: trees of named, typed chunks read from engine streams, the chunk classes and the
// registry that makes chunks by type id; element chunks, the tree form of XML documents.
//
// Errors: reads answer false (a failed tree keeps the children read before the failure, which its
// owner destroys); nothing throws. Sizes and counts in a file are never believed beyond the bytes
// it holds, an inflated body is capped at kMaxInflatedSize and trees deeper than kMaxDepth fail.
// Locking: none. The registry is filled during static initialisation and only read afterwards.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <engine/Arguments.h>
#include <engine/Texture.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

class TiXmlElement;

namespace Vexil3D {

class Stream;

enum ChunkType : std::uint32_t {
  CHUNK_DATA = 1,
  CHUNK_IMAGEDATA = 5,
  CHUNK_HISTORY = 21,
  CHUNK_TEXTURE = 72,
  CHUNK_ELEMENT = 93,
};

class CChunk : public CBase {
 public:
  using Creator = CChunk* (*)();

  static constexpr std::uint32_t kNewChunkVersion = 8;
  // Deepest nesting of chunks (and of XML elements) that is read.
  static constexpr std::uint32_t kMaxDepth = 256;
  // Ids below this one live in the creator table, the others in the overflow map.
  static constexpr std::uint32_t kTableSize = 100;

  CChunk() = default;
  explicit CChunk(std::uint32_t type) : m_uType(type) {}
  // Detaches from the parent, then destroys the whole subtree.
  ~CChunk() override;
  CChunk(const CChunk&) = delete;
  CChunk& operator=(const CChunk&) = delete;

  // The payload, from a stream that covers exactly it.
  virtual bool ReadData(Stream* payload);
  virtual bool WriteData(Stream* stream);
  // After this chunk and all its children were read.
  virtual void OnLoaded() {}

  // Reads this chunk's record and its subtree at the stream's position (the version field must hold
  // the file's version). False on damaged or truncated input and on a chunk that already has children.
  bool Read(Stream* stream);
  // Null when the index is not below the child count.
  CChunk* GetChild(std::uint32_t index) const;
  std::uint32_t GetChildCount() const { return static_cast<std::uint32_t>(m_Children.size()); }
  // Takes this chunk out of its parent's list (found by identity); the caller then owns it.
  void Detach();
  // Appends a chunk that has no parent; this chunk owns it from now on.
  void AppendChild(CChunk* child);
  // Hands every child to the caller at once, in order, each without a parent or index; the caller owns
  // them. Linear in the child count, where detaching the children one by one is quadratic.
  std::vector<CChunk*> ReleaseChildren();

  std::uint32_t GetIndex() const { return m_uIndex; }
  std::uint32_t GetVersion() const { return m_uVersion; }
  void SetVersion(std::uint32_t version) { m_uVersion = version; }
  std::uint32_t GetType() const { return m_uType; }
  CChunk* GetParent() const { return m_pParent; }
  const std::u16string& GetName() const { return m_Name; }
  void SetName(std::u16string_view name) { m_Name.assign(name); }

  // The registry. RegisterTypes runs during static initialisation; Create never answers null (an id
  // without a creator, or a creator that fails, gives a CDataChunk of that id).
  static void RegisterTypes();
  static void UnregisterTypes();
  static void Register(std::uint32_t type, Creator creator);
  static CChunk* Create(std::uint32_t type);

 protected:
  struct Reading;
  // A whole tree at the stream's position, ending by `end`. Version 6 writers disagree on how much of
  // the header a long name takes (its whole length prefix, or one byte): a tree that does not read the
  // first way is read again the second way when a long name left the choice open.
  bool ReadTree(Stream* stream, std::uint64_t end);
  // The record reader; depth counts the chunks above this one.
  bool ReadRecord(Stream* stream, Reading* reading, std::uint32_t depth);
  // Destroys the children, as before a fresh read.
  void DropChildren();

  std::uint32_t m_uIndex = 0;
  std::uint32_t m_uVersion = kNewChunkVersion;
  std::uint32_t m_uType = 0;
  CChunk* m_pParent = nullptr;
  std::u16string m_Name;
  std::vector<CChunk*> m_Children;
};

// Any payload, kept whole.
class CDataChunk : public CChunk {
 public:
  explicit CDataChunk(std::uint32_t type = CHUNK_DATA) : CChunk(type) {}

  // Succeeds only when every byte of the payload was read.
  bool ReadData(Stream* payload) override;
  bool WriteData(Stream* stream) override;

  std::uint32_t GetSize() const { return m_uSize; }
  const std::uint8_t* GetData() const { return m_pData.get(); }
  void SetData(const void* data, std::uint32_t size);

 protected:
  std::uint32_t m_uSize = 0;
  std::unique_ptr<std::uint8_t[]> m_pData;
};

// The bytes of one mip level under a texture chunk: a PNG file (format 0) or R, G, B, A bytes (format 1).
class CImageDataChunk : public CDataChunk {
 public:
  CImageDataChunk() : CDataChunk(CHUNK_IMAGEDATA) {}
  // Under a format-1 texture chunk that has loaded its texture, the mip level of this chunk's index
  // as R, G, B, A bytes; otherwise the bytes that were read.
  bool WriteData(Stream* stream) override;
};

// 8-bit text, all of the payload.
class CHistoryChunk : public CChunk {
 public:
  CHistoryChunk() : CChunk(CHUNK_HISTORY) {}
  bool ReadData(Stream* payload) override;
  bool WriteData(Stream* stream) override;

  std::uint32_t GetSize() const { return m_uSize; }
  const char* GetText() const { return m_pText ? m_pText.get() : ""; }

 private:
  std::uint32_t m_uSize = 0;
  std::unique_ptr<char[]> m_pText;
};

class CTextureChunk : public CChunk {
 public:
  enum Format : std::uint16_t { FORMAT_PNG = 0, FORMAT_RAW = 1 };

  CTextureChunk() : CChunk(CHUNK_TEXTURE) {}
  // Sixteen bytes (u16 format, u16, u32 width, u32 height, u32); an empty payload gives zeros.
  bool ReadData(Stream* payload) override;
  bool WriteData(Stream* stream) override;
  // Makes the texture, one mip level per child (the child's index is the level).
  void OnLoaded() override;

  std::uint16_t GetFormat() const { return m_uFormat; }
  std::uint32_t GetWidth() const { return m_uWidth; }
  std::uint32_t GetHeight() const { return m_uHeight; }
  void SetDescription(std::uint16_t format, std::uint32_t width, std::uint32_t height);
  Texture* GetTexture() const { return m_pTexture.Get(); }

 private:
  void LoadLevel(std::uint32_t index);

  std::uint16_t m_uFormat = 0;
  std::uint16_t m_uReserved1 = 0;
  std::uint32_t m_uWidth = 0;
  std::uint32_t m_uHeight = 0;
  std::uint32_t m_uReserved2 = 0;
  Strong<Texture> m_pTexture;
};

// An element: a name (the chunk's), a text and string-keyed attributes; the chunk form of XML.
class CElementChunk : public CChunk {
 public:
  // Most attributes on one element of XML text that is loaded: the parser checks each attribute against
  // those before it, so the work grows with the square of their number.
  static constexpr std::uint32_t kMaxXmlAttributes = 1024;

  CElementChunk() : CChunk(CHUNK_ELEMENT) {}

  bool ReadData(Stream* payload) override;
  bool WriteData(Stream* stream) override;

  // The element tree in the stream (HBF, or XML text in UTF-8 with or without a byte-order mark or in
  // little-endian UTF-16 after its mark), owned by the caller, or null. UTF-32, big-endian UTF-16 and
  // unmarked UTF-16 text give null, and so does a readable HBF file whose first chunk is not an element. XML nested
  // deeper than kMaxDepth, or with more than kMaxXmlAttributes attributes on one element, is refused before it is
  // parsed.
  static CElementChunk* Load(Stream* stream);
  // Fills this element and its subtree from a parsed XML element.
  void FromXml(const TiXmlElement* element);

  // The attribute's text when it is a string argument, else null.
  const char16_t* GetStringAttribute(const char16_t* name) const;
  // "true" and "1" give true, "false" and "0" false; anything else answers false, out untouched.
  bool GetBoolAttribute(const char16_t* name, bool* out) const;
  // The text read as a number (as strtod: leading blanks, the longest number, 0 for none); false
  // only when there is no string attribute.
  bool GetFloatAttribute(const char16_t* name, float* out) const;

  CArgumentString& GetText() { return m_Text; }
  CArgumentMap& GetAttributes() { return m_Attributes; }

 private:
  bool FromXmlAt(const TiXmlElement* element, std::uint32_t depth);

  CArgumentString m_Text;
  CArgumentMap m_Attributes;
};

// The root of a file's tree.
class CRootChunk : public CChunk {
 public:
  static constexpr std::uint32_t kMinVersion = 6;
  static constexpr std::uint32_t kMaxVersion = 8;
  static constexpr std::uint32_t kMaxInflatedSize = 64u << 20;
  static constexpr std::uint8_t kFlagCompressed = 'Z';
  static constexpr std::uint8_t kFlagPlain = 0xFF;

  // Reads an HBF file from the stream's position: header, body (inflated for 'Z'), root record.
  bool Read(Stream* stream);

  bool IsCompressed() const { return m_bCompressed; }
  std::uint32_t GetKept() const { return m_uKept; }

 private:
  std::uint32_t m_uKept = 0;
  bool m_bCompressed = false;
};

}  // namespace Vexil3D
