// The script class Texture: image files made into game textures.
#include <scripthost/ScriptTexture.h>

#include <base/LoadedImageData.h>
#include <base/Stream.h>
#include <base/TaskContext.h>
#include <hack/GameRoutines.h>
#include <hack/ModuleEventData.h>

#include <scripthost/ScriptEnvironment.h>
#include <scripthost/ScriptHost.h>

#include "NativeSupport.h"

const SQChar kDirectDrawMissingMessage[] = u"DirectDraw is not initialised";
const SQChar kTextureOpenFailedMessage[] = u"failed to open texture file";
const SQChar kTextureLoadFailedMessage[] = u"failed to load texture";
const SQChar kTextureCreateFailedMessage[] = u"failed to create texture";

namespace {

constexpr SQInteger kPathIndex = 2;

// The image a module decoded from the stream (one reference for the caller), its pixels read; null when no
// module answered or the pixels could not be read.
CImageData* LoadImageFromStream(CStream* stream) {
  LoadImageEventData data{};
  data.size = sizeof data;
  data.stream = stream;
  const std::uint32_t reply = RaiseModuleEvent(MODULEEVENT_LOADIMAGE, &data);
  if (!ReplyHolds(reply, MODULEREPLY_VALUE) || data.result == nullptr) return nullptr;
  CImageData* image = data.result;
  // Images that decode in two steps read their pixels now, while the stream is still open.
  if (auto* loaded = dynamic_cast<CLoadedImageData*>(image)) {
    tTaskContext task;
    if (!loaded->Decode(&task) || task.GetErrorCount() != 0) {
      image->Release();
      return nullptr;
    }
  }
  return image;
}

SQInteger Constructor(HSQUIRRELVM v) {
  if (SQ_FAILED(natives::CheckUnbound(v))) return SQ_ERROR;
  CScriptHost* host = CScriptHost::FromVM(v);
  if (Game::GetDirectDraw() == nullptr) return sq_throwerror(v, kDirectDrawMissingMessage);
  const SQChar* path = nullptr;
  sq_getstring(v, kPathIndex, &path);
  CScriptEnvironment* environment = host->GetRunningEnvironment();
  CStream* stream = environment != nullptr ? environment->OpenFile(path, true, false, false) : nullptr;
  if (stream == nullptr) return sq_throwerror(v, kTextureOpenFailedMessage);
  CImageData* image = LoadImageFromStream(stream);
  if (image == nullptr) {
    stream->Release();
    return sq_throwerror(v, kTextureLoadFailedMessage);
  }
  auto* object = new tScriptTexture(host->GetBinding(ScriptClass::Texture));
  const bool made = object->GetRecord().Create(image);
  image->Release();
  stream->Release();
  if (!made) {
    object->Release();
    return sq_throwerror(v, kTextureCreateFailedMessage);
  }
  return natives::BindNew(v, object, object);
}

SQInteger GetWidth(HSQUIRRELVM v) {
  tScriptTexture* self = nullptr;
  if (SQ_FAILED(natives::Object(v, natives::kThis, ScriptClass::Texture, &self))) return SQ_ERROR;
  sq_pushinteger(v, SQInteger(self->GetRecord().GetWidth()));
  return 1;
}

SQInteger GetHeight(HSQUIRRELVM v) {
  tScriptTexture* self = nullptr;
  if (SQ_FAILED(natives::Object(v, natives::kThis, ScriptClass::Texture, &self))) return SQ_ERROR;
  sq_pushinteger(v, SQInteger(self->GetRecord().GetHeight()));
  return 1;
}

SQInteger TypeOf(HSQUIRRELVM v) {
  tScriptTexture* self = nullptr;
  if (SQ_FAILED(natives::Object(v, natives::kThis, ScriptClass::Texture, &self))) return SQ_ERROR;
  sq_pushstring(v, u"Texture", -1);
  return 1;
}

}  // namespace

void RegisterTextureClass(CScriptHost* host, HSQUIRRELVM v) {
  const SQInteger top = sq_gettop(v);
  RegisterClassWithConstructor(v, u"Texture", Constructor, u"xs");
  host->BindClass(ScriptClass::Texture, v, false);
  RegisterFunctionTyped(v, u"GetWidth", GetWidth, u"x");
  RegisterFunctionTyped(v, u"GetHeight", GetHeight, u"x");
  RegisterFunctionTyped(v, u"_typeof", TypeOf, u"x");
  sq_settop(v, top);
}
