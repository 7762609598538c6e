#pragma once
// A fixed block of equal-sized elements handed out in runs; pooled engine objects return their
// memory here when their last reference goes.
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include <engine/VexilBase.h>

namespace Vexil3D {

class Pool {
 public:
  static constexpr std::uint32_t kNoHint = 0xFFFFFFFFu;
  // Longest run one allocation may take (the span is a signed 16-bit number).
  static constexpr std::uint32_t kMaxSpan = 0x7FFF;

  struct Slot {
    std::uint16_t m_uInUse;
    std::int16_t m_iSpan;  // >0 at the first element of a run: its length; <=0 elsewhere
  };

  Pool(std::uint32_t elementSize, std::uint32_t elementCount);
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  // A run of `elements` free elements, or null when none is left.
  void* New(std::uint32_t elements = 1);
  // Returns the run that begins at p. A pointer that is not the start of a run in use is refused
  // (reported) and changes nothing.
  void Delete(void* p);
  bool Exists(void* p) const;
  unsigned int IndexOf(void* p);

  std::uint32_t GetElementSize() const { return m_uElementSize; }
  std::uint32_t GetElementCount() const { return m_uElementCount; }
  std::uint32_t GetUsedCount() const { return m_uUsed; }
  std::uint32_t GetFirstFreeHint() const { return m_uFirstFree; }
  const Slot& GetSlot(std::uint32_t index) const { return m_pSlots[index]; }

  // Builds a T in one element; engine objects remember the pool so their last Release returns
  // the memory here.
  template <class T, class... Args>
  T* Construct(Args&&... args) {
    static_assert(alignof(T) <= alignof(std::max_align_t), "pool blocks are max_align_t aligned");
    if (sizeof(T) > m_uElementSize || m_uElementSize % alignof(T) != 0) return nullptr;
    void* memory = New(1);
    if (!memory) return nullptr;
    T* object;
    try {
      object = new (memory) T(std::forward<Args>(args)...);
    } catch (...) {
      Delete(memory);
      throw;
    }
    if constexpr (std::is_base_of_v<CBaseObject, T>) object->SetPool(this);
    return object;
  }

 private:
  std::uint32_t m_uElementSize;
  std::uint32_t m_uElementCount;
  std::uint32_t m_uUsed = 0;
  Slot* m_pSlots = nullptr;
  unsigned char* m_pBase = nullptr;
  std::uint32_t m_uFirstFree = kNoHint;
};

}  // namespace Vexil3D
