// Reference counting, weak holders, user data and the name hash of engine objects.
#include <engine/VexilBase.h>

#include <array>
#include <new>

#include <engine/Arguments.h>
#include <engine/Pool.h>
#include <engine/VexilReference.h>
#include <platform/text.h>

namespace Vexil3D {

namespace {

constexpr std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint32_t GetNameHash(std::u16string_view name, bool caseFold) {
  const std::string utf8 = text::Utf16ToUtf8(name);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (char c : utf8) {
    if (c == '\0') break;
    if (caseFold) c = text::ToLowerAscii(c);
    crc = kCrcTable[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
  }
  return ~crc;
}

std::uint32_t GetNameHash(const char16_t* name, std::uint32_t length, bool caseFold) {
  if (!name) return GetNameHash(std::u16string_view(), caseFold);
  if (length == kNameHashToTerminator) length = static_cast<std::uint32_t>(text::Length(name));
  return GetNameHash(std::u16string_view(name, length), caseFold);
}

// ---------------------------------------------------------------------------------------------

std::int32_t CRefCounted::GetRefCount() const { return m_iRefCount.load(std::memory_order_acquire); }

std::int32_t CRefCounted::AddRef() { return m_iRefCount.fetch_add(1, std::memory_order_relaxed) + 1; }

std::int32_t CRefCounted::DecrementRef() {
  std::int32_t before = m_iRefCount.load(std::memory_order_relaxed);
  do {
    if (before <= 0) {
      // Releasing a reference that was never held would free the object twice.
      VEXIL_ASSERT(before > 0);
      return 0;
    }
  } while (!m_iRefCount.compare_exchange_weak(before, before - 1, std::memory_order_acq_rel,
                                              std::memory_order_relaxed));
  return before;
}

std::int32_t CRefCounted::Release() {
  const std::int32_t before = DecrementRef();
  if (before > 1) return before - 1;
  if (before == 1) delete this;
  return 0;
}

// ---------------------------------------------------------------------------------------------

CBaseObject::~CBaseObject() {
  m_bDestroying = 1;
  for (WeakReference* holder : m_WeakReferences) holder->m_pRef = nullptr;
  m_WeakReferences.clear();
  IUserData* places[kUserDataPlaces] = {m_pUser, m_pUserData2, m_pLifetime, m_pUserData4};
  m_pUser = m_pUserData2 = m_pLifetime = m_pUserData4 = nullptr;
  for (IUserData* data : places) delete data;
}

std::int32_t CBaseObject::Release() {
  const std::int32_t before = DecrementRef();
  if (before > 1) return before - 1;
  if (before <= 0) return 0;  // nothing was held (reported by DecrementRef)
  if (m_bDestroying) return 0;
  if (m_pLifetime && m_pLifetime->OnLastRelease()) return 0;
  m_bDestroying = 1;
  if (Pool* pool = m_pPool) {
    // The block starts at the most derived object, which need not be this base.
    void* block = dynamic_cast<void*>(this);
    this->~CBaseObject();
    pool->Delete(block);
  } else {
    delete this;
  }
  return 0;
}

CArgument* CBaseObject::CreateArgument() { return new (std::nothrow) CArgumentObject(this); }

void CBaseObject::AddWeakReference(WeakReference* holder) {
  if (holder) m_WeakReferences.insert(holder);
}

void CBaseObject::RemoveWeakReference(WeakReference* holder) { m_WeakReferences.erase(holder); }

bool CBaseObject::AddUserData(IUserData* data) {
  VEXIL_ASSERT(!m_pUser);
  if (m_pUser) return false;
  m_pUser = data;
  return true;
}

IUserData* CBaseObject::GetUserData(unsigned place) const {
  switch (place) {
    case 0: return m_pUser;
    case 1: return m_pUserData2;
    case 2: return m_pLifetime;
    case 3: return m_pUserData4;
    default: return nullptr;
  }
}

void CBaseObject::SetUserData(unsigned place, IUserData* data) {
  IUserData** slot = nullptr;
  switch (place) {
    case 0: slot = &m_pUser; break;
    case 1: slot = &m_pUserData2; break;
    case 2: slot = &m_pLifetime; break;
    case 3: slot = &m_pUserData4; break;
    default: VEXIL_ASSERT(place < kUserDataPlaces); return;
  }
  if (*slot == data) return;
  IUserData* old = *slot;
  *slot = data;
  delete old;
}

// ---------------------------------------------------------------------------------------------

void Identifiable::SetName(std::u16string_view name) {
  m_Name.assign(name);
  m_uNameHash = GetNameHash(m_Name, false);
}

}  // namespace Vexil3D
