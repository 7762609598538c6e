#pragma once
// XML documents for scripts: CXmlElement wraps one element chunk and mirrors its chunk tree so that scripts
// can hold nodes as objects; CXmlDocument loads a tree (HBF or XML) from a stream; CXmlClasses registers the
// script classes "XmlDocument" and "XmlElement".
//
// Errors: script-visible failures are native errors ("attribute %s doesn't exist"); a stream without a tree
// is a false result. Ownership: after mirroring each element owns its chunk outright; the parent chunk's
// child list only refers to it. Dropping a child (clear, or the parent's end) unhooks its chunk, so a child
// that a script keeps stays valid as a detached root with its subtree. Trees come from the element-file
// loader, whose nesting cap bounds mirroring and destruction. Locking: none; the game's main thread only.
#include <cstdint>
#include <vector>

#include <engine/HBFChunk.h>
#include <engine/Native.h>
#include <engine/VexilBase.h>
#include <engine/VexilReference.h>

namespace Vexil3D {

class CResourceMgr;
class CScripting;
class CXmlClasses;

class CXmlElement : public CBaseObject {
 public:
  // Takes ownership of the chunk (a new empty element chunk when null), which must have no parent element.
  CXmlElement(CXmlClasses* classes, CElementChunk* chunk);
  ~CXmlElement() override;

  ReflectedClass* GetReflectedClass() override;

  // Makes an element for each element chunk below this one, depth first, at most depth levels deep.
  void Mirror(std::uint32_t depth);
  // Drops every child: element children are unhooked (their chunks leave this chunk; a kept child lives
  // on as a root), other child chunks are destroyed. Linear in the child count, as is the element's end.
  void Clear();

  CElementChunk* GetChunk() const { return m_pChunk; }
  CXmlElement* GetParent() const { return m_pParent.Get(); }
  const std::vector<Strong<CXmlElement>>& GetChildren() const { return m_Children; }

  // The attribute read as a decimal integer over UTF-16 (blanks, sign, digits), clamped to 32 bits; 0 for
  // text that is no number. False when there is no string attribute of that name.
  bool GetIntegerAttribute(const char16_t* name, std::int32_t* out) const;

 private:
  CXmlClasses* m_pClasses;
  CElementChunk* m_pChunk;  // owned
  Weak<CXmlElement> m_pParent;
  std::vector<Strong<CXmlElement>> m_Children;
};

class CXmlDocument : public CBaseObject {
 public:
  explicit CXmlDocument(CXmlClasses* classes) : m_pClasses(classes) {}
  ReflectedClass* GetReflectedClass() override;

  // Reads a tree from the stream and replaces the root with it; false (the root kept) when none is read.
  bool Load(Stream* stream);
  CXmlElement* GetRootElement() const { return m_pRoot.Get(); }

 private:
  CXmlClasses* m_pClasses;
  Strong<CXmlElement> m_pRoot;
};

// The XML holder of the resource manager: the two script classes and their natives.
class CXmlClasses {
 public:
  CXmlClasses(CResourceMgr* owner, CScripting* scripting);
  CXmlClasses(const CXmlClasses&) = delete;
  CXmlClasses& operator=(const CXmlClasses&) = delete;

  CResourceMgr* GetOwner() const { return m_pOwner; }
  ReflectedClass* GetDocumentClass() const { return m_pDocumentClass; }
  ReflectedClass* GetElementClass() const { return m_pElementClass; }

 private:
  void RegisterClasses(CScripting* scripting);

  CResourceMgr* m_pOwner;
  ReflectedClass* m_pDocumentClass = nullptr;  // owned by the registry
  ReflectedClass* m_pElementClass = nullptr;   // owned by the registry
};

}  // namespace Vexil3D
