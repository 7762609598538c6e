// System library: environment, command interpreter, clocks, calendar dates, file removal and renaming.
#include <sqstdsystem.h>

#include <platform/files.h>
#include <platform/text.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "registration.h"

namespace {

// clock() answers the seconds since the process started (wall time, as scripts use it for
// timing), not the processor time the host C library would report.
const std::chrono::steady_clock::time_point g_processStart = std::chrono::steady_clock::now();

std::string Utf8Arg(HSQUIRRELVM v, SQInteger idx) {
  const SQChar* s = nullptr;
  SQInteger len = 0;
  if (SQ_FAILED(sq_getstringandsize(v, idx, &s, &len))) return std::string();
  return text::Utf16ToUtf8(std::u16string_view(s, size_t(len)));
}

const SQChar* StringArg(HSQUIRRELVM v, SQInteger idx) {
  const SQChar* s = u"";
  sq_getstring(v, idx, &s);
  return s;
}

SQInteger GetEnv(HSQUIRRELVM v) {
  std::string name = Utf8Arg(v, 2);
  const char* value = name.find('\0') == std::string::npos ? std::getenv(name.c_str()) : nullptr;
  if (!value) {
    sq_pushnull(v);
    return 1;
  }
  std::u16string wide = text::Utf8ToUtf16(value);
  sq_pushstring(v, wide.c_str(), SQInteger(wide.size()));
  return 1;
}

SQInteger System(HSQUIRRELVM v) {
  std::string command = Utf8Arg(v, 2);
  std::fflush(nullptr);  // keep the order of our output and the command's
  int status = std::system(command.c_str());
  SQInteger result = -1;
  if (status != -1 && WIFEXITED(status)) result = WEXITSTATUS(status);
  sq_pushinteger(v, result);
  return 1;
}

SQInteger Clock(HSQUIRRELVM v) {
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - g_processStart;
  sq_pushfloat(v, SQFloat(elapsed.count()));
  return 1;
}

SQInteger Time(HSQUIRRELVM v) {
  sq_pushinteger(v, SQInteger(std::time(nullptr)));
  return 1;
}

void SetSlot(HSQUIRRELVM v, const SQChar* name, SQInteger value) {
  sq_pushstring(v, name, -1);
  sq_pushinteger(v, value);
  sq_rawset(v, -3);
}

SQInteger Date(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  std::time_t t = std::time(nullptr);
  if (top >= 2) {
    SQInteger given = 0;
    sq_getinteger(v, 2, &given);
    t = std::time_t(given);
  }
  SQInteger format = 'l';
  if (top >= 3) sq_getinteger(v, 3, &format);
  std::tm parts{};
  bool ok;
  if (format == 'u') ok = gmtime_r(&t, &parts) != nullptr;
  else if (format == 'l') ok = localtime_r(&t, &parts) != nullptr;
  else return sq_throwerror(v, u"invalid format");
  if (!ok) return sq_throwerror(v, u"crt api failure");
  sq_newtableex(v, 8);
  SetSlot(v, u"sec", parts.tm_sec);
  SetSlot(v, u"min", parts.tm_min);
  SetSlot(v, u"hour", parts.tm_hour);
  SetSlot(v, u"day", parts.tm_mday);
  SetSlot(v, u"month", parts.tm_mon);
  SetSlot(v, u"year", parts.tm_year + 1900);
  SetSlot(v, u"wday", parts.tm_wday);
  SetSlot(v, u"yday", parts.tm_yday);
  return 1;
}

SQInteger Remove(HSQUIRRELVM v) {
  std::string path = platform::ToHostPath(StringArg(v, 2));
  if (std::remove(path.c_str()) != 0) return sq_throwerror(v, u"remove() failed");
  return 0;
}

SQInteger Rename(HSQUIRRELVM v) {
  std::string from = platform::ToHostPath(StringArg(v, 2));
  std::string to = platform::ToHostPath(StringArg(v, 3));
  if (std::rename(from.c_str(), to.c_str()) != 0) return sq_throwerror(v, u"rename() failed");
  return 0;
}

const SQRegFunction kSystemFunctions[] = {
    {u"getenv", GetEnv, 2, u".s"},
    {u"system", System, 2, u".s"},
    {u"clock", Clock, 1, nullptr},
    {u"time", Time, 1, nullptr},
    {u"date", Date, -1, u".nn"},
    {u"remove", Remove, 2, u".s"},
    {u"rename", Rename, 3, u".ss"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

SQRESULT sqstd_register_systemlib(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  if (top < 1 || sq_gettype(v, -1) != OT_TABLE) return sq_throwerror(v, u"a table is expected on top of the stack");
  SQRESULT r = sqstd::RegisterFunctions(v, top, kSystemFunctions);
  sq_settop(v, top);
  return r;
}
