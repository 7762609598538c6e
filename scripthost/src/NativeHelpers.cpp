// The shared pieces of the script classes' natives.
#include "NativeHelpers.h"

#include <string>

#include <platform/text.h>

namespace natives {

const SQChar kNotAnInstanceMessage[] = u"the object is not a class instance";

void PushAscii(HSQUIRRELVM v, const char* text) {
  const std::u16string wide = text::Utf8ToUtf16(std::string_view(text));
  sq_pushstring(v, wide.c_str(), SQInteger(wide.size()));
}

}  // namespace natives
