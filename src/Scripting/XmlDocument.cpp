// XML documents and elements for scripts: mirroring, unhooking, attribute getters and the two classes.
#include <scripting/XmlDocument.h>

#include <limits>
#include <unordered_set>

#include <engine/Scripting.h>

namespace Vexil3D {

namespace {

constexpr int kNameArgument = 0;
constexpr std::int64_t kDecimalBase = 10;

CXmlElement* ThisElement(CNativeState* state, void* user) {
  CBaseObject* object = nullptr;
  auto* classes = static_cast<CXmlClasses*>(user);
  return state->GetThis(classes->GetElementClass(), &object) ? static_cast<CXmlElement*>(object) : nullptr;
}

CXmlDocument* ThisDocument(CNativeState* state, void* user) {
  CBaseObject* object = nullptr;
  auto* classes = static_cast<CXmlClasses*>(user);
  return state->GetThis(classes->GetDocumentClass(), &object) ? static_cast<CXmlDocument*>(object) : nullptr;
}

bool ReturnText(CNativeState* state, const std::u16string& text) {
  return state->ReturnString(text.c_str(), static_cast<std::uint32_t>(text.size()));
}

bool MissingAttribute(CNativeState* state, const char16_t* name) {
  return state->Error(u"attribute %s doesn't exist", name);
}

bool ElementConstructor(CNativeState* state, int, void* user) {
  Strong<CXmlElement> element;
  element.Attach(new CXmlElement(static_cast<CXmlClasses*>(user), nullptr));
  return state->ReturnObject(element.Get());
}

bool ChildrenCount(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  return element && state->ReturnInteger(static_cast<std::int32_t>(element->GetChildren().size()));
}

bool Children(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  if (!element) return false;
  auto* array = new CArgumentArray();
  for (const auto& child : element->GetChildren()) array->AppendObject(child.Get());
  return state->GetResults().Adopt(array);
}

bool Parent(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  return element && state->ReturnObject(element->GetParent());
}

bool Name(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  return element && ReturnText(state, element->GetChunk()->GetName());
}

bool Text(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  return element && ReturnText(state, element->GetChunk()->GetText().GetValue());
}

bool Attributes(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  if (!element) return false;
  CArgument* copy = element->GetChunk()->GetAttributes().Clone();
  return copy ? state->GetResults().Adopt(copy) : state->GetResults().AppendNil();
}

bool ClearElement(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  if (!element) return false;
  element->Clear();
  return true;
}

bool GetStringAttribute(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  const char16_t* name = element ? state->CheckString(kNameArgument, nullptr) : nullptr;
  if (!name) return false;
  const char16_t* text = element->GetChunk()->GetStringAttribute(name);
  if (!text) return MissingAttribute(state, name);
  return state->ReturnString(text, static_cast<std::uint32_t>(std::char_traits<char16_t>::length(text)));
}

bool GetBoolAttribute(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  const char16_t* name = element ? state->CheckString(kNameArgument, nullptr) : nullptr;
  if (!name) return false;
  bool value = false;
  if (!element->GetChunk()->GetBoolAttribute(name, &value)) return MissingAttribute(state, name);
  return state->ReturnBoolean(value);
}

bool GetIntegerAttribute(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  const char16_t* name = element ? state->CheckString(kNameArgument, nullptr) : nullptr;
  if (!name) return false;
  std::int32_t value = 0;
  if (!element->GetIntegerAttribute(name, &value)) return MissingAttribute(state, name);
  return state->ReturnInteger(value);
}

bool GetFloatAttribute(CNativeState* state, int, void* user) {
  CXmlElement* element = ThisElement(state, user);
  const char16_t* name = element ? state->CheckString(kNameArgument, nullptr) : nullptr;
  if (!name) return false;
  float value = 0.0f;
  if (!element->GetChunk()->GetFloatAttribute(name, &value)) return MissingAttribute(state, name);
  return state->ReturnDouble(value);
}

bool DocumentConstructor(CNativeState* state, int, void* user) {
  Strong<CXmlDocument> document;
  document.Attach(new CXmlDocument(static_cast<CXmlClasses*>(user)));
  return state->ReturnObject(document.Get());
}

bool RootElement(CNativeState* state, int, void* user) {
  CXmlDocument* document = ThisDocument(state, user);
  return document && state->ReturnObject(document->GetRootElement());
}

bool LoadDocument(CNativeState* state, int, void* user) {
  CXmlDocument* document = ThisDocument(state, user);
  Stream* stream = document ? state->CheckStream(0) : nullptr;
  if (!stream) return false;
  return state->ReturnBoolean(document->Load(stream));
}

}  // namespace

// -------------------------------------------------------------------------------------------------
// Elements

CXmlElement::CXmlElement(CXmlClasses* classes, CElementChunk* chunk)
    : m_pClasses(classes), m_pChunk(chunk ? chunk : new CElementChunk()) {}

CXmlElement::~CXmlElement() {
  Clear();
  delete m_pChunk;  // detaches from a parent chunk it may still have
  m_pParent = nullptr;
}

ReflectedClass* CXmlElement::GetReflectedClass() { return m_pClasses ? m_pClasses->GetElementClass() : nullptr; }

void CXmlElement::Mirror(std::uint32_t depth) {
  if (depth == 0) return;
  for (std::uint32_t i = 0; i < m_pChunk->GetChildCount(); ++i) {
    auto* chunk = dynamic_cast<CElementChunk*>(m_pChunk->GetChild(i));
    if (!chunk) continue;
    Strong<CXmlElement> child;
    child.Attach(new CXmlElement(m_pClasses, chunk));
    child->m_pParent = this;
    child->Mirror(depth - 1);
    m_Children.push_back(std::move(child));
  }
}

void CXmlElement::Clear() {
  std::vector<Strong<CXmlElement>> children;
  children.swap(m_Children);
  // All child chunks leave at once: unhooking them one by one would erase each from the front of the
  // chunk's list, a cost that grows with the square of the child count.
  std::vector<CChunk*> chunks = m_pChunk->ReleaseChildren();
  std::unordered_set<const CChunk*> kept;
  kept.reserve(children.size());
  for (auto& child : children) {
    kept.insert(child->m_pChunk);
    child->m_pParent = nullptr;
  }
  // What was below this chunk without an element of its own goes with it.
  for (CChunk* chunk : chunks)
    if (!kept.count(chunk)) delete chunk;
  // The children are released last, each ending (when nothing else holds it) with a chunk that has no
  // parent left to detach from.
}

bool CXmlElement::GetIntegerAttribute(const char16_t* name, std::int32_t* out) const {
  const char16_t* text = m_pChunk->GetStringAttribute(name);
  if (!text) return false;
  while (*text == u' ' || (*text >= u'\t' && *text <= u'\r')) ++text;
  const bool negative = *text == u'-';
  if (*text == u'-' || *text == u'+') ++text;
  constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  std::int64_t magnitude = 0;
  for (; *text >= u'0' && *text <= u'9'; ++text)
    if (magnitude < kLimit) magnitude = magnitude * kDecimalBase + (*text - u'0');
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
  *out = static_cast<std::int32_t>(value);
  return true;
}

// -------------------------------------------------------------------------------------------------
// Documents

ReflectedClass* CXmlDocument::GetReflectedClass() { return m_pClasses ? m_pClasses->GetDocumentClass() : nullptr; }

bool CXmlDocument::Load(Stream* stream) {
  CElementChunk* top = stream ? CElementChunk::Load(stream) : nullptr;
  if (!top) return false;
  top->Detach();
  Strong<CXmlElement> root;
  root.Attach(new CXmlElement(m_pClasses, top));
  root->Mirror(CChunk::kMaxDepth);
  m_pRoot = root;
  return true;
}

// -------------------------------------------------------------------------------------------------
// Classes

CXmlClasses::CXmlClasses(CResourceMgr* owner, CScripting* scripting) : m_pOwner(owner) {
  if (scripting) RegisterClasses(scripting);
}

void CXmlClasses::RegisterClasses(CScripting* scripting) {
  CReflection& global = scripting->m_Global;
  m_pDocumentClass = global.RegisterClass(u"XmlDocument", nullptr);
  m_pElementClass = global.RegisterClass(u"XmlElement", nullptr);
  if (!m_pDocumentClass || !m_pElementClass) return;
  ReflectedClass& element = *m_pElementClass;
  element.SetConstructor(&ElementConstructor, this);
  element.RegisterProperty(u"childrenCount", ARGUMENT_INTEGER, &ChildrenCount, nullptr, this);
  element.RegisterProperty(u"children", ARGUMENT_ARRAY, &Children, nullptr, this);
  element.RegisterProperty(u"parent", ARGUMENT_OBJECT, &Parent, nullptr, this);
  element.RegisterProperty(u"name", ARGUMENT_STRING, &Name, nullptr, this);
  element.RegisterProperty(u"text", ARGUMENT_STRING, &Text, nullptr, this);
  element.RegisterProperty(u"attributes", ARGUMENT_MAP, &Attributes, nullptr, this);
  element.RegisterMethod(u"clear", u"t", &ClearElement, this, false);
  element.RegisterMethod(u"getStringAttribute", u"ts", &GetStringAttribute, this, false);
  element.RegisterMethod(u"getBoolAttribute", u"ts", &GetBoolAttribute, this, false);
  element.RegisterMethod(u"getIntegerAttribute", u"ts", &GetIntegerAttribute, this, false);
  element.RegisterMethod(u"getFloatAttribute", u"ts", &GetFloatAttribute, this, false);
  ReflectedClass& document = *m_pDocumentClass;
  document.SetConstructor(&DocumentConstructor, this);
  document.RegisterProperty(u"rootElement", ARGUMENT_OBJECT, &RootElement, nullptr, this);
  document.RegisterMethod(u"load", u"tx", &LoadDocument, this, false);
}

}  // namespace Vexil3D
