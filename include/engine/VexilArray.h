#pragma once
// Vexil3D::Array: a fixed-size array of plain values whose size is set once. Indexes past the size
// are reported through VEXIL_ASSERT and then ignored (SetAt) or answered with an empty value (GetAt).
// No locking: filled before it is shared.
#include <cstdint>
#include <memory>
#include <new>

#include <engine/VexilAssert.h>

namespace Vexil3D {

template <class T>
class Array {
 public:
  Array() = default;
  Array(const Array&) = delete;
  Array& operator=(const Array&) = delete;

  // Replaces the contents by size value-initialised elements; false (and empty) when allocation fails.
  bool SetSize(std::uint32_t size) {
    m_pData.reset(new (std::nothrow) T[size]());
    m_Size = m_pData ? size : 0;
    return m_pData != nullptr || size == 0;
  }
  void Free() {
    m_pData.reset();
    m_Size = 0;
  }
  std::uint32_t GetSize() const { return m_Size; }

  void SetAt(std::uint32_t Index, const T& value) {
    VEXIL_ASSERT(Index < m_Size);
    if (Index < m_Size) m_pData[Index] = value;
  }
  T GetAt(std::uint32_t Index) const {
    VEXIL_ASSERT(Index < m_Size);
    return Index < m_Size ? m_pData[Index] : T();
  }

 private:
  std::unique_ptr<T[]> m_pData;
  std::uint32_t m_Size = 0;
};

}  // namespace Vexil3D
