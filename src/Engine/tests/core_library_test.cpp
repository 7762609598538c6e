// The core script library: registration and argument types, colours, the polygon test, stream widths
// at their limits, text readers, matrices, vectors without NaN, and the reflection utilities.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <engine/Context.h>
#include <engine/CoreLibrary.h>
#include <engine/Native.h>
#include <engine/Scripting.h>
#include <platform/text.h>

using namespace Vexil3D;

namespace {

struct Args {
  CArgumentArray a;
  template <class... T>
  explicit Args(T... values) {
    (Add(values), ...);
  }
  void Add(int v) { a.AppendInteger(v); }
  void Add(std::int64_t v) { a.AppendLongInteger(v); }
  void Add(double v) { a.AppendDouble(v); }
  void Add(const char16_t* v) { a.AppendString(v, static_cast<std::uint32_t>(std::char_traits<char16_t>::length(v))); }
  void Add(CBaseObject* v) { a.AppendObject(v); }
  void Add(CVector2D v) { a.AppendVector2D(v); }
  void Add(CVector3D v) { a.AppendVector3D(v); }
};

std::string Narrow(const char16_t* text) {
  return text ? std::string(text, text + std::char_traits<char16_t>::length(text)) : "";
}

class CoreLibraryTest : public ::testing::Test {
 protected:
  // Calls the record with "this"; the results stay in `results`, the error text in `error`.
  bool Call(const CallableRecord& record, CBaseObject* self, Args&& args = Args()) {
    results.Clear();
    CNativeState state(&scripting, nullptr, &args.a);
    state.SetThis(self);
    const bool ok = record.Call(&state, static_cast<int>(args.a.GetCount()));
    error = Narrow(GetLastErrorText());
    state.GetResults().AppendTo(&results);
    return ok;
  }
  bool Function(const char16_t* space, const char16_t* name, Args&& args = Args()) {
    CReflection* ns = space ? global.FindNamespace(space) : &global;
    return Call(ns->FindFunction(name)->callable, nullptr, std::move(args));
  }
  bool Method(CBaseObject* self, const char16_t* name, Args&& args = Args()) {
    ReflectedClass* cls = self->GetReflectedClass();
    if (const PropertyEntry* p = cls->FindProperty(name)) return Call(p->getter, self, std::move(args));
    return Call(cls->FindMethod(name)->callable, self, std::move(args));
  }
  bool Set(CBaseObject* self, const char16_t* name, double value) {
    return Call(self->GetReflectedClass()->FindProperty(name)->setter, self, Args(value));
  }
  Strong<CBaseObject> New(const char16_t* className, Args&& args = Args()) {
    EXPECT_TRUE(Call(global.FindClass(className)->GetConstructor(), nullptr, std::move(args))) << error;
    return Strong<CBaseObject>(results.Get(0) ? results.Get(0)->ToObject() : nullptr);
  }
  Strong<CBaseObject> Memory(const void* data, std::uint32_t size, std::uint32_t access) {
    Strong<Stream> stream;
    stream.Attach(new CMemoryStream(const_cast<void*>(data), size, access));
    Strong<CBaseObject> object;
    object.Attach(new CScriptStream(stream.Get(), global.m_pStreamClass));
    return object;
  }
  // The error text of a failed call; the first result of a successful one.
  std::string Failure(bool ok) { return ok ? "(succeeded)" : error; }
  double Got(bool ok) { return ok ? Number() : -1.0; }
  double Number(std::uint32_t i = 0) {
    double value = std::nan("");
    if (results.Get(i)) results.Get(i)->ToNumber(&value);
    return value;
  }
  std::vector<float> Vector(std::uint32_t i = 0) {
    CBaseObject* object = results.Get(i) ? results.Get(i)->ToObject() : nullptr;
    if (auto* v2 = dynamic_cast<CObjectValue<CVector2D>*>(object)) return {v2->GetValue().x, v2->GetValue().y};
    if (auto* v3 = dynamic_cast<CObjectValue<CVector3D>*>(object))
      return {v3->GetValue().x, v3->GetValue().y, v3->GetValue().z};
    return {};
  }

  CScripting scripting;
  CReflection& global = scripting.m_Global;
  CArgumentArray results;
  std::string error;
};

TEST_F(CoreLibraryTest, EntriesCarryTheirArgumentTypes) {
  // {namespace ("" for global) or class, entry, argument types}; the classes' rows name their class.
  const char16_t* functions[][3] = {{u"", u"toColour", u"iii|i"},
                                    {u"", u"inPoly", u"z*"}, {u"sdl", u"getModState", u""},
                                    {u"reflection", u"move", u"xx"},
                                    {u"reflection", u"createFunction", u"c"}};
  for (const auto& f : functions)
    EXPECT_TRUE((*f[0] ? global.FindNamespace(f[0]) : &global)->FindFunction(f[1])->callable.typeSpec == f[2]);
  const char16_t* methods[][3] = {{u"Stream", u"readBytes", u"ti"},        {u"Stream", u"writeDouble", u"tf"},
                                  {u"Matrix4x4", u"setMultiply", u"txx*"}, {u"Matrix4x4", u"setElement", u"tif"},
                                  {u"Vec2", u"interpolate", u"tzf"},       {u"Vec3", u"interpolate", u"tvf"}};
  for (const auto& m : methods) EXPECT_TRUE(global.FindClass(m[0])->FindMethod(m[1])->callable.typeSpec == m[2]);
  EXPECT_EQ(global.FindNamespace(u"module")->GetFunctionCount(), 0u);
  EXPECT_TRUE(global.FindNamespace(u"reflection")->FindClass(u"Function"));
  for (auto noted : {global.m_pStreamClass, global.m_pMatrix4x4Class, global.m_pVec2Class, global.m_pVec3Class})
    EXPECT_TRUE(noted);
  const ValueEntry* platformName = global.FindNamespace(u"platform")->FindValue(u"name");
  ASSERT_TRUE(platformName && Call(platformName->getter, nullptr));
  EXPECT_TRUE(results.Get(0)->ToString() == std::u16string(u"Windows"));
}

TEST_F(CoreLibraryTest, ToColourPacksEightBitChannels) {
  EXPECT_EQ((std::tuple{Got(Function(nullptr, u"toColour", Args(255, 0, 0))),
                        Got(Function(nullptr, u"toColour", Args(255, 0, 0, 0))),
                        Got(Function(nullptr, u"toColour", Args(0x1FF, 0x102, 3, 0x180))),
                        Function(nullptr, u"toColour", Args(1, 2))}),
            (std::tuple{double(0xFFFF0000u), double(0x00FF0000u), double(0x80FF0203u), false}));
}

TEST_F(CoreLibraryTest, InPolyEvenOdd) {
  // A "U": two arms joined at the bottom, the notch between them open at the top.
  const std::vector<CVector2D> u = {{0, 0}, {30, 0}, {30, 30}, {20, 30}, {20, 10}, {10, 10}, {10, 30}, {0, 30}};
  const std::vector<CVector2D> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  const struct {
    CVector2D point;
    const std::vector<CVector2D>* polygon;
    bool inside;
  } cases[] = {{{5, 20}, &u, true},      {{15, 20}, &u, false},      {{15, 5}, &u, true},  {{25, 25}, &u, true},
               {{35, 5}, &u, false},     {{5, 5}, &square, true},    {{5, 15}, &square, false},
               // On the vertical edges: the left one is outside its column, the right one inside.
               {{0, 5}, &square, false}, {{10, 5}, &square, true}, {{5, -1}, &square, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.point.x << "," << c.point.y);
    Args args(c.point);
    for (const CVector2D& p : *c.polygon) args.Add(p);
    ASSERT_TRUE(Function(nullptr, u"inPoly", std::move(args))) << error;
    EXPECT_EQ((std::tuple{results.Get(0)->ToBoolean(),
                          PointInPolygon(c.point, c.polygon->data(), static_cast<std::uint32_t>(c.polygon->size()))}),
              (std::tuple{c.inside, c.inside}));
  }
  EXPECT_TRUE(Function(nullptr, u"inPoly", Args(CVector2D{})) && !results.Get(0)->ToBoolean());  // no polygon
  Args tooMany(CVector2D{});
  for (std::uint32_t i = 0; i <= kMaxPolygonPoints; ++i) tooMany.Add(CVector2D{float(i), 0});
  EXPECT_EQ(Failure(Function(nullptr, u"inPoly", std::move(tooMany))), "Too many points");
}

TEST_F(CoreLibraryTest, EachWidthRoundTripsAtItsLimits) {
  constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
  constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
  const struct {
    const char16_t* write;
    const char16_t* read;
    double argument;  // written as a double unless wide is set
    std::int64_t wide;
    std::vector<std::uint8_t> bytes;
    double expected;  // what the read gives back
  } cases[] = {
      {u"writeInt8", u"readInt8", -128, 0, {0x80}, -128}, {u"writeInt8", u"readInt8", 127, 0, {0x7F}, 127},
      {u"writeUInt8", u"readUInt8", 255, 0, {0xFF}, 255},
      {u"writeInt16", u"readInt16", -32768, 0, {0x00, 0x80}, -32768},
      {u"writeUInt16", u"readUInt16", 65535, 0, {0xFF, 0xFF}, 65535},
      {u"writeInt32", u"readInt32", -2147483648.0, 0, {0, 0, 0, 0x80}, -2147483648.0},
      {u"writeUInt32", u"readUInt32", 4294967295.0, 0, {0xFF, 0xFF, 0xFF, 0xFF}, -1},
      {u"writeInt64", u"readInt64", 0, kI64Min, {0, 0, 0, 0, 0, 0, 0, 0x80}, double(kI64Min)},
      {u"writeInt64", u"readUInt64", 0, kI64Max, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, double(kI64Max)},
      {u"writeFloat", u"readFloat", -1.5, 0, {0, 0, 0xC0, 0xBF}, -1.5},
      {u"writeDouble", u"readDouble", 0.1, 0, {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}, 0.1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.write));
    std::uint8_t buffer[8] = {};
    Strong<CBaseObject> stream =
        Memory(buffer, sizeof buffer, CMemoryStream::ACCESS_READ | CMemoryStream::ACCESS_WRITE);
    ASSERT_TRUE(c.wide ? Method(stream, c.write, Args(c.wide)) : Method(stream, c.write, Args(c.argument))) << error;
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + c.bytes.size()), c.bytes);
    // The same bytes read back, then one byte short of them.
    Strong<CBaseObject> reader = Memory(buffer, static_cast<std::uint32_t>(c.bytes.size()), CMemoryStream::ACCESS_READ);
    EXPECT_EQ(Got(Method(reader, c.read)), c.expected) << error;
    const auto shortSize = static_cast<std::uint32_t>(c.bytes.size() - 1);
    EXPECT_EQ(Failure(Method(Memory(buffer, shortSize, CMemoryStream::ACCESS_READ), c.read)), "unable to read");
    Strong<CBaseObject> full = Memory(buffer, shortSize, CMemoryStream::ACCESS_WRITE);
    EXPECT_EQ(Failure(c.wide ? Method(full, c.write, Args(c.wide)) : Method(full, c.write, Args(c.argument))),
              "unable to write");
  }
}

TEST_F(CoreLibraryTest, ReadBytesRefusesCountsBeyondTheStreamBeforeReading) {
  const char data[] = "abcdef";
  Strong<CBaseObject> stream = Memory(data, 6, CMemoryStream::ACCESS_READ);
  for (int count : {-1, 7, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(Failure(Method(stream, u"readBytes", Args(count))), "unable to read") << count;
  }
  EXPECT_EQ(Got(Method(stream, u"position")), 0);
  ASSERT_TRUE(Method(stream, u"readBytes", Args(6))) << error;
  std::uint32_t size = 0;
  const std::uint8_t* bytes = static_cast<CArgumentBytes*>(results.Get(0))->GetBytes(&size);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), size), "abcdef");
}

TEST_F(CoreLibraryTest, StringsLinesAndClosing) {
  std::uint8_t buffer[64] = {};
  Strong<CBaseObject> out = Memory(buffer, sizeof buffer, CMemoryStream::ACCESS_WRITE);
  ASSERT_TRUE(Method(out, u"writeString", Args(u"Gr\u00FC\u00DFe \u20AC")));
  ASSERT_TRUE(Method(out, u"writeBytes", Args(u"one\r\ntwo")));
  Strong<CBaseObject> in = Memory(buffer, 12 + 8, CMemoryStream::ACCESS_READ);
  ASSERT_TRUE(Method(in, u"readString")) << error;
  EXPECT_TRUE(results.Get(0)->ToString() == std::u16string(u"Gr\u00FC\u00DFe \u20AC"));
  for (const char16_t* line :
       {u"one", u"two", static_cast<const char16_t*>(nullptr), static_cast<const char16_t*>(nullptr)}) {
    ASSERT_TRUE(Method(in, u"readLine"));
    EXPECT_TRUE(line ? results.Get(0)->ToString() == std::u16string(line) : results.Get(0)->IsNil());
  }
  ASSERT_TRUE(Method(in, u"close"));
  const struct {
    const char16_t* member;
    const char* text;
  } closed[] = {{u"close", "stream already closed"}, {u"length", "stream already closed"},
                {u"position", "stream already closed"}, {u"readInt8", "stream closed"}, {u"readLine", "stream closed"}};
  for (const auto& c : closed) EXPECT_EQ(Failure(Method(in, c.member)), c.text);
  // A TextReader takes a Stream, and refuses once closed.
  const char text[] = "a\xE2\x82\xAC\nb";
  Strong<CBaseObject> source = Memory(text, 6, CMemoryStream::ACCESS_READ);
  Strong<CBaseObject> reader = New(u"TextReader", Args(source.Get()));
  ASSERT_TRUE(reader);
  for (double codePoint : {double('a'), double(0x20AC)}) EXPECT_EQ(Got(Method(reader, u"readCharacter")), codePoint);
  ASSERT_TRUE(Method(reader, u"close"));
  EXPECT_EQ(Failure(Method(reader, u"readLine")), "TextReader is closed");
  EXPECT_FALSE(Call(global.FindClass(u"TextReader")->GetConstructor(), nullptr, Args(1)));
}

// Lines longer than the reader's buffer come back whole from both natives, at every length around the
// buffer's size, after each line ending and with a surrogate pair across a cut; the next line follows.
TEST_F(CoreLibraryTest, LongLinesComeBackWhole) {
  const std::uint32_t room = CTextReader::kLineCapacity - 1;
  const std::uint32_t lengths[] = {
      0, 1, room - 2, room - 1, room, room + 1, room + 2, 2 * room - 1, 2 * room, 2 * room + 1, 3 * room + 5};
  for (const char16_t* ending : {u"\n", u"\r\n", u""}) {
    for (std::uint32_t length : lengths) {
      for (const bool pair : {false, true}) {
        if (length == 0 && std::u16string(ending).empty()) continue;  // no text: no line
        SCOPED_TRACE(testing::Message() << length << (pair ? " with a pair" : "") << " ending "
                                        << Narrow(ending).size());
        std::u16string line(length, u'x');
        for (std::uint32_t i = 0; i < length; ++i) line[i] = char16_t(u'a' + i % 26);
        // A pair placed so that it straddles the buffer's last unit.
        if (pair && length >= room + 1) line.replace(room - 1, 2, u"\U0001F600");
        const std::string utf8 = text::Utf16ToUtf8(line + ending + (std::u16string(ending).empty() ? u"" : u"next"));
        std::vector<std::uint8_t> copy(utf8.begin(), utf8.end());
        Strong<CBaseObject> stream =
            Memory(copy.data(), static_cast<std::uint32_t>(copy.size()), CMemoryStream::ACCESS_READ);
        Strong<CBaseObject> again =
            Memory(copy.data(), static_cast<std::uint32_t>(copy.size()), CMemoryStream::ACCESS_READ);
        Strong<CBaseObject> reader = New(u"TextReader", Args(again.Get()));
        for (CBaseObject* self : {stream.Get(), reader.Get()}) {
          ASSERT_TRUE(Method(self, u"readLine")) << error;
          auto got = [&] { return results.Get(0)->IsString() ? std::u16string(results.Get(0)->ToString()) : u"(nil)"; };
          EXPECT_TRUE(got() == line);
          if (!std::u16string(ending).empty()) {
            ASSERT_TRUE(Method(self, u"readLine"));
            EXPECT_TRUE(got() == u"next");
          }
          ASSERT_TRUE(Method(self, u"readLine"));
          EXPECT_TRUE(results.Get(0)->IsNil());
        }
      }
    }
  }
}

// loadText gives the whole decoded text whatever was read before, for each encoding the reader loads,
// and null for those it only detects.
TEST_F(CoreLibraryTest, TextReaderLoadText) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool loads;
    std::u16string text;
  };
  const Row rows[] = {
      {"UTF-8", {'a', 0xE2, 0x82, 0xAC, '\n', 'b'}, true, u"a\u20AC\nb"},
      {"UTF-8 with its mark", {0xEF, 0xBB, 0xBF, 'h', 'i', '\n'}, true, u"hi\n"},
      {"UTF-16", {0xFF, 0xFE, 'h', 0, 0xAC, 0x20, '\n', 0, 'x', 0}, true, u"h\u20AC\nx"},
      {"UTF-16 with an odd byte", {0xFF, 0xFE, 'o', 0, 'k', 0, 'z'}, true, u"ok"},
      {"FF FE 00 00 read as UTF-16", {0xFF, 0xFE, 0, 0, 'n', 0}, true, std::u16string(u"\0n", 2)},
      {"big-endian UTF-16", {0xFE, 0xFF, 0, 'n', 0, 'o'}, false, u""},
      {"UTF-32", {0, 0, 0xFE, 0xFF, 0, 0, 0, 'n'}, false, u""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::uint8_t> bytes = row.bytes;
    Strong<CBaseObject> source =
        Memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), CMemoryStream::ACCESS_READ);
    Strong<CBaseObject> reader = New(u"TextReader", Args(source.Get()));
    ASSERT_TRUE(reader);
    ASSERT_TRUE(Method(reader, u"readCharacter"));  // a read first: loadText still gives all of it
    ASSERT_TRUE(Method(reader, u"loadText")) << error;
    ASSERT_EQ(results.Get(0)->IsString(), row.loads);
    if (row.loads) {
      std::uint32_t length = 0;
      const char16_t* text = results.Get(0)->ToString(&length);
      EXPECT_TRUE(std::u16string(text, length) == row.text);
    }
    ASSERT_TRUE(Method(reader, u"close"));
    ASSERT_TRUE(Method(source, u"close"));
  }
}

// A script stream that goes without being closed says so in the log; a closed one goes quietly.
TEST_F(CoreLibraryTest, StreamsLeftOpenAreReportedWhenCollected) {
  Context context;
  context.GetLogWriter().SetStream(nullptr);
  context.Initialise();
  for (const bool closed : {false, true}) {
    SCOPED_TRACE(closed ? "closed" : "left open");
    char bytes[4] = {};
    Strong<CBaseObject> stream = Memory(bytes, sizeof bytes, CMemoryStream::ACCESS_READ);
    if (closed) {
      ASSERT_TRUE(Method(stream, u"close"));
    }
    ::testing::internal::CaptureStdout();
    stream = nullptr;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), closed ? "" : "Script stream closed via garbage collection!\n");
  }
}

TEST_F(CoreLibraryTest, MatrixElementsProductsAndInverse) {
  Strong<CBaseObject> m = New(u"Matrix4x4");
  for (int bad : {16, -1})
    EXPECT_EQ((std::tuple{Failure(Method(m, u"getElement", Args(bad))),
                          Failure(Method(m, u"setElement", Args(bad, 1.0)))}),
              (std::tuple{"invalid index", "invalid index"}));
  EXPECT_FALSE(Method(m, u"getVector3", Args(4)));
  ASSERT_TRUE(Method(m, u"setTranslate", Args(CVector3D{5, 6, 7})));
  ASSERT_TRUE(Method(m, u"transformCoordinate", Args(CVector3D{1, 2, 3})));
  EXPECT_EQ(Vector(), (std::vector<float>{6, 8, 10}));
  EXPECT_EQ(Got(Method(m, u"m43")), 7);
  // (scale 2) x (translate 5, 6, 7), then x (scale 2): a point (1, 1, 1) goes to ((2 + 5) x 2, ...).
  Strong<CBaseObject> scale = New(u"Matrix4x4");
  ASSERT_TRUE(Method(scale, u"setScale", Args(CVector3D{2, 2, 2})));
  Strong<CBaseObject> product = New(u"Matrix4x4");
  ASSERT_TRUE(Method(product, u"setMultiply", Args(scale.Get(), m.Get()))) << error;
  ASSERT_TRUE(Method(product, u"multiply", Args(scale.Get())));
  ASSERT_TRUE(Method(product, u"transformCoordinate", Args(CVector3D{1, 1, 1})));
  EXPECT_EQ(Vector(), (std::vector<float>{14, 16, 18}));
  EXPECT_FALSE(Method(product, u"setMultiply", Args(scale.Get())));
  EXPECT_EQ((std::tuple{Got(Method(product, u"setInverse", Args(scale.Get()))),
                        Got(Method(product, u"getElement", Args(0)))}),
            (std::tuple{8.0, 0.5}));
  ASSERT_TRUE(Set(scale, u"m22", 0.0));
  ASSERT_TRUE(Method(product, u"setInverse", Args(scale.Get())));
  EXPECT_TRUE(results.Get(0)->IsNil());
}

TEST_F(CoreLibraryTest, VectorsNeverGiveNaN) {
  Strong<CBaseObject> one = New(u"Vec2", Args(1.0));
  EXPECT_EQ(Got(Method(one, u"y")), 0);
  std::uint32_t length = 0;
  std::unique_ptr<char16_t[]> text(ReflectedClass::ToString(one, &length));
  EXPECT_EQ(Narrow(text.get()), "X: 1.000 Y: 0.000");
  Strong<CBaseObject> huge = New(u"Vec3", Args(-3e38, -3e38, -3e38));
  EXPECT_FALSE(ReflectedClass::ToString(huge, &length));
  EXPECT_EQ(Narrow(GetLastErrorText()), "Unable to generate the string");

  const CVector3D zero{}, x{1, 0, 0}, y{0, 1, 0};
  const struct {
    const char16_t* cls;
    CVector3D self;
    const char16_t* method;
    CVector3D other;
    std::vector<float> expected;
  } cases[] = {
      {u"Vec3", zero, u"normalise", zero, {0, 0, 0}}, {u"Vec3", {0, 3, 4}, u"normalise", zero, {0, 0.6f, 0.8f}},
      {u"Vec3", zero, u"cartesianToSpherical", zero, {0, 0, 0}},
      {u"Vec3", x, u"sphericalInterpolate", {2, 0, 0}, {1.5f, 0, 0}},
      {u"Vec3", x, u"sphericalInterpolate", {-1, 0, 0}, {0, 0, 0}},
      {u"Vec3", zero, u"sphericalExtrapolate", x, {0.5f, 0, 0}},
      {u"Vec3", x, u"sphericalInterpolate", y, {float(M_SQRT1_2), float(M_SQRT1_2), 0}},
      {u"Vec3", x, u"crossProduct", y, {0, 0, 1}}, {u"Vec2", x, u"sphericalInterpolate", {-1, 0, 0}, {0, 0}},
      {u"Vec2", zero, u"cartesianToPolar", zero, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.method));
    Strong<CBaseObject> self = New(c.cls, Args(double(c.self.x), double(c.self.y), double(c.self.z)));
    Args args;
    if (std::u16string(c.cls) == u"Vec3") args.Add(c.other);
    else args.Add(CVector2D{c.other.x, c.other.y});
    args.Add(0.5);
    ASSERT_TRUE(Method(self, c.method, std::move(args))) << error;
    const std::vector<float> got = Vector();
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], c.expected[i], 1e-6) << i;
  }
}

// Every measuring and moving member of the vectors, on hand-worked values: numbers first, then new vectors.
TEST_F(CoreLibraryTest, VectorMembersOnWorkedValues) {
  const double half = M_PI / 2;
  const float atan43 = float(std::atan2(4.0, 3.0));
  struct Row {
    const char16_t* cls;
    CVector3D self;
    const char16_t* member;
    std::vector<double> numbers;  // arguments after the vector (when any)
    bool withVector;              // a vector argument first: other
    CVector3D other;
    std::vector<float> expected;  // a number's one value, or the new vector
  };
  const CVector3D a{1, 2, 2}, b{4, 6, 2};
  const Row rows[] = {
      {u"Vec3", a, u"length", {}, false, {}, {3}},
      {u"Vec3", a, u"squaredLength", {}, false, {}, {9}},
      {u"Vec3", a, u"distance", {}, true, b, {5}},
      {u"Vec3", a, u"squaredDistance", {}, true, b, {25}},
      {u"Vec3", a, u"dotProduct", {}, true, b, {20}},
      {u"Vec3", a, u"dotProduct", {}, true, {-4, -6, -2}, {-20}},
      {u"Vec3", a, u"absDotProduct", {}, true, {-4, -6, -2}, {20}},
      {u"Vec3", a, u"midPoint", {}, true, b, {2.5f, 4, 2}},
      {u"Vec3", a, u"addPolar", {2, half}, false, {}, {1, 4, 2}},
      {u"Vec3", a, u"addPolar", {-1, 0}, false, {}, {0, 2, 2}},
      {u"Vec3", a, u"addSpherical", {2, half, 0}, false, {}, {3, 2, 2}},
      {u"Vec3", a, u"addSpherical", {3, 0, 1}, false, {}, {1, 2, 5}},
      {u"Vec3", a, u"addSpherical", {1, half, half}, false, {}, {1, 3, 2}},
      {u"Vec3", a, u"interpolate", {0.5}, true, b, {2.5f, 4, 2}},
      {u"Vec3", a, u"interpolate", {2}, true, b, {4, 6, 2}},
      {u"Vec3", a, u"interpolate", {-1}, true, b, {1, 2, 2}},
      {u"Vec3", a, u"extrapolate", {2}, true, b, {7, 10, 2}},
      {u"Vec3", a, u"extrapolate", {-1}, true, b, {-2, -2, 2}},
      {u"Vec3", {3, 4, 7}, u"cartesianToPolar", {}, false, {}, {5, atan43, 7}},
      {u"Vec3", {0, -2, 1}, u"cartesianToPolar", {}, false, {}, {2, float(-half), 1}},
      {u"Vec2", {1, 2, 0}, u"addPolar", {2, 0}, false, {}, {3, 2}},
      {u"Vec2", {1, 2, 0}, u"addPolar", {2, half}, false, {}, {1, 4}},
      {u"Vec2", {1, 2, 0}, u"interpolate", {0.25}, true, {5, 6, 0}, {2, 3}},
      {u"Vec2", {1, 2, 0}, u"interpolate", {1.5}, true, {5, 6, 0}, {5, 6}},
      {u"Vec2", {1, 2, 0}, u"extrapolate", {1.5}, true, {5, 6, 0}, {7, 8}},
      {u"Vec2", {3, 4, 0}, u"cartesianToPolar", {}, false, {}, {5, atan43}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Narrow(row.cls) + "." + Narrow(row.member));
    Strong<CBaseObject> self = New(row.cls, Args(double(row.self.x), double(row.self.y), double(row.self.z)));
    Args args;
    if (row.withVector) {
      if (std::u16string(row.cls) == u"Vec3")
        args.Add(row.other);
      else
        args.Add(CVector2D{row.other.x, row.other.y});
    }
    for (double number : row.numbers) args.Add(number);
    ASSERT_TRUE(Method(self, row.member, std::move(args))) << error;
    const bool vector = results.Get(0) && results.Get(0)->IsObject();
    const std::vector<float> got = vector ? Vector() : std::vector<float>{float(Number())};
    ASSERT_EQ(got.size(), row.expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], row.expected[i], 1e-5) << i;
  }
}

// setIdentity clears whatever was set; setRotate by (x, 0, 0), (0, y, 0), (0, 0, z) is the rotation about that
// one axis; each axis rotation keeps its axis and turns the next axis a quarter turn onto the third.
TEST_F(CoreLibraryTest, MatrixRotationsAndIdentity) {
  auto elements = [&](CBaseObject* m) {
    std::vector<double> out;
    for (int i = 0; i < 16; ++i) out.push_back(Got(Method(m, u"getElement", Args(i))));
    return out;
  };
  Strong<CBaseObject> m = New(u"Matrix4x4");
  ASSERT_TRUE(Method(m, u"setTranslate", Args(CVector3D{5, 6, 7})));
  ASSERT_TRUE(Method(m, u"setIdentity"));
  std::vector<double> identity(16, 0.0);
  for (int i = 0; i < 4; ++i) identity[i * 5] = 1;
  EXPECT_EQ(elements(m), identity);

  const double half = M_PI / 2;
  struct Axis {
    const char16_t* method;
    CVector3D angles;
    CVector3D kept;
    CVector3D turned;
    CVector3D onto;
  };
  const Axis axes[] = {
      {u"setRotateX", {float(half), 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {u"setRotateY", {0, float(half), 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
      {u"setRotateZ", {0, 0, float(half)}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
  };
  for (const Axis& axis : axes) {
    SCOPED_TRACE(Narrow(axis.method));
    Strong<CBaseObject> single = New(u"Matrix4x4");
    ASSERT_TRUE(Method(single, axis.method, Args(half)));
    Strong<CBaseObject> combined = New(u"Matrix4x4");
    ASSERT_TRUE(Method(combined, u"setRotate", Args(axis.angles)));
    const std::vector<double> left = elements(single), right = elements(combined);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(left[i], right[i], 1e-6) << i;
    ASSERT_TRUE(Method(single, u"transformCoordinate", Args(axis.kept)));
    const std::vector<float> kept = Vector();
    ASSERT_TRUE(Method(single, u"transformCoordinate", Args(axis.turned)));
    const std::vector<float> turned = Vector();
    ASSERT_EQ((std::tuple{kept.size(), turned.size()}), (std::tuple{3u, 3u}));
    const float keptAxis[] = {axis.kept.x, axis.kept.y, axis.kept.z};
    const float onto[] = {axis.onto.x, axis.onto.y, axis.onto.z};
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(kept[i], keptAxis[i], 1e-6) << i;
      EXPECT_NEAR(std::fabs(turned[i]), onto[i], 1e-6) << i;  // the sign is the convention's
    }
  }
}

TEST_F(CoreLibraryTest, ReflectionUtilities) {
  Strong<CBaseObject> v = New(u"Vec3", Args(1.0, 2.0, 3.0));
  ASSERT_TRUE(Function(u"reflection", u"clone", Args(v.Get())));
  EXPECT_NE(results.Get(0)->ToObject(), v.Get());
  EXPECT_EQ(Vector(), (std::vector<float>{1, 2, 3}));
  for (const char16_t* name : {u"clone", u"tostring", u"move"})
    EXPECT_EQ(Failure(Function(u"reflection", name, Args(1))), "Expected Object for argument 1");
  EXPECT_EQ(Failure(Function(u"reflection", u"move", Args(v.Get(), 1))), "Expected Object for argument 2");
  ASSERT_TRUE(Function(u"reflection", u"tostring", Args(v.Get())));
  EXPECT_TRUE(results.Get(0)->ToString() == std::u16string(u"X: 1.000 Y: 2.000 Z: 3.000"));

  // A function made an object, then called with the remaining arguments.
  Strong<CFunction> twice;
  twice.Attach(new CFunction(
      u"twice",
      [](CNativeState* state, int, void*) {
        int n = 0;
        return state->CheckNumber(0, &n) && state->ReturnInteger(2 * n);
      },
      nullptr, nullptr));
  Args function;
  function.a.Adopt(new CArgumentFunction(twice.Get()));
  ASSERT_TRUE(Function(u"reflection", u"createFunction", std::move(function)));
  Strong<CBaseObject> object(results.Get(0)->ToObject());
  EXPECT_EQ(Got(Function(u"reflection", u"call", Args(object.Get(), 21))), 42) << error;
  EXPECT_FALSE(Function(u"reflection", u"call", Args(v.Get(), 21)));
}

}  // namespace
