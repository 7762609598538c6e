// Fixed-block pool: runs of elements marked in a slot table.
#include <engine/Pool.h>

#include <cstring>

namespace Vexil3D {

namespace {

// The pool's reports name its operations by the signatures that tools matching on the engine's
// assertion log already know, whatever this compiler spells for the function.
constexpr const char kDeleteSignature[] = "void __thiscall Vexil3D::Pool::Delete(void *)";
constexpr const char kIndexOfSignature[] = "unsigned int __thiscall Vexil3D::Pool::IndexOf(void *)";

}  // namespace

#define POOL_ASSERT(expr, signature) \
  (static_cast<bool>(expr) ? static_cast<void>(0) : AssertionFailed(#expr, VEXIL_SOURCE_PATH, signature, __LINE__))

Pool::Pool(std::uint32_t elementSize, std::uint32_t elementCount)
    : m_uElementSize(elementSize ? elementSize : 1), m_uElementCount(elementCount) {
  if (m_uElementCount != 0 && static_cast<std::uint64_t>(m_uElementSize) * m_uElementCount <= 0x7FFFFFFFu) {
    m_pBase = static_cast<unsigned char*>(
        ::operator new(std::size_t(m_uElementSize) * m_uElementCount, std::nothrow));
    m_pSlots = new (std::nothrow) Slot[m_uElementCount];
  }
  if (!m_pBase || !m_pSlots) {
    ::operator delete(m_pBase);
    delete[] m_pSlots;
    m_pBase = nullptr;
    m_pSlots = nullptr;
    m_uElementCount = 0;
    return;
  }
  std::memset(m_pSlots, 0, sizeof(Slot) * m_uElementCount);
  m_uFirstFree = 0;
}

Pool::~Pool() {
  ::operator delete(m_pBase);
  delete[] m_pSlots;
}

void* Pool::New(std::uint32_t elements) {
  if (elements == 0 || elements > kMaxSpan || elements > m_uElementCount) return nullptr;
  std::uint32_t index = m_uFirstFree == kNoHint ? 0 : m_uFirstFree;
  std::uint32_t run = 0;
  std::uint32_t runStart = 0;
  bool found = false;
  // First fit; runs never wrap past the end of the block.
  for (; index < m_uElementCount; ++index) {
    if (m_pSlots[index].m_uInUse) {
      run = 0;
      continue;
    }
    if (run == 0) runStart = index;
    if (++run == elements) {
      found = true;
      break;
    }
  }
  if (!found) return nullptr;
  for (std::uint32_t i = 0; i < elements; ++i) {
    m_pSlots[runStart + i].m_uInUse = 1;
    m_pSlots[runStart + i].m_iSpan = static_cast<std::int16_t>(i == 0 ? elements : -static_cast<std::int32_t>(i));
  }
  m_uUsed += elements;
  if (m_uFirstFree == kNoHint || m_uFirstFree == runStart) {
    // The hint only has to be a lower bound of the first free element.
    std::uint32_t next = runStart + elements;
    while (next < m_uElementCount && m_pSlots[next].m_uInUse) ++next;
    m_uFirstFree = next < m_uElementCount ? next : kNoHint;
  }
  return m_pBase + std::size_t(runStart) * m_uElementSize;
}

bool Pool::Exists(void* p) const {
  if (!m_pBase || !p) return false;
  const auto address = reinterpret_cast<std::uintptr_t>(p);
  const auto base = reinterpret_cast<std::uintptr_t>(m_pBase);
  if (address < base) return false;
  const std::uintptr_t offset = address - base;
  if (offset >= std::uintptr_t(m_uElementCount) * m_uElementSize) return false;
  return offset % m_uElementSize == 0;
}

unsigned int Pool::IndexOf(void* p) {
  POOL_ASSERT(Exists(p), kIndexOfSignature);
  if (!Exists(p)) return 0;
  return static_cast<unsigned int>((reinterpret_cast<std::uintptr_t>(p) - reinterpret_cast<std::uintptr_t>(m_pBase)) /
                                   m_uElementSize);
}

void Pool::Delete(void* p) {
  POOL_ASSERT(Exists(p), kDeleteSignature);
  if (!Exists(p)) return;
  const unsigned int index = IndexOf(p);
  // Only the first element of a run in use can be returned; anything else is a double or
  // misplaced free and would corrupt the table.
  POOL_ASSERT(m_pSlots[index].m_uInUse && m_pSlots[index].m_iSpan > 0, kDeleteSignature);
  if (!m_pSlots[index].m_uInUse || m_pSlots[index].m_iSpan <= 0) return;
  const std::uint32_t span = static_cast<std::uint32_t>(m_pSlots[index].m_iSpan);
  for (std::uint32_t i = 0; i < span && index + i < m_uElementCount; ++i) m_pSlots[index + i].m_uInUse = 0;
  for (std::uint32_t i = 0; i < span && index + i < m_uElementCount; ++i) m_pSlots[index + i].m_iSpan = 0;
  if (m_uFirstFree == kNoHint || m_uFirstFree > index) m_uFirstFree = index;
  m_uUsed -= span;
}

}  // namespace Vexil3D
