// Math library: the C runtime's routines on script numbers (single precision), rand/srand.
#include <sqstdmath.h>

#include <cmath>
#include <cstdint>

#include "registration.h"

namespace {

// rand() keeps the range scripts were written against on the original platform (0..32767), so
// expressions such as rand() * 100 / RAND_MAX cannot overflow 32-bit script integers. The state is
// per thread, as the C runtime's is there.
constexpr SQInteger kRandMax = 0x7FFF;
thread_local uint32_t g_randState = 1;

SQFloat Arg(HSQUIRRELVM v, SQInteger idx) {
  SQFloat f = 0;
  sq_getfloat(v, idx, &f);
  return f;
}

template <float (*F)(float)>
SQInteger Unary(HSQUIRRELVM v) {
  sq_pushfloat(v, F(Arg(v, 2)));
  return 1;
}

template <float (*F)(float, float)>
SQInteger Binary(HSQUIRRELVM v) {
  sq_pushfloat(v, F(Arg(v, 2), Arg(v, 3)));
  return 1;
}

float Sqrt(float x) { return std::sqrt(x); }
float Fabs(float x) { return std::fabs(x); }
float Sin(float x) { return std::sin(x); }
float Cos(float x) { return std::cos(x); }
float Tan(float x) { return std::tan(x); }
float Asin(float x) { return std::asin(x); }
float Acos(float x) { return std::acos(x); }
float Atan(float x) { return std::atan(x); }
float Exp(float x) { return std::exp(x); }
float Log(float x) { return std::log(x); }
float Log10(float x) { return std::log10(x); }
float Floor(float x) { return std::floor(x); }
float Ceil(float x) { return std::ceil(x); }
float Atan2(float y, float x) { return std::atan2(y, x); }
float Pow(float x, float y) { return std::pow(x, y); }

SQInteger Abs(HSQUIRRELVM v) {
  SQInteger n = 0;
  sq_getinteger(v, 2, &n);
  // Negating the most negative integer wraps, as all script integer arithmetic does.
  sq_pushinteger(v, n < 0 ? SQInteger(0u - uint32_t(n)) : n);
  return 1;
}

SQInteger Srand(HSQUIRRELVM v) {
  SQInteger seed = 0;
  sq_getinteger(v, 2, &seed);
  g_randState = uint32_t(seed);
  return 0;
}

SQInteger Rand(HSQUIRRELVM v) {
  g_randState = g_randState * 214013u + 2531011u;
  sq_pushinteger(v, SQInteger((g_randState >> 16) & uint32_t(kRandMax)));
  return 1;
}

const SQRegFunction kMathFunctions[] = {
    {u"sqrt", Unary<Sqrt>, 2, u".n"},
    {u"sin", Unary<Sin>, 2, u".n"},
    {u"cos", Unary<Cos>, 2, u".n"},
    {u"asin", Unary<Asin>, 2, u".n"},
    {u"acos", Unary<Acos>, 2, u".n"},
    {u"log", Unary<Log>, 2, u".n"},
    {u"log10", Unary<Log10>, 2, u".n"},
    {u"tan", Unary<Tan>, 2, u".n"},
    {u"atan", Unary<Atan>, 2, u".n"},
    {u"atan2", Binary<Atan2>, 3, u".nn"},
    {u"pow", Binary<Pow>, 3, u".nn"},
    {u"floor", Unary<Floor>, 2, u".n"},
    {u"ceil", Unary<Ceil>, 2, u".n"},
    {u"exp", Unary<Exp>, 2, u".n"},
    {u"fabs", Unary<Fabs>, 2, u".n"},
    {u"abs", Abs, 2, u".n"},
    {u"srand", Srand, 2, u".n"},
    {u"rand", Rand, 1, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

SQRESULT sqstd_register_mathlib(HSQUIRRELVM v) {
  SQInteger top = sq_gettop(v);
  if (top < 1 || sq_gettype(v, -1) != OT_TABLE) return sq_throwerror(v, u"a table is expected on top of the stack");
  if (SQ_FAILED(sqstd::RegisterFunctions(v, top, kMathFunctions))) return SQ_ERROR;
  sq_pushstring(v, u"RAND_MAX", -1);
  sq_pushinteger(v, kRandMax);
  sq_newslot(v, top, SQFalse);
  sq_pushstring(v, u"PI", -1);
  sq_pushfloat(v, SQFloat(3.14159265358979323846));
  sq_newslot(v, top, SQFalse);
  sq_settop(v, top);
  return SQ_OK;
}
