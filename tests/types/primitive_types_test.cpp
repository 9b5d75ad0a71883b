// tests/types/primitive_types_test.cpp
#include "types/primitive_types.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "document/lexer.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "types/type_stream.h"

namespace {

constexpr uint32_t kModeNone = 0, kModeInt = 1, kModeFloat = 2, kModeDynValInt = 3, kModePos = 4,
                   kModeScale = 5, kModeScale2 = 6, kModeQuat = 7;

uint32_t Bits(float value) { return std::bit_cast<uint32_t>(value); }
float FromBits(uint32_t bits) { return std::bit_cast<float>(bits); }

// A zeroed value node.
struct Value {
  ValueNode node{};
};

// A value node holding a text, released at the end of the test.
struct StringValue {
  ValueNode node{};
  StringValue() { node.payload.text = HeapText::Empty(); }
  ~StringValue() { node.payload.text.Release(); }
};

// Field with a mode; Int and Float parameters set to the examples used below.
struct Field : FieldInfo {
  explicit Field(uint32_t mode) {
    quantization_mode = mode;
    int_quantization = {0, 10, 2};
    float_quantization = {0.0f, 12.0f, 4.0f, 0};
  }
};

// Writes one value; returns the written bits as a string of '0'/'1', first bit first.
struct Written {
  bool ok;
  uint32_t bit_count;
  std::string bits;
};

Written Write(const CCoreType& type, uint32_t mode, const ValueNode& node) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  Field field(mode);
  Written result{type.WriteValue(writer, field, node), writer.position, ""};
  for (uint32_t i = 0; i < writer.position; ++i) {
    result.bits += ReadBits(buffer.data, i, 1) ? '1' : '0';
  }
  return result;
}

// The LSB-first bit string of an n-bit field.
std::string FieldBits(uint32_t value, uint32_t n) {
  std::string bits;
  for (uint32_t i = 0; i < n; ++i) bits += ((value >> i) & 1u) ? '1' : '0';
  return bits;
}

bool Read(const CCoreType& type, uint32_t mode, const std::vector<uint8_t>& bytes, ValueNode& node,
          uint32_t* position = nullptr) {
  BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
  Field field(mode);
  const bool ok = type.ReadValue(reader, field, node);
  if (position != nullptr) *position = reader.position;
  return ok;
}

bool Parse(const CCoreType& type, const char* text, ValueNode& node) {
  Lexer lexer;
  lexer.source.Assign(text);
  ResetLexer(lexer);
  return type.ParseValue(lexer, node, nullptr);
}

std::string Format(const CCoreType& type, const ValueNode& node, std::string* comment = nullptr) {
  CStringBufferA out("stale");
  CStringBufferA note("kept");
  EXPECT_TRUE(type.FormatValue(out, node, nullptr, note));
  if (comment != nullptr) *comment = note.data;
  return out.data;
}

// ---- identity ---------------------------------------------------------------------------------

const struct {
  const CCoreType* type;
  const char* name;
  uint32_t hash;
} kPrimitives[] = {
    {&CBoolType, "cBool", 0x7A42634D},
    {&CByteType, "cByte", 0x7F33FF8B},
    {&CShortType, "cShort", 0xB6AC0BB9},
    {&CIntType, "cInt", 0x2283412C},
    {&CFloatType, "cFloat", 0xFDB57779},
    {&CAngleType, "cAngle", 0x033FC490},
    {&CVector2Type, "cVector2", 0x5260632C},
    {&CVector3Type, "cVector3", 0x5260632D},
    {&CVector4Type, "cVector4", 0x5260632E},
    {&CColorType, "cColor", 0xBC18A1A0},
    {&CQuatType, "cQuat", 0x370EF81A},
    {&CAxisAlignedBoundingBoxType, "cAxisAlignedBoundingBox", 0x7D978C07},
    {&CHashType, "cHash", 0x8A8A6FB1},
    {&CStringHashType, "cStringHash", 0x6AAD3A82},
    {&CTextIDType, "cTextID", 0xEE05922B},
    {&CPointerType, "cPointer", 0xADE538BA},
    {&CStringType, "cString", 0xB6443C34},
};

TEST(CoreTypeTableTest, HoldsTheSeventeenPrimitivesByNameHash) {
  static_assert(std::size(kPrimitives) == kPrimitiveTypeCount);
  CoreTypeTable table;
  ASSERT_TRUE(BuildCoreTypeTable(table));
  for (const auto& p : kPrimitives) {
    SCOPED_TRACE(p.name);
    EXPECT_STREQ(p.type->name.data, p.name);
    EXPECT_EQ(p.type->name_hash, p.hash);
    EXPECT_EQ(NameHash(p.name), p.hash);
    EXPECT_EQ(FindCoreType(table, p.hash), p.type);
    EXPECT_EQ(p.type->StorageTypeHash(), 0u);
  }
  EXPECT_EQ(FindCoreType(table, kUnnamedStringHashA), nullptr);
  EXPECT_EQ(FindCoreType(table, NameHash("cGameObjectState")), nullptr);
}

TEST(CoreTypeTableTest, EveryListedTypeHasADistinctHashAndAnEntry) {
  CoreTypeTable table;
  ASSERT_TRUE(BuildCoreTypeTable(table));
  ASSERT_TRUE(BuildCoreTypeTable(table));  // rebuilding starts from an empty table
  std::set<uint32_t> hashes;
  std::set<std::string> names;
  uint32_t listed = 0;
  for (CCoreType* type = CoreTypeList; type != nullptr; type = type->next, ++listed) {
    hashes.insert(type->name_hash);
    names.insert(type->name.data);
    EXPECT_EQ(type->name_hash, NameHash(type->name.data));
    EXPECT_EQ(FindCoreType(table, type->name_hash), type);
  }
  EXPECT_GE(listed, kPrimitiveTypeCount);
  EXPECT_EQ(hashes.size(), listed);
  EXPECT_EQ(names.size(), listed);
  EXPECT_EQ(table.count(), listed);
}

TEST(CoreTypeTest, BaseSlotsFailAndATypeLeavesTheListWhenDestroyed) {
  CCoreType* const head = CoreTypeList;
  {
    CCoreType local("cLocalTestType");
    EXPECT_EQ(CoreTypeList, &local);
    EXPECT_EQ(local.next, head);
    ByteBuffer buffer;
    BitWriter writer(buffer);
    Field field(kModeNone);
    Value value;
    EXPECT_FALSE(local.WriteValue(writer, field, value.node));
    EXPECT_EQ(writer.position, 0u);
    CStringBufferA out, comment;
    EXPECT_FALSE(local.FormatValue(out, value.node, nullptr, comment));
    EXPECT_FALSE(Parse(local, "1", value.node));
    EXPECT_EQ(local.StorageTypeHash(), 0u);
  }
  EXPECT_EQ(CoreTypeList, head);
}

TEST(NameResolverScopeTest, InstallsAndRestoresThePreviousResolver) {
  auto first = [](uint32_t, uint32_t, void*) -> const char* { return "a"; };
  auto second = [](uint32_t, uint32_t, void*) -> const char* { return "b"; };
  int context = 0;
  {
    NameResolverScope outer(first, &context);
    {
      NameResolverScope inner(second, nullptr);
      EXPECT_EQ(CurrentNameResolver.function, +second);
    }
    EXPECT_EQ(CurrentNameResolver.function, +first);
    EXPECT_EQ(CurrentNameResolver.context, &context);
  }
  EXPECT_EQ(CurrentNameResolver.function, nullptr);
}

// ---- bit forms --------------------------------------------------------------------------------

TEST(PrimitiveBitFormTest, ClassesAcceptOnlyTheirModes) {
  // Accepted modes per class as a bit set over the codes 0..7; every other code is refused
  // by the classes that check the mode.
  const struct {
    const CCoreType* type;
    uint32_t accepted;
  } cases[] = {
      {&CBoolType, 0xFF},
      {&CByteType, 1u << kModeNone | 1u << kModeInt | 1u << kModeDynValInt},
      {&CShortType, 1u << kModeNone | 1u << kModeInt | 1u << kModeDynValInt},
      {&CIntType, 1u << kModeNone | 1u << kModeInt | 1u << kModeDynValInt},
      {&CFloatType, 1u << kModeNone | 1u << kModeFloat},
      {&CAngleType, 1u << kModeNone | 1u << kModeFloat},
      {&CVector2Type, 0xFF},
      {&CVector3Type, 1u << kModeNone | 1u << kModePos | 1u << kModeScale | 1u << kModeScale2},
      {&CVector4Type, 0xFF},
      {&CColorType, 0xFF},
      {&CQuatType, 1u << kModeNone | 1u << kModeQuat},
      {&CAxisAlignedBoundingBoxType, 0xFF},
      {&CHashType, 0xFF},
      {&CStringHashType, 0xFF},
      {&CTextIDType, 0xFF},
      {&CPointerType, 0xFF},
      {&CStringType, 0xFF},
  };
  const std::vector<uint8_t> zeros(64, 0);
  for (const auto& c : cases) {
    const bool checks_mode = c.accepted != 0xFF;
    for (const uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(std::string(c.type->name.data) + " mode " + std::to_string(mode));
      const bool accepted = mode < 8 ? ((c.accepted >> mode) & 1u) != 0 : !checks_mode;
      if (c.type == &CStringType) {
        StringValue text;
        EXPECT_TRUE(Write(*c.type, mode, text.node).ok);
        EXPECT_TRUE(Read(*c.type, mode, zeros, text.node));
        continue;
      }
      Value value;
      value.node.payload.floats[0] = 1.0f;
      const Written written = Write(*c.type, mode, value.node);
      EXPECT_EQ(written.ok, accepted);
      if (!accepted) {
        EXPECT_EQ(written.bit_count, 0u);
      }
      Value read;
      std::memset(&read.node.payload, 0x33, sizeof(ValuePayload));
      const ValuePayload before = read.node.payload;
      uint32_t position = 0;
      EXPECT_EQ(Read(*c.type, mode, zeros, read.node, &position), accepted);
      if (!accepted) {
        EXPECT_EQ(position, 0u);
        EXPECT_EQ(std::memcmp(&before, &read.node.payload, sizeof(before)), 0);
      }
    }
  }
}

TEST(PrimitiveBitFormTest, WritesEachClassInItsExactBits) {
  Value v;
  v.node.payload.boolean = 5;
  EXPECT_EQ(Write(CBoolType, kModeQuat, v.node).bits, "1");
  v.node.payload.byte = -2;
  EXPECT_EQ(Write(CByteType, kModeNone, v.node).bits, FieldBits(0xFE, 8));
  v.node.payload.byte = 7;  // Int 0..10 step 2: 3 bits, 7 goes down to step 3
  EXPECT_EQ(Write(CByteType, kModeInt, v.node).bits, FieldBits(3, 3));
  v.node.payload.int16 = -2;
  EXPECT_EQ(Write(CShortType, kModeNone, v.node).bits, FieldBits(0xFFFE, 16));
  v.node.payload.int16 = 5;
  EXPECT_EQ(Write(CShortType, kModeDynValInt, v.node).bits, FieldBits(3, 5) + FieldBits(5, 3));
  v.node.payload.int32 = -2;
  EXPECT_EQ(Write(CIntType, kModeNone, v.node).bits, FieldBits(0xFFFFFFFE, 32));
  EXPECT_FALSE(Write(CIntType, kModeDynValInt, v.node).ok);  // outside 0 .. 2^31 - 1
  v.node.payload.int32 = INT32_MAX;
  EXPECT_EQ(Write(CIntType, kModeDynValInt, v.node).bits,
            FieldBits(31, 5) + FieldBits(INT32_MAX, 31));
  v.node.payload.word = 0x89ABCDEF;
  EXPECT_EQ(Write(CHashType, kModeFloat, v.node).bits, FieldBits(0x89ABCDEF, 32));
  EXPECT_EQ(Write(CPointerType, kModePos, v.node).bits, FieldBits(0x89ABCDEF, 32));
  v.node.payload.floats[0] = 5.0f;  // Float 0..12 step 4: 3 bits, 5 rounds to step 1
  EXPECT_EQ(Write(CFloatType, kModeFloat, v.node).bits, FieldBits(1, 3));
  EXPECT_EQ(Write(CAngleType, kModeNone, v.node).bits, FieldBits(Bits(5.0f), 32));

  const float components[6] = {1.0f, -2.5f, 0.1f, -0.0f, 1e-45f, 3e38f};
  std::memcpy(v.node.payload.floats, components, sizeof(components));
  std::string raw;
  for (const float c : components) raw += FieldBits(Bits(c), 32);
  EXPECT_EQ(Write(CVector2Type, kModeScale, v.node).bits, raw.substr(0, 64));
  EXPECT_EQ(Write(CVector3Type, kModeNone, v.node).bits, raw.substr(0, 96));
  EXPECT_EQ(Write(CVector4Type, kModeInt, v.node).bits, raw.substr(0, 128));
  EXPECT_EQ(Write(CColorType, kModeNone, v.node).bits, raw.substr(0, 128));
  EXPECT_EQ(Write(CQuatType, kModeNone, v.node).bits, raw.substr(0, 128));
  EXPECT_EQ(Write(CAxisAlignedBoundingBoxType, kModeQuat, v.node).bits, raw);

  const float position[3] = {-1300.0f, 300.0f, 1100.0f};
  std::memcpy(v.node.payload.floats, position, sizeof(position));
  EXPECT_EQ(Write(CVector3Type, kModePos, v.node).bits,
            FieldBits(0, 18) + FieldBits(65535, 16) + FieldBits(262143, 18));
  const float scale[3] = {0.1f, 10.0f, 0.05f};
  std::memcpy(v.node.payload.floats, scale, sizeof(scale));
  EXPECT_EQ(Write(CVector3Type, kModeScale2, v.node).bits,
            FieldBits(0, 7) + FieldBits(99, 7) + FieldBits(0, 7));
  const float quat[4] = {1.0f, -1.0f, 0.0f, 1.0f};
  std::memcpy(v.node.payload.floats, quat, sizeof(quat));
  EXPECT_EQ(Write(CQuatType, kModeQuat, v.node).bits,
            FieldBits(511, 9) + FieldBits(0, 9) + FieldBits(256, 9) + FieldBits(511, 9));
}

TEST(PrimitiveBitFormTest, WritesStringsAsLengthWordAndBitString) {
  StringValue empty;
  EXPECT_EQ(Write(CStringType, kModeNone, empty.node).bits, FieldBits(0, 32));
  StringValue ab;
  ab.node.payload.text.AssignText("ab");
  const Written written = Write(CStringType, kModeScale, ab.node);
  EXPECT_EQ(written.bit_count, 55u);
  EXPECT_EQ(written.bits, FieldBits(2, 32) + FieldBits(2, 5) + FieldBits(2, 2) + FieldBits('a', 8) +
                              FieldBits('b', 8));
}

TEST(PrimitiveBitFormTest, ReadsQuantizedFormsAndNormalisesQuaternions) {
  Value v;
  ASSERT_TRUE(Read(CByteType, kModeInt, {0x03}, v.node));
  EXPECT_EQ(v.node.payload.byte, 6);
  ASSERT_TRUE(Read(CShortType, kModeNone, {0x00, 0x80}, v.node));
  EXPECT_EQ(v.node.payload.int16, -32768);
  ASSERT_TRUE(Read(CFloatType, kModeFloat, {0x01}, v.node));
  EXPECT_EQ(v.node.payload.floats[0], 4.0f);
  ASSERT_TRUE(Read(CQuatType, kModeQuat, {0, 0, 0, 0, 0}, v.node));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v.node.payload.floats[i], -0.5f);
  ASSERT_TRUE(Read(CVector3Type, kModeScale, {0x63, 0x00, 0x00}, v.node));
  EXPECT_EQ(Bits(v.node.payload.floats[0]), 0x41200001u);
  EXPECT_EQ(Bits(v.node.payload.floats[1]), Bits(0.1f));
}

TEST(PrimitiveBitFormTest, ReadingPastTheEndFailsWithZeroComponents) {
  Value v;
  v.node.payload.floats[2] = 9.0f;
  EXPECT_FALSE(Read(CVector3Type, kModeNone, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}, v.node));
  EXPECT_EQ(v.node.payload.floats[0], 1.0f);
  EXPECT_EQ(v.node.payload.floats[1], 2.0f);
  EXPECT_EQ(v.node.payload.floats[2], 0.0f);
  v.node.payload.int32 = 7;
  EXPECT_FALSE(Read(CIntType, kModeNone, {1, 2, 3}, v.node));
  EXPECT_EQ(v.node.payload.int32, 0);
  StringValue s;
  EXPECT_FALSE(Read(CStringType, kModeNone, {5, 0, 0}, s.node));
  EXPECT_TRUE(s.node.payload.text.IsEmptyHandle());
}

TEST(PrimitiveBitFormTest, RawFormsRoundTripEveryBit) {
  std::mt19937 rng(99);
  const struct {
    const CCoreType* type;
    uint32_t payload_bytes;
  } cases[] = {
      {&CBoolType, 1},  {&CByteType, 1},    {&CShortType, 2},    {&CIntType, 4},
      {&CFloatType, 4}, {&CVector2Type, 8}, {&CVector3Type, 12}, {&CVector4Type, 16},
      {&CQuatType, 16}, {&CHashType, 4},    {&CPointerType, 4},  {&CAxisAlignedBoundingBoxType, 24},
  };
  for (int round = 0; round < 1000; ++round) {
    for (const auto& c : cases) {
      Value in;
      for (float& f : in.node.payload.floats) f = FromBits(rng());
      if (c.type == &CBoolType) in.node.payload.boolean &= 1;
      ByteBuffer buffer;
      const uint32_t start = rng() % 8;
      BitWriter writer(buffer, start);
      Field field(kModeNone);
      ASSERT_TRUE(c.type->WriteValue(writer, field, in.node));
      BitReader reader(buffer.data, buffer.size);
      reader.position = start;
      Value out;
      for (uint32_t i = 0; i < 6; ++i) {
        out.node.payload.floats[i] = FromBits(~Bits(in.node.payload.floats[i]));
      }
      ASSERT_TRUE(c.type->ReadValue(reader, field, out.node));
      EXPECT_EQ(reader.position, writer.position);
      ASSERT_EQ(std::memcmp(&in.node.payload, &out.node.payload, c.payload_bytes), 0)
          << c.type->name.data;
    }
  }
}

// ---- text forms -------------------------------------------------------------------------------

TEST(PrimitiveTextTest, ParsesAndPrintsTheTextForms) {
  const struct {
    const CCoreType* type;
    const char* text;
    const char* printed;  // null: the parse fails
  } cases[] = {
      {&CBoolType, "true", "true"},
      {&CBoolType, " false ", "false"},
      {&CBoolType, "True", nullptr},
      {&CBoolType, "1", nullptr},
      {&CByteType, "300", "127"},
      {&CByteType, "-300", "-128"},
      {&CByteType, "127", "127"},
      {&CByteType, "-128", "-128"},
      {&CByteType, "4294967296", "127"},
      {&CByteType, "-4294967295", "-128"},
      {&CShortType, "40000", "32767"},
      {&CShortType, "-32769", "-32768"},
      {&CIntType, "1.5", "1"},
      {&CIntType, "-2147483648", "-2147483648"},
      {&CIntType, "4294967295", "-1"},
      {&CIntType, "1 2", nullptr},
      {&CIntType, "", nullptr},
      {&CIntType, "x", nullptr},
      {&CFloatType, "12", "12"},
      {&CFloatType, "1,2", nullptr},
      {&CAngleType, "-2.5e3", "-2500"},
      {&CFloatType, "INF", "INF"},
      {&CFloatType, " -INF", "-INF"},
      {&CFloatType, "NAN", "NAN"},
      {&CFloatType, "-NAN", "-NAN"},
      {&CFloatType, "+INF", "INF"},
      {&CFloatType, "INFX", nullptr},
      {&CFloatType, "1e39", "INF"},
      {&CVector2Type, "1, 2", "1,2"},
      {&CVector2Type, "1", nullptr},
      {&CVector3Type, "1.5,2,0.0001", "1.5,2,0.0001"},
      {&CVector3Type, "1,-INF,NAN", "1,-INF,NAN"},
      {&CVector3Type, "1,2,3,", nullptr},
      {&CVector3Type, "1,,2", nullptr},
      {&CVector4Type, "1,2,3,4", "1,2,3,4"},
      {&CColorType, "0.5,0.25,0,1", "0.5,0.25,0,1"},
      {&CQuatType, "0,0,0,0", "0,0,0,0"},
      {&CQuatType, "0,0,0,2", "0,0,0,1"},
      {&CQuatType, "0,0,3,4", "0,0,0.6,0.8"},
      {&CAxisAlignedBoundingBoxType, "1,2,3,4,5,6", "1,2,3,4,5,6"},
      {&CAxisAlignedBoundingBoxType, "1,2,3,4,5", nullptr},
      {&CHashType, "-5", "5"},
      {&CHashType, "4294967301", "5"},
      {&CTextIDType, "7.9", "7"},
      {&CHashType, "@5", nullptr},
      {&CPointerType, "@12", "@12"},
      {&CPointerType, "@ -12", "@12"},
      {&CPointerType, "12", nullptr},
      {&CPointerType, "@", nullptr},
      {&CPointerType, "@1 @2", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type->name.data) + " <" + c.text + ">");
    Value v;
    const bool ok = Parse(*c.type, c.text, v.node);
    EXPECT_EQ(ok, c.printed != nullptr);
    if (ok && c.printed != nullptr) {
      EXPECT_EQ(Format(*c.type, v.node), c.printed);
    }
  }
}

TEST(PrimitiveTextTest, HashesNamesAndQuotedNames) {
  Value v;
  ASSERT_TRUE(Parse(CHashType, "Foo", v.node));
  EXPECT_EQ(v.node.payload.word, NameHash("Foo"));
  ASSERT_TRUE(Parse(CStringHashType, "'Foo'", v.node));
  EXPECT_EQ(v.node.payload.word, NameHash("Foo"));
  ASSERT_TRUE(Parse(CPointerType, "@Type@NAME_2", v.node));
  EXPECT_EQ(v.node.payload.word, NameHash("Type@NAME_2"));
  ASSERT_TRUE(Parse(CPointerType, "@'a b'", v.node));
  EXPECT_EQ(v.node.payload.word, NameHash("a b"));
  EXPECT_FALSE(Parse(CHashType, "Foo Bar", v.node));
}

TEST(PrimitiveTextTest, PrintsNumbersAndExternalObjectWithoutResolver) {
  Value v;
  v.node.payload.word = 12;
  std::string comment;
  EXPECT_EQ(Format(CPointerType, v.node, &comment), "@12");
  EXPECT_EQ(comment, "External object");
  v.node.payload.word = 4294967295u;
  EXPECT_EQ(Format(CHashType, v.node, &comment), "4294967295");
  EXPECT_EQ(comment, "kept");
}

struct ResolverCall {
  uint32_t value;
  uint32_t kind;
};

struct FakeDictionary {
  std::vector<ResolverCall> calls;
  const char* name = nullptr;             // for the value's own text
  const char* hash_comment = nullptr;     // kind 3
  const char* pointer_comment = nullptr;  // kind 4
};

const char* FakeResolve(uint32_t value, uint32_t kind, void* context) {
  auto& dictionary = *static_cast<FakeDictionary*>(context);
  dictionary.calls.push_back({value, kind});
  if (kind == kResolveHashComment) return dictionary.hash_comment;
  if (kind == kResolvePointerComment) return dictionary.pointer_comment;
  return dictionary.name;
}

TEST(PrimitiveTextTest, AsksTheResolverWithTheTypesOwnHashAndCommentKinds) {
  FakeDictionary dictionary;
  dictionary.name = "Foo";
  dictionary.hash_comment = "English text";
  NameResolverScope scope(FakeResolve, &dictionary);
  Value v;
  v.node.payload.word = NameHash("Foo");
  std::string comment;
  EXPECT_EQ(Format(CTextIDType, v.node, &comment), "'Foo'");
  EXPECT_EQ(comment, "English text");
  ASSERT_EQ(dictionary.calls.size(), 2u);
  EXPECT_EQ(dictionary.calls[0].kind, kCTextIDHash);
  EXPECT_EQ(dictionary.calls[0].value, NameHash("Foo"));
  EXPECT_EQ(dictionary.calls[1].kind, kResolveHashComment);

  dictionary.calls.clear();
  dictionary.hash_comment = nullptr;
  EXPECT_EQ(Format(CStringHashType, v.node, &comment), "'Foo'");
  EXPECT_EQ(comment, "kept");
  EXPECT_EQ(dictionary.calls[0].kind, kCStringHashHash);

  dictionary.calls.clear();
  EXPECT_EQ(Format(CPointerType, v.node, &comment), "@'Foo'");
  EXPECT_EQ(comment, "External object");
  ASSERT_EQ(dictionary.calls.size(), 2u);
  EXPECT_EQ(dictionary.calls[0].kind, kCPointerHash);
  EXPECT_EQ(dictionary.calls[1].kind, kResolvePointerComment);
  dictionary.pointer_comment = "cGameObjectState";
  Format(CPointerType, v.node, &comment);
  EXPECT_EQ(comment, "cGameObjectState");
}

TEST(PrimitiveTextTest, RefusesANameThatDoesNotHashBackToTheValue) {
  FakeDictionary dictionary;
  dictionary.name = "Foo";
  NameResolverScope scope(FakeResolve, &dictionary);
  Value v;
  v.node.payload.word = NameHash("Foo") + 1;
  EXPECT_EQ(Format(CHashType, v.node), std::to_string(NameHash("Foo") + 1));
  EXPECT_EQ(Format(CPointerType, v.node), "@" + std::to_string(NameHash("Foo") + 1));
}

TEST(PrimitiveTextTest, ResolvedNamesReadBackToTheirHashes) {
  const char* names[] = {
      "plain_Name@1", "with space", "quote'single", "quote\"double",   "back\\slash",
      "tab\there",    "line\nfeed", "caf\xC3\xA9",  "bad\xC0\x80utf8", ""};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    FakeDictionary dictionary;
    dictionary.name = name;
    NameResolverScope scope(FakeResolve, &dictionary);
    for (const CCoreType* type : {static_cast<const CCoreType*>(&CHashType),
                                  static_cast<const CCoreType*>(&CPointerType)}) {
      Value v;
      v.node.payload.word = NameHash(name);
      const std::string text = Format(*type, v.node);
      Value back;
      ASSERT_TRUE(Parse(*type, text.c_str(), back.node)) << text;
      EXPECT_EQ(back.node.payload.word, NameHash(name)) << text;
    }
  }
}

TEST(PrimitiveTextTest, StringsTakeTheWholeTextAndPrintEscaped) {
  StringValue v;
  ASSERT_TRUE(Parse(CStringType, " a, \"b\" 'c' // not a comment", v.node));
  EXPECT_STREQ(v.node.payload.text.text, " a, \"b\" 'c' // not a comment");
  EXPECT_EQ(Format(CStringType, v.node), " a, \\\"b\\\" 'c' // not a comment");
  ASSERT_TRUE(Parse(CStringType, "", v.node));
  EXPECT_TRUE(v.node.payload.text.IsEmptyHandle());
  EXPECT_EQ(Format(CStringType, v.node), "");
}

// The document reader takes a string token's content as the value text; this is the same path.
bool ParseFromQuotedText(const CCoreType& type, const std::string& printed, ValueNode& node) {
  Lexer document;
  document.source.Assign(("\"" + printed + "\"").c_str());
  ResetLexer(document);
  if (NextToken(document) != TokenKind::kString) return false;
  Lexer value;
  value.source.Append(document.string_value.data, document.string_value.length);
  ResetLexer(value);
  return type.ParseValue(value, node, nullptr);
}

TEST(PrimitiveTextTest, StringsRoundTripThroughTheEscapedForm) {
  const char* texts[] = {"plain",
                         "q\"uote's",
                         "back\\slash\\",
                         "\t\r\n\b\f\x01\x1F",
                         "caf\xC3\xA9 \xF0\x9F\x98\x80",
                         "bad \xC0\x80 \xFF end",
                         " "};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    StringValue v;
    v.node.payload.text.AssignText(text);
    const std::string printed = Format(CStringType, v.node);
    StringValue back;
    ASSERT_TRUE(ParseFromQuotedText(CStringType, printed, back.node)) << printed;
    EXPECT_STREQ(back.node.payload.text.text, text) << printed;
  }
}

TEST(PrimitiveTextTest, EveryValueRoundTripsThroughItsText) {
  std::mt19937 rng(1234);
  const struct {
    const CCoreType* type;
    uint32_t payload_bytes;
  } cases[] = {
      {&CByteType, 1},
      {&CShortType, 2},
      {&CIntType, 4},
      {&CHashType, 4},
      {&CPointerType, 4},
      {&CFloatType, 4},
      {&CVector2Type, 8},
      {&CVector3Type, 12},
      {&CVector4Type, 16},
      {&CColorType, 16},
      {&CAxisAlignedBoundingBoxType, 24},
  };
  for (int round = 0; round < 3000; ++round) {
    for (const auto& c : cases) {
      Value in;
      for (float& f : in.node.payload.floats) {
        uint32_t bits = rng();
        if (round % 5 == 0) bits &= 0x807FFFFFu;  // subnormals and zeros
        if (std::isnan(FromBits(bits))) bits = (bits & 0x80000000u) | 0x7FC00000u;
        f = FromBits(bits);
      }
      const std::string text = Format(*c.type, in.node);
      Value out;
      ASSERT_TRUE(ParseFromQuotedText(*c.type, text, out.node)) << text;
      ASSERT_EQ(std::memcmp(&in.node.payload, &out.node.payload, c.payload_bytes), 0)
          << c.type->name.data << " " << text;
    }
  }
}

TEST(PrimitiveTextTest, NaNsReadBackAsTheQuietNaNOfTheirSign) {
  Value in, out;
  in.node.payload.floats[0] = FromBits(0x7F800123u);
  in.node.payload.floats[1] = FromBits(0xFFBFFFFFu);
  ASSERT_TRUE(Parse(CVector2Type, Format(CVector2Type, in.node).c_str(), out.node));
  EXPECT_EQ(Bits(out.node.payload.floats[0]), 0x7FC00000u);
  EXPECT_EQ(Bits(out.node.payload.floats[1]), 0xFFC00000u);
}

TEST(PrimitiveTextTest, UnitQuaternionsReadBackBitForBit) {
  std::mt19937 rng(5);
  std::normal_distribution<float> normal;
  for (int i = 0; i < 20000; ++i) {
    Value in;
    float* q = in.node.payload.floats;
    for (int k = 0; k < 4; ++k) q[k] = normal(rng);
    NormaliseQuaternion(q);
    const std::string text = Format(CQuatType, in.node);
    Value out;
    ASSERT_TRUE(Parse(CQuatType, text.c_str(), out.node));
    ASSERT_EQ(std::memcmp(q, out.node.payload.floats, 16), 0) << text;
  }
}

}  // namespace
