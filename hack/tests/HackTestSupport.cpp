#include "HackTestSupport.h"

namespace hacktest {

SlotBehaviour g_Slots[kSlots];

namespace {
template <int N>
std::uint32_t SlotHandler(std::uint32_t event, ModuleEventData* data) {
  if (!g_Slots[N]) return event == MODULEEVENT_INIT || event == MODULEEVENT_UNLOAD ? 1 : 0;
  return g_Slots[N](event, data);
}
}  // namespace

ModuleHandler const g_SlotHandlers[kSlots] = {SlotHandler<0>, SlotHandler<1>, SlotHandler<2>,
                                              SlotHandler<3>, SlotHandler<4>, SlotHandler<5>};

}  // namespace hacktest
