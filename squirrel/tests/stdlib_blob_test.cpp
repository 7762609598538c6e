// Blob library: stream semantics, numeric round trips, byte access, hostile sizes and the C interface.
#include <cstring>

#include "stdlib_fixture.h"

namespace sqstdtest {
namespace {

using StdlibBlob = StdLib;

struct NumberCase {
  const char* type;
  const char* value;
  int bytes;
  const char* readBack;
};
std::ostream& operator<<(std::ostream& os, const NumberCase& c) { return os << c.type << " " << c.value; }

class StdlibBlobNumbers : public StdLib, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(StdlibBlobNumbers, WriteThenReadGivesTheTruncatedValue) {
  const NumberCase& c = GetParam();
  std::string code = std::string("local b = blob(); b.writen(") + c.value + ", '" + c.type + "');" +
                     "print(b.len() + \" \" + b.tell() + \" \"); b.seek(0); print(b.readn('" + c.type +
                     "') + \" \" + (b.eos() != null));";
  EXPECT_EQ(Out(code), std::to_string(c.bytes) + " " + std::to_string(c.bytes) + " " + c.readBack + " true");
}

INSTANTIATE_TEST_SUITE_P(
    Types, StdlibBlobNumbers,
    ::testing::Values(NumberCase{"i", "-123456789", 4, "-123456789"}, NumberCase{"l", "2147483647", 4, "2147483647"},
                      NumberCase{"s", "-2", 2, "-2"}, NumberCase{"s", "40000", 2, "-25536"},
                      NumberCase{"w", "-1", 2, "65535"}, NumberCase{"w", "0x12345", 2, "9029"},
                      NumberCase{"c", "200", 1, "-56"}, NumberCase{"b", "-1", 1, "255"},
                      NumberCase{"b", "7.9", 1, "7"}, NumberCase{"f", "1.5", 4, "1.5"},
                      NumberCase{"f", "3", 4, "3"}, NumberCase{"d", "-0.25", 8, "-0.25"}));

TEST_F(StdlibBlob, LittleEndianLayoutAndByteAccess) {
  EXPECT_EQ(Out("local b = blob(); b.writen(0x11223344, 'i'); print(b[0] + \",\" + b[1] + \",\" + b[2] + \",\" + b[3]);"),
            "68,51,34,17");
  EXPECT_EQ(Out("local b = blob(2); b[0] = 300; b[1] = -1; print(b[0] + \" \" + b[1] + \" \" + (b[0] = 5));"),
            "44 255 5");
}

TEST_F(StdlibBlob, SeekTellAndEos) {
  EXPECT_EQ(Out("local b = blob(10); print(b.tell() + \" \" + (b.eos() == null)); b.seek(4); b.seek(2, 'c');"
                "print(\" \" + b.tell()); b.seek(-3, 'e'); print(\" \" + b.tell()); b.seek(0, 'e');"
                "print(\" \" + b.eos());"),
            "0 true 6 7 1");
  // Out of range answers -1 and leaves the position; in range answers 0.
  EXPECT_EQ(Out("local b = blob(4); b.seek(1);"
                "local r = [b.seek(-1), b.seek(5), b.seek(-2, 'c'), b.seek(0x7FFFFFFF, 'e'), b.seek(0x7FFFFFFF, 'c'),"
                "b.seek(2, 'c')]; foreach (x in r) print(x + \" \"); print(b.tell());"),
            "-1 -1 -1 -1 -1 0 3");
}

struct ErrorCase {
  const char* code;
  const char* message;
};
std::ostream& operator<<(std::ostream& os, const ErrorCase& c) { return os << c.code; }

class StdlibBlobErrors : public StdLib, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(StdlibBlobErrors, RaiseAScriptErrorAndLeaveTheBlobUsable) {
  std::string code = std::string("local b = blob(4); b.writen(7, 'b'); try { ") + GetParam().code +
                     "; } catch (e) { print(e + \"|\" + b.len() + \"|\" + b.tell()); }";
  EXPECT_EQ(Out(code), std::string(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, StdlibBlobErrors,
    ::testing::Values(ErrorCase{"blob(-1)", "cannot create blob with negative size|4|1"},
                      ErrorCase{"blob(0x7FFFFFFF)", "blob size exceeds the limit|4|1"},
                      ErrorCase{"b.resize(-5)", "negative blob size|4|1"},
                      ErrorCase{"b.resize(0x40000000)", "blob size exceeds the limit|4|1"},
                      ErrorCase{"b.seek(0, 'x')", "invalid origin|4|1"},
                      ErrorCase{"b.readn('i')", "io error|4|1"},
                      ErrorCase{"b.readn('q')", "invalid format|4|1"},
                      ErrorCase{"b.writen(1, 'z')", "invalid format|4|1"},
                      ErrorCase{"b.readblob(-1)", "invalid size|4|1"},
                      ErrorCase{"b.seek(0, 'e'); b.readblob(1)", "no data left to read|4|4"},
                      ErrorCase{"b[4]", "index out of range|4|1"},
                      ErrorCase{"b[-1] = 0", "index out of range|4|1"},
                      ErrorCase{"b[0] = \"x\"", "a blob byte must be a number|4|1"},
                      ErrorCase{"b.nothing", "the index 'nothing' does not exist|4|1"},
                      ErrorCase{"b.seek(4); b.writen(1, 'i'); b.writeblob(1)",
                                "parameter 1 has an invalid type 'integer' ; expected: 'instance'|8|8"}));

TEST_F(StdlibBlob, ReadBlobIsCappedByTheRemainingBytes) {
  EXPECT_EQ(Out("local b = blob(); b.writen(0x04030201, 'i'); b.seek(1);"
                "local c = b.readblob(0x7FFFFFFF); print(c.len() + \" \" + c[0] + c[2] + \" \" + b.tell());"),
            "3 24 4");
}

TEST_F(StdlibBlob, ResizeKeepsContentAndClampsThePosition) {
  EXPECT_EQ(Out("local b = blob(); for (local i = 0; i < 8; ++i) b.writen(i, 'b');"
                "b.resize(3); print(b.len() + \" \" + b.tell() + \" \" + b[2]); b.resize(5); print(\" \" + b.len());"
                "try { b[4]; } catch (e) { print(\" \" + e); } b.writen(9, 'b'); print(\" \" + b.len() + b[3]);"),
            "3 3 2 3 index out of range 49");
}

TEST_F(StdlibBlob, WriteBlobIntoItselfDoublesTheContent) {
  EXPECT_EQ(Out("local b = blob(); b.writen(0x0201, 'w'); b.writeblob(b); local s = \"\";"
                "foreach (i, x in b) s += i + \":\" + x + \" \"; print(s);"),
            "0:1 1:2 2:1 3:2 ");
}

TEST_F(StdlibBlob, ForeachOverAnEmptyBlobDoesNothing) {
  EXPECT_EQ(Out("local n = 0; foreach (x in blob()) ++n; print(n);"), "0");
}

TEST_F(StdlibBlob, SwapsReverseWholeUnitsOnly) {
  EXPECT_EQ(Out("local b = blob(); foreach (x in [1,2,3,4,5,6,7]) b.writen(x, 'b'); b.swap2(); local s = \"\";"
                "foreach (x in b) s += x; b.swap2(); b.swap4(); s += \" \"; foreach (x in b) s += x; print(s);"),
            "2143657 4321567");
}

TEST_F(StdlibBlob, TypeofCloneAndInheritance) {
  EXPECT_EQ(Out("local b = blob(2); b[0] = 9; local c = clone b; c[0] = 1; c.writen(3, 'b');"
                "print(typeof b + \" \" + (b instanceof blob) + \" \" + b[0] + \" \" + c[0] + \" \" + c.len());"),
            "blob true 9 3 2");
  EXPECT_EQ(Out("class Packet extends blob { constructor() { base.constructor(3); } function first() { return this[0]; } }"
                "local p = Packet(); p[0] = 42; print(p.len() + \" \" + p.first() + \" \" + typeof p);"),
            "3 42 blob");
  EXPECT_EQ(Err("class Broken extends blob { constructor() {} } Broken().len();"), "invalid blob");
}

TEST_F(StdlibBlob, GlobalByteOrderHelpers) {
  EXPECT_EQ(Out("print(castf2i(1.0) + \" \" + casti2f(0x40490FDB) + \" \" + castf2i(casti2f(-7)));"),
            "1065353216 3.14159 -7");
  EXPECT_EQ(Out("print(format(\"%x %x %d %x\", swap2(0x1234), swap4(0x12345678), swap2(0x00FF), swap4(swap4(-5))));"),
            "3412 78563412 -256 fffffffb");
  EXPECT_EQ(Out("print(swapfloat(swapfloat(2.5)) + \" \" + castf2i(swapfloat(1.0)));"), "2.5 32831");
}

TEST_F(StdlibBlob, CreateBlobFromC) {
  SQInteger top = sq_gettop(v);
  auto* payload = static_cast<unsigned char*>(sqstd_createblob(v, 4));
  ASSERT_NE(payload, nullptr);
  ASSERT_EQ(sq_gettop(v), top + 1);
  std::memcpy(payload, "\x01\x02\x03\x04", 4);
  EXPECT_EQ(sqstd_getblobsize(v, -1), 4);
  SQUserPointer p = nullptr;
  ASSERT_TRUE(SQ_SUCCEEDED(sqstd_getblob(v, -1, &p)));
  EXPECT_EQ(p, payload);
  sq_pushroottable(v);
  sq_pushstring(v, u"fromC", -1);
  sq_push(v, -3);
  sq_newslot(v, -3, SQFalse);
  sq_settop(v, top);
  EXPECT_EQ(Out("print(fromC.readn('i'));"), "67305985");

  void* empty = sqstd_createblob(v, 0);
  EXPECT_NE(empty, nullptr);
  EXPECT_EQ(sqstd_getblobsize(v, -1), 0);
  sq_settop(v, top);
}

TEST_F(StdlibBlob, CInterfaceRefusesWhatIsNotABlob) {
  SQInteger top = sq_gettop(v);
  EXPECT_EQ(sqstd_createblob(v, -1), nullptr);
  EXPECT_EQ(sqstd_createblob(v, 0x7FFFFFFF), nullptr);
  EXPECT_EQ(sq_gettop(v), top);
  sq_pushinteger(v, 5);
  SQUserPointer p = nullptr;
  EXPECT_TRUE(SQ_FAILED(sqstd_getblob(v, -1, &p)));
  EXPECT_EQ(sqstd_getblobsize(v, -1), -1);
  sq_settop(v, top);
  ASSERT_TRUE(Exec("class Other {} ::other <- Other();"));
  sq_pushroottable(v);
  sq_pushstring(v, u"other", -1);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
  EXPECT_TRUE(SQ_FAILED(sqstd_getblob(v, -1, &p)));
  EXPECT_EQ(sqstd_getblobsize(v, -1), -1);
  sq_settop(v, top);
}

TEST_F(StdlibBlob, CreateBlobWorksAfterScriptsReplaceTheGlobal) {
  ASSERT_TRUE(Exec("blob = null;"));
  SQInteger top = sq_gettop(v);
  EXPECT_NE(sqstd_createblob(v, 2), nullptr);
  EXPECT_EQ(sqstd_getblobsize(v, -1), 2);
  sq_settop(v, top);
}

// Scripts may reach the registry (a host can hand it out) and change the class blobs are made of: what is kept
// under its key, or the members of the class itself. A blob made for readblob or from C runs none of it; it is a
// blob of the library's class with the size asked for, or an error when the library's class is gone.
TEST_F(StdlibBlob, BlobsMadeByTheLibraryRunNoScriptWhateverTheRegistryHolds) {
  sq_pushroottable(v);
  sq_pushstring(v, u"registry", -1);
  sq_pushregistrytable(v);
  ASSERT_TRUE(SQ_SUCCEEDED(sq_newslot(v, -3, SQFalse)));
  sq_poptop(v);
  ASSERT_TRUE(
      Exec("::original <- {}; foreach (k, m in blob) original[k] <- m; ::ran <- 0; ::key <- null; foreach (k, c in "
           "registry) if (c == blob) ::key = k; assert(key != null);"));
  struct Row {
    const char* change;
    bool madeAfter;  // the library's class is still under its key
  };
  const Row rows[] = {
      {"registry[key] = class { constructor(...) { ::ran++; } function len() { ::ran++; return 2; } };", false},
      {"registry[key] = class extends blob { constructor(...) { ::ran++; base.constructor(2); } };", false},
      {"registry[key] = function(...) { ::ran++; return blob(2); };", false},
      {"registry[key] = blob(2);", false},
      {"delete registry[key];", false},
      // Methods may be added to a class that has instances; the library's own are replaced here.
      {"registry[key].constructor <- function(...) { ::ran++; }; registry[key].resize <- @(...) ::ran++;"
       " registry[key]._inherited <- @(...) ::ran++; registry[key]._get <- @(k) ::ran++;"
       " registry[key]._set <- @(k, v) ::ran++; registry[key]._cloned <- @(o) ::ran++;",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.change);
    ASSERT_TRUE(Exec("::saved <- registry[key]; ::made <- blob(); made.writen(0x04030201, 'i');"));
    Exec(row.change);
    ASSERT_TRUE(Exec("::ran = 0;"));
    // The blob read from is made before the change, so only readblob's own result is new.
    const std::string read = "::r <- made.readblob(2);";
    ASSERT_TRUE(Exec("::ran = 0; made.seek(1);"));
    const SQInteger top = sq_gettop(v);
    if (row.madeAfter) {
      ASSERT_TRUE(Exec(read)) << LastError();
      sq_pushroottable(v);
      sq_pushstring(v, u"r", -1);
      ASSERT_TRUE(SQ_SUCCEEDED(sq_rawget(v, -2)));
      SQUserPointer bytes = nullptr;
      ASSERT_TRUE(SQ_SUCCEEDED(sqstd_getblob(v, -1, &bytes)));
      EXPECT_EQ(sqstd_getblobsize(v, -1), 2);
      EXPECT_EQ(std::memcmp(bytes, "\x02\x03", 2), 0);
      sq_settop(v, top);
    } else {
      const std::string error = Err(read);
      EXPECT_NE(error.find("blob"), std::string::npos) << error;
    }
    void* made = sqstd_createblob(v, 3);
    EXPECT_EQ(made != nullptr, row.madeAfter);
    EXPECT_EQ(sq_gettop(v), top + (row.madeAfter ? 1 : 0));
    if (row.madeAfter) {
      EXPECT_EQ(sqstd_getblobsize(v, -1), 3);
    }
    sq_settop(v, top);
    EXPECT_EQ(Out("print(::ran);"), "0");
    ASSERT_TRUE(Exec("registry[key] <- saved;"));
    // Put the library's own methods back for the next row (the metamethods are replaced in the last row only).
    ASSERT_TRUE(Exec("foreach (k, m in original) saved[k] <- m;"));
  }
}

TEST_F(StdlibBlob, RegistrationNeedsATable) {
  sq_pushinteger(v, 1);
  EXPECT_TRUE(SQ_FAILED(sqstd_register_bloblib(v)));
  EXPECT_TRUE(SQ_FAILED(sqstd_register_mathlib(v)));
  EXPECT_TRUE(SQ_FAILED(sqstd_register_stringlib(v)));
  EXPECT_TRUE(SQ_FAILED(sqstd_register_systemlib(v)));
  EXPECT_EQ(sq_gettop(v), 1);
  sq_pop(v, 1);
}

}  // namespace
}  // namespace sqstdtest
