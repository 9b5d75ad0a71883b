// tests/types/primitive_types_test.cpp
#include "types/primitive_types.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <utility>
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

struct StringValue {
  ValueNode node{};
  StringValue() { node.payload.text = HeapText::Empty(); }
  ~StringValue() { node.payload.text.Release(); }
};

struct Field : FieldInfo {
  explicit Field(uint32_t mode) {
    quantization_mode = mode;
    int_quantization = {0, 10, 2};
    float_quantization = {0.0f, 12.0f, 4.0f, 0};
  }
};

// The written bits, first bit first, after "refused:" when the write fails.
std::string Write(const CCoreType& type, uint32_t mode, const ValueNode& node) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  std::string bits = type.WriteValue(writer, Field(mode), node) ? "" : "refused:";
  for (uint32_t i = 0; i < writer.position; ++i) bits += ReadBits(buffer.data, i, 1) ? '1' : '0';
  return bits;
}

std::string FieldBits(uint32_t value, uint32_t n) {
  std::string bits;
  for (uint32_t i = 0; i < n; ++i) bits += ((value >> i) & 1u) ? '1' : '0';
  return bits;
}

bool Read(const CCoreType& type, uint32_t mode, const std::vector<uint8_t>& bytes, ValueNode& node,
          uint32_t* position = nullptr) {
  BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const bool ok = type.ReadValue(reader, Field(mode), node);
  if (position != nullptr) *position = reader.position;
  return ok;
}

bool Parse(const CCoreType& type, const char* text, ValueNode& node) {
  Lexer lexer;
  lexer.source.Assign(text);
  ResetLexer(lexer);
  return type.ParseValue(lexer, node, nullptr);
}

// As the document reader does: the content of a quoted string token is the value text.
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

std::string Format(const CCoreType& type, const ValueNode& node, std::string* comment = nullptr) {
  CStringBufferA out("stale");
  CStringBufferA note("kept");
  EXPECT_TRUE(type.FormatValue(out, node, nullptr, note));
  if (comment != nullptr) *comment = note.data;
  return out.data;
}

TEST(CoreTypeTableTest, HoldsTheSeventeenPrimitivesByNameHash) {
  std::istringstream names(
      "cBool cByte cShort cInt cFloat cAngle cVector2 cVector3 cVector4 cColor cQuat cHash "
      "cStringHash cTextID cPointer cString cAxisAlignedBoundingBox");
  const uint32_t hashes[] = {0x7A42634D, 0x7F33FF8B, 0xB6AC0BB9, 0x2283412C, 0xFDB57779, 0x033FC490,
                             0x5260632C, 0x5260632D, 0x5260632E, 0xBC18A1A0, 0x370EF81A, 0x8A8A6FB1,
                             0x6AAD3A82, 0xEE05922B, 0xADE538BA, 0xB6443C34, 0x7D978C07};
  static_assert(std::size(hashes) == kPrimitiveTypeCount);
  CoreTypeTable table;
  ASSERT_TRUE(BuildCoreTypeTable(table));
  ASSERT_TRUE(BuildCoreTypeTable(table));  // rebuilding starts from an empty table
  for (const uint32_t hash : hashes) {
    std::string name;
    names >> name;
    EXPECT_EQ(NameHash(name.c_str()), hash) << name;
    const CCoreType* type = FindCoreType(table, hash);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_EQ(type->name.data, name);
    EXPECT_EQ(type->StorageTypeHash(), 0u) << name;
  }
  EXPECT_EQ(FindCoreType(table, kUnnamedStringHashA), nullptr);
  EXPECT_EQ(FindCoreType(table, NameHash("cGameObjectState")), nullptr);
}

TEST(PrimitiveBitFormTest, ClassesAcceptOnlyTheirModes) {
  constexpr uint32_t kAll = 0xFF, kInts = 0b1011, kFloats = 0b101, kVec3 = 0b1110001,
                     kQuat = 0b10000001;  // bit sets over the mode codes 0..7
  const std::pair<const CCoreType*, uint32_t> cases[] = {
      {&CBoolType, kAll},       {&CByteType, kInts},
      {&CShortType, kInts},     {&CIntType, kInts},
      {&CFloatType, kFloats},   {&CAngleType, kFloats},
      {&CVector2Type, kAll},    {&CVector3Type, kVec3},
      {&CVector4Type, kAll},    {&CColorType, kAll},
      {&CQuatType, kQuat},      {&CHashType, kAll},
      {&CStringHashType, kAll}, {&CTextIDType, kAll},
      {&CPointerType, kAll},    {&CAxisAlignedBoundingBoxType, kAll}};
  const std::vector<uint8_t> zeros(64, 0);
  for (const uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 0xFFFFFFFFu}) {
    StringValue text;
    EXPECT_EQ(Write(CStringType, mode, text.node), FieldBits(0, 32));
    EXPECT_TRUE(Read(CStringType, mode, zeros, text.node));
    for (const auto& [type, accepted_modes] : cases) {
      SCOPED_TRACE(std::string(type->name.data) + " mode " + std::to_string(mode));
      const bool accepted =
          mode < 8 ? ((accepted_modes >> mode) & 1u) != 0 : accepted_modes == kAll;
      ValueNode value{};
      value.payload.floats[0] = 1.0f;
      const std::string written = Write(*type, mode, value);
      EXPECT_TRUE(accepted ? !written.empty() && written[0] != 'r' : written == "refused:");
      ValueNode read{};
      std::memset(&read.payload, 0x33, sizeof(ValuePayload));
      const ValuePayload before = read.payload;
      uint32_t position = 0;
      EXPECT_EQ(Read(*type, mode, zeros, read, &position), accepted);
      if (!accepted) {
        EXPECT_EQ(position, 0u);
        EXPECT_EQ(std::memcmp(&before, &read.payload, sizeof(before)), 0);
      }
    }
  }
}

TEST(PrimitiveBitFormTest, WritesEachClassInItsExactBits) {
  const float floats[6] = {1.0f, -2.5f, 0.1f, -0.0f, 1e-45f, 3e38f};
  std::vector<uint32_t> raw_words;
  std::string raw;
  for (const float f : floats) raw_words.push_back(Bits(f)), raw += FieldBits(Bits(f), 32);
  const struct {
    const CCoreType* type;
    uint32_t mode;
    std::vector<uint32_t> payload;
    std::string bits;
  } cases[] = {
      {&CBoolType, kModeQuat, {5}, "1"},
      {&CByteType, kModeNone, {0xFE}, FieldBits(0xFE, 8)},
      {&CByteType, kModeInt, {7}, FieldBits(3, 3)},  // Int 0..10 step 2: 7 goes down to step 3
      {&CShortType, kModeNone, {0xFFFE}, FieldBits(0xFFFE, 16)},
      {&CShortType, kModeDynValInt, {5}, FieldBits(3, 5) + FieldBits(5, 3)},
      {&CIntType, kModeNone, {0xFFFFFFFE}, FieldBits(0xFFFFFFFE, 32)},
      {&CIntType, kModeDynValInt, {0xFFFFFFFE}, "refused:"},  // outside 0 .. 2^31 - 1
      {&CIntType, kModeDynValInt, {INT32_MAX}, FieldBits(31, 5) + FieldBits(INT32_MAX, 31)},
      {&CHashType, kModeFloat, {0x89ABCDEF}, FieldBits(0x89ABCDEF, 32)},
      {&CPointerType, kModePos, {0x89ABCDEF}, FieldBits(0x89ABCDEF, 32)},
      {&CFloatType, kModeFloat, {Bits(5.0f)}, FieldBits(1, 3)},  // 0..12 step 4: 5 goes to step 1
      {&CAngleType, kModeNone, {Bits(5.0f)}, FieldBits(Bits(5.0f), 32)},
      {&CVector2Type, kModeScale, raw_words, raw.substr(0, 64)},
      {&CVector3Type, kModeNone, raw_words, raw.substr(0, 96)},
      {&CVector4Type, kModeInt, raw_words, raw.substr(0, 128)},
      {&CQuatType, kModeNone, raw_words, raw.substr(0, 128)},
      {&CAxisAlignedBoundingBoxType, kModeQuat, raw_words, raw},
      {&CVector3Type,
       kModePos,
       {Bits(-1300.0f), Bits(300.0f), Bits(1100.0f)},
       FieldBits(0, 18) + FieldBits(65535, 16) + FieldBits(262143, 18)},
      {&CVector3Type,
       kModeScale2,
       {Bits(0.1f), Bits(10.0f), Bits(0.05f)},
       FieldBits(0, 7) + FieldBits(99, 7) + FieldBits(0, 7)},
      {&CQuatType,
       kModeQuat,
       {Bits(1.0f), Bits(-1.0f), 0, Bits(1.0f)},
       FieldBits(511, 9) + FieldBits(0, 9) + FieldBits(256, 9) + FieldBits(511, 9)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type->name.data) + " mode " + std::to_string(c.mode));
    ValueNode v{};
    std::memcpy(&v.payload, c.payload.data(), c.payload.size() * 4);
    EXPECT_EQ(Write(*c.type, c.mode, v), c.bits);
  }
  StringValue empty, ab;
  EXPECT_EQ(Write(CStringType, kModeNone, empty.node), FieldBits(0, 32));
  ab.node.payload.text.AssignText("ab");
  EXPECT_EQ(
      Write(CStringType, kModeScale, ab.node),
      FieldBits(2, 32) + FieldBits(2, 5) + FieldBits(2, 2) + FieldBits('a', 8) + FieldBits('b', 8));
}

TEST(PrimitiveBitFormTest, ReadsQuantizedFormsAndFailsPastTheEndWithZeros) {
  ValueNode v{};
  ASSERT_TRUE(Read(CByteType, kModeInt, {0x03}, v));
  EXPECT_EQ(v.payload.byte, 6);
  ASSERT_TRUE(Read(CShortType, kModeNone, {0x00, 0x80}, v));
  EXPECT_EQ(v.payload.int16, -32768);
  ASSERT_TRUE(Read(CFloatType, kModeFloat, {0x01}, v));
  EXPECT_EQ(v.payload.floats[0], 4.0f);
  ASSERT_TRUE(Read(CQuatType, kModeQuat, {0, 0, 0, 0, 0}, v));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(v.payload.floats[i], -0.5f);
  ASSERT_TRUE(Read(CVector3Type, kModeScale, {0x63, 0x00, 0x00}, v));
  EXPECT_EQ(Bits(v.payload.floats[0]), 0x41200001u);
  EXPECT_EQ(Bits(v.payload.floats[1]), Bits(0.1f));

  v.payload.floats[2] = 9.0f;
  EXPECT_FALSE(Read(CVector3Type, kModeNone, {0, 0, 0x80, 0x3F, 0, 0, 0, 0x40}, v));
  EXPECT_EQ(v.payload.floats[0], 1.0f);
  EXPECT_EQ(v.payload.floats[1], 2.0f);
  EXPECT_EQ(v.payload.floats[2], 0.0f);
  v.payload.int32 = 7;
  EXPECT_FALSE(Read(CIntType, kModeNone, {1, 2, 3}, v));
  EXPECT_EQ(v.payload.int32, 0);
  StringValue s;
  EXPECT_FALSE(Read(CStringType, kModeNone, {5, 0, 0}, s.node));
  EXPECT_TRUE(s.node.payload.text.IsEmptyHandle());
}

// A string value is read straight into its text: at every bit offset, cut at every byte, with
// a NUL among its characters or without, it must give what reading the bit string into a
// buffer gives (the characters up to the first NUL, as many as the stream holds), fail exactly
// when that read fails, and leave the cursor at the same bit.
TEST(PrimitiveBitFormTest, StringsReadLikeTheirBitStringAtEveryOffsetAndCut) {
  const std::string contents[] = {"", "a", std::string("ab\0cd", 5), std::string("\0xyz", 4),
                                  "a text of more than sixteen characters, read a word at a time"};
  for (const std::string& content : contents) {
    for (uint32_t shift = 0; shift < 8; ++shift) {
      ByteBuffer buffer;
      BitWriter writer(buffer);
      if (shift != 0) writer.Write(shift, 0);
      writer.WriteWord(1);
      writer.WriteBitString(content.data(), static_cast<uint32_t>(content.size()));
      ASSERT_FALSE(writer.failed);
      for (uint32_t size = 0; size <= buffer.size; ++size) {
        SCOPED_TRACE(testing::Message()
                     << "\"" << content.c_str() << "\" shift " << shift << " cut at " << size);
        BitReader expected(buffer.data, size);
        (void)expected.Read(shift);
        TStringBufferA<16> characters;
        if (expected.Read(32) != 0) expected.ReadBitString(characters);
        BitReader reader(buffer.data, size);
        (void)reader.Read(shift);
        StringValue value;
        EXPECT_EQ(CStringType.ReadValue(reader, Field(kModeNone), value.node), !expected.failed);
        EXPECT_EQ(reader.failed, expected.failed);
        EXPECT_EQ(reader.position, expected.position);
        EXPECT_EQ(std::string(value.node.payload.text.text), std::string(characters.data));
        EXPECT_EQ(value.node.payload.text.Length(), characters.length);
        EXPECT_EQ(value.node.payload.text.IsEmptyHandle(), characters.length == 0);
      }
    }
  }
}

// Each case: the text and what it prints back as, or null when the parse fails.
void ExpectTexts(const CCoreType& type,
                 std::initializer_list<std::pair<const char*, const char*>> cases) {
  for (const auto& [text, printed] : cases) {
    SCOPED_TRACE(std::string(type.name.data) + " <" + text + ">");
    ValueNode v{};
    const bool ok = Parse(type, text, v);
    EXPECT_EQ(ok, printed != nullptr);
    if (ok && printed != nullptr) {
      EXPECT_EQ(Format(type, v), printed);
    }
  }
}

TEST(PrimitiveTextTest, ParsesAndPrintsTheTextForms) {
  ExpectTexts(CBoolType, {{"true", "true"},
                          {"false", "false"},
                          {" false ", "false"},
                          {"true /* yes */", "true"},
                          {"True", nullptr},
                          {"1", nullptr},
                          {"tru", nullptr},
                          {"truex", nullptr},
                          {"falsee", nullptr},
                          {"true false", nullptr},
                          {"", nullptr}});
  ExpectTexts(CByteType,
              {{"300", "127"}, {"-300", "-128"}, {"4294967296", "127"}, {"-4294967295", "-128"}});
  ExpectTexts(CShortType, {{"40000", "32767"}, {"-32769", "-32768"}});
  ExpectTexts(CIntType, {{"1.5", "1"},
                         {"-2147483648", "-2147483648"},
                         {"4294967295", "-1"},
                         {"1 2", nullptr},
                         {"", nullptr},
                         {"x", nullptr}});
  ExpectTexts(CFloatType, {{"1,2", nullptr},
                           {" -INF", "-INF"},
                           {"-NAN", "-NAN"},
                           {"+INF", "INF"},
                           {"INFX", nullptr},
                           {"-2.5e3", "-2500"},
                           {"1e39", "INF"}});
  ExpectTexts(CVector2Type, {{"1, 2", "1,2"}, {"1", nullptr}});
  ExpectTexts(CVector4Type, {{"0.5,0.25,0,1", "0.5,0.25,0,1"}});
  ExpectTexts(CVector3Type, {{"1.5,2,0.0001", "1.5,2,0.0001"},
                             {"1,-INF,NAN", "1,-INF,NAN"},
                             {"1,2,3,", nullptr},
                             {"1,,2", nullptr}});
  ExpectTexts(CQuatType, {{"0,0,0,0", "0,0,0,0"}, {"0,0,3,4", "0,0,0.6,0.8"}});
  ExpectTexts(CAxisAlignedBoundingBoxType,
              {{"1,2,3,4,5,6", "1,2,3,4,5,6"}, {"1,2,3,4,5", nullptr}});
  ExpectTexts(
      CHashType,
      {{"-5", "5"}, {"4294967301", "5"}, {"@5", nullptr}, {"Foo Bar", nullptr}, {"7.9", "7"}});
  const std::string foo_id = "@" + std::to_string(NameHash("Foo"));
  ExpectTexts(CPointerType, {{"@ -12", "@12"},
                             {"@12", "@12"},
                             {" @12", "@12"},
                             {"@12 ", "@12"},
                             {"@-12", "@12"},
                             {"@4294967308", "@12"},
                             {"@'Foo'", foo_id.c_str()},
                             {"12", nullptr},
                             {"@", nullptr},
                             {"@@12", nullptr},
                             {"@1 @2", nullptr}});
}

// Numbers in the plain forms gentext writes are read without the lexer; they must give exactly
// what the general reader gives (the correctly rounded double, then float), in every form
// around the limits of that shortcut: 15 and 16 digits, exponents of 22 and 23, signs,
// fractions, and texts that only look plain.
TEST(PrimitiveTextTest, PlainNumbersReadAsTheGeneralReaderDoes) {
  const auto expect_float = [](const std::string& text) {
    SCOPED_TRACE(text);
    ValueNode node{};
    ASSERT_TRUE(ParseFromQuotedText(CFloatType, text, node));
    const float expected = static_cast<float>(std::strtod(text.c_str(), nullptr));
    EXPECT_EQ(Bits(node.payload.floats[0]), Bits(expected));
  };
  for (const char* text : {"0",
                           "-0",
                           "1",
                           "-1",
                           "0.1",
                           "-0.5",
                           "123456789012345",
                           "1234567890123456",
                           "0.00000000000000000000012345",
                           "9007199254740993",
                           "1E22",
                           "1E23",
                           "1E-22",
                           "1E-23",
                           "4.5E+21",
                           "8.8E-22",
                           "3.4028235E+38",
                           "1.17549435E-38",
                           "1.4E-45",
                           "007.50",
                           "16777217",
                           "0.3",
                           "2.5E3",
                           "2.5e3",
                           "33554431E-1",
                           "1.000000059604644775390625"}) {
    expect_float(text);
  }
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    const float value =
        std::ldexp(static_cast<float>(rng() & 0xFFFFFF), static_cast<int>(rng() % 90) - 60) *
        (rng() % 2 == 0 ? 1.0f : -1.0f);
    char text[64];
    std::snprintf(text, sizeof text, "%.*G", static_cast<int>(1 + rng() % 17), value);
    expect_float(text);
  }

  // Components followed by more text are read eight bytes at a time: runs of digits of every
  // length, ending at every place of such a block, with and without a fraction or exponent.
  for (int i = 0; i < 20000; ++i) {
    std::string components[3];
    std::string text;
    for (std::string& component : components) {
      if (rng() % 4 == 0) component += '-';
      component += std::to_string(rng() % 1000000000).substr(0, 1 + rng() % 9);
      if (rng() % 3 != 0) {
        component += '.';
        component += std::to_string(rng()).substr(0, 1 + rng() % 10);
      }
      if (rng() % 8 == 0) {
        component += 'E';
        component += std::to_string(static_cast<int>(rng() % 40) - 20);
      }
      if (!text.empty()) text += ',';
      text += component;
    }
    SCOPED_TRACE(text);
    ValueNode node{};
    ASSERT_TRUE(ParseFromQuotedText(CVector3Type, text, node));
    for (int k = 0; k < 3; ++k) {
      const float expected = static_cast<float>(std::strtod(components[k].c_str(), nullptr));
      EXPECT_EQ(Bits(node.payload.floats[k]), Bits(expected)) << components[k];
    }
  }

  const struct {
    const char* text;
    const char* printed;  // null: rejected
  } kIntegers[] = {{"-0", "0"},
                   {"0042", "42"},
                   {"9999999999999999999", "-1981284353"},  // the low 32 bits
                   {"18446744073709551615", "-1"},
                   {"-2147483649", "2147483647"},
                   {"12 ", "12"},
                   {"+12", "12"},
                   {"1-2", nullptr},
                   {"-", nullptr},
                   {"12x", nullptr}};
  for (const auto& c : kIntegers) {
    SCOPED_TRACE(c.text);
    ValueNode node{};
    const bool parsed = Parse(CIntType, c.text, node);
    EXPECT_EQ(parsed, c.printed != nullptr);
    if (parsed && c.printed != nullptr) {
      EXPECT_EQ(Format(CIntType, node), c.printed);
    }
  }
  ValueNode node{};
  ASSERT_TRUE(Parse(CByteType, "-129", node));
  EXPECT_EQ(Format(CByteType, node), "-128");
  ASSERT_TRUE(Parse(CHashType, "-4294967297", node));
  EXPECT_EQ(Format(CHashType, node), "1");
  ASSERT_TRUE(Parse(CPointerType, "@00012", node));
  EXPECT_EQ(Format(CPointerType, node), "@12");
}

// A text that ParsePlainText reads is read by ParseValue to the same value; texts of other
// forms are left to ParseValue. Texts around every plain form: signs, spaces, comments, words,
// exponents, separators, too many digits, components too few and too many.
TEST(PrimitiveTextTest, PlainTextsReadAsParseValueReadsThem) {
  std::vector<std::string> texts = {"",
                                    "0",
                                    "-0",
                                    "+1",
                                    " 1",
                                    "1 ",
                                    "1.5",
                                    "-1.5E3",
                                    "1e3",
                                    "1E500",
                                    "1E-500",
                                    "0x10",
                                    "007",
                                    "1/*c*/",
                                    "1//c",
                                    "'name'",
                                    "name",
                                    "@1",
                                    "@ 1",
                                    "@-5",
                                    "@'x'",
                                    "@",
                                    "@@1",
                                    "true",
                                    "True",
                                    " true",
                                    "false ",
                                    "false",
                                    "INF",
                                    "-INF",
                                    "+INF",
                                    "NAN",
                                    "-NAN",
                                    "INFx",
                                    "INF1",
                                    "1,2",
                                    "1,2,3",
                                    "1, 2,3",
                                    "1,2,3,",
                                    ",1,2",
                                    "1,,2",
                                    "-INF,NAN,1",
                                    "1.,2,3",
                                    ".5,1,2",
                                    "1,2,3,4",
                                    "1,2,3,4,5,6",
                                    "1,2,3,4,5",
                                    "0,0,0,0",
                                    "127",
                                    "128",
                                    "-129",
                                    "32767",
                                    "-32769",
                                    "2147483648",
                                    "-2147483649",
                                    "4294967296",
                                    "9999999999999999999",
                                    "99999999999999999999",
                                    "18446744073709551615",
                                    "1.2345678901234567890",
                                    "0.1,0.2,0.3,0.4,0.5,0.6"};
  std::mt19937 rng(23);
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const int components = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < components; ++k) {
      if (k != 0) text += rng() % 16 == 0 ? ", " : ",";
      if (rng() % 4 == 0) text += '-';
      text += std::to_string(rng() % 100000);
      if (rng() % 2 == 0) {
        text += '.';
        text += std::to_string(rng() % 1000000);
      }
      if (rng() % 10 == 0) {
        text += 'E';
        text += std::to_string(static_cast<int>(rng() % 80) - 40);
      }
    }
    texts.push_back(text);
  }
  const CCoreType* const types[] = {&CBoolType,    &CByteType,    &CShortType,
                                    &CIntType,     &CFloatType,   &CVector2Type,
                                    &CVector3Type, &CVector4Type, &CQuatType,
                                    &CHashType,    &CPointerType, &CAxisAlignedBoundingBoxType};
  uint32_t plain_count = 0;
  for (const CCoreType* type : types) {
    ASSERT_TRUE(type->HasPlainPrefix());
    for (const std::string& text : texts) {
      SCOPED_TRACE(testing::Message() << type->name.data << " <" << text << ">");
      ValueNode plain{};
      ValueNode parsed{};
      const bool taken =
          type->ParsePlainText(text.c_str(), static_cast<uint32_t>(text.size()), plain);
      // Read where it stands in a document line, the text is taken exactly when its closing
      // quote follows what the reader reads, to the same value.
      if (text.find('"') == std::string::npos) {
        const std::string line = text + "\"\r\n\t\tNext = \"1\"";
        ValueNode in_place{};
        const uint32_t read = type->ReadPlainPrefix(line.c_str(), in_place);
        ASSERT_LE(read, text.size());
        ASSERT_EQ(read != 0 && line[read] == '"', taken);
        if (taken) {
          ASSERT_EQ(std::memcmp(&plain.payload, &in_place.payload, sizeof plain.payload), 0);
        }
      }
      if (!taken) {
        continue;
      }
      ++plain_count;
      ASSERT_TRUE(Parse(*type, text.c_str(), parsed));
      ASSERT_EQ(std::memcmp(&plain.payload, &parsed.payload, sizeof plain.payload), 0);
    }
  }
  EXPECT_GT(plain_count, 3000u);
  EXPECT_FALSE(CStringType.HasPlainPrefix());  // a string's end is where its quote is
  for (const std::string& text : {std::string(), std::string("a \"b\" // c"), std::string("x")}) {
    ValueNode plain{};
    ValueNode parsed{};
    ASSERT_TRUE(
        CStringType.ParsePlainText(text.c_str(), static_cast<uint32_t>(text.size()), plain));
    ASSERT_TRUE(Parse(CStringType, text.c_str(), parsed));
    EXPECT_EQ(std::string(plain.payload.text.text != nullptr ? plain.payload.text.text : ""),
              std::string(parsed.payload.text.text != nullptr ? parsed.payload.text.text : ""));
    plain.payload.text.Release();
    parsed.payload.text.Release();
  }
}

struct FakeDictionary {
  std::vector<uint32_t> kinds;
  const char* name = nullptr;
  const char* hash_comment = nullptr;
  const char* pointer_comment = nullptr;
  bool check_value = true;
};

const char* FakeResolve(uint32_t value, uint32_t kind, void* context) {
  auto& dictionary = *static_cast<FakeDictionary*>(context);
  dictionary.kinds.push_back(kind);
  if (kind == kResolveHashComment) return dictionary.hash_comment;
  if (kind == kResolvePointerComment) return dictionary.pointer_comment;
  const bool asked_right = !dictionary.check_value || NameHash(dictionary.name) == value;
  return asked_right ? dictionary.name : "asked for another value";
}

TEST(PrimitiveTextTest, CommentsAndNamesComeFromTheResolverByKind) {
  ValueNode v{};
  v.payload.word = 4294967295u;
  std::string comment;
  EXPECT_EQ(Format(CPointerType, v, &comment), "@4294967295");
  EXPECT_EQ(comment, "External object");
  EXPECT_EQ(Format(CHashType, v, &comment), "4294967295");
  EXPECT_EQ(comment, "kept");

  FakeDictionary dictionary{{}, "Foo", "English text"};
  NameResolverScope scope(FakeResolve, &dictionary);
  v.payload.word = NameHash("Foo");
  EXPECT_EQ(Format(CTextIDType, v, &comment), "'Foo'");
  EXPECT_EQ(comment, "English text");
  EXPECT_EQ(dictionary.kinds, (std::vector<uint32_t>{kCTextIDHash, kResolveHashComment}));
  dictionary.kinds.clear();
  dictionary.hash_comment = nullptr;
  EXPECT_EQ(Format(CStringHashType, v, &comment), "'Foo'");
  EXPECT_EQ(comment, "kept");
  EXPECT_EQ(dictionary.kinds[0], kCStringHashHash);
  dictionary.kinds.clear();
  dictionary.pointer_comment = "cGameObjectState";
  EXPECT_EQ(Format(CPointerType, v, &comment), "@'Foo'");
  EXPECT_EQ(comment, "cGameObjectState");
  EXPECT_EQ(dictionary.kinds, (std::vector<uint32_t>{kCPointerHash, kResolvePointerComment}));

  dictionary.check_value = false;  // a name that does not hash back to the value is refused
  v.payload.word = NameHash("Foo") + 1;
  EXPECT_EQ(Format(CHashType, v), std::to_string(NameHash("Foo") + 1));
  EXPECT_EQ(Format(CPointerType, v), "@" + std::to_string(NameHash("Foo") + 1));
}

TEST(PrimitiveTextTest, ResolvedNamesReadBackToTheirHashes) {
  for (const char* name : {"Type@NAME_2", "with space", "quote'single\"double\\", "tab\tline\n",
                           "caf\xC3\xA9", "bad\xC0\x80utf8", ""}) {
    SCOPED_TRACE(name);
    FakeDictionary dictionary;
    dictionary.name = name;
    NameResolverScope scope(FakeResolve, &dictionary);
    for (const CCoreType* type :
         std::initializer_list<const CCoreType*>{&CHashType, &CStringHashType, &CPointerType}) {
      ValueNode v{}, back{};
      v.payload.word = NameHash(name);
      const std::string text = Format(*type, v);
      ASSERT_TRUE(Parse(*type, text.c_str(), back)) << text;
      EXPECT_EQ(back.payload.word, NameHash(name)) << text;
    }
  }
}

TEST(PrimitiveTextTest, StringsTakeTheWholeTextAndRoundTripEscaped) {
  StringValue v;
  ASSERT_TRUE(Parse(CStringType, " a, \"b\" 'c' // not a comment", v.node));
  EXPECT_STREQ(v.node.payload.text.text, " a, \"b\" 'c' // not a comment");
  EXPECT_EQ(Format(CStringType, v.node), " a, \\\"b\\\" 'c' // not a comment");
  ASSERT_TRUE(Parse(CStringType, "", v.node));
  EXPECT_TRUE(v.node.payload.text.IsEmptyHandle());
  EXPECT_EQ(Format(CStringType, v.node), "");
  for (const char* text : {"q\"uote's", "back\\slash\\", "\t\r\n\b\f\x01\x1F",
                           "caf\xC3\xA9 \xF0\x9F\x98\x80", "bad \xC0\x80 \xFF end", " "}) {
    SCOPED_TRACE(text);
    StringValue in, back;
    in.node.payload.text.AssignText(text);
    const std::string printed = Format(CStringType, in.node);
    ASSERT_TRUE(ParseFromQuotedText(CStringType, printed, back.node)) << printed;
    EXPECT_STREQ(back.node.payload.text.text, text) << printed;
  }
}

TEST(PrimitiveRoundTripTest, RandomValuesSurviveTheirBitsAndTheirText) {
  std::mt19937 rng(99);
  std::normal_distribution<float> normal;
  const std::pair<const CCoreType*, uint32_t> cases[] = {
      {&CBoolType, 1},     {&CByteType, 1},     {&CShortType, 2},
      {&CIntType, 4},      {&CFloatType, 4},    {&CVector2Type, 8},
      {&CVector3Type, 12}, {&CVector4Type, 16}, {&CQuatType, 16},
      {&CHashType, 4},     {&CPointerType, 4},  {&CAxisAlignedBoundingBoxType, 24}};
  uint32_t plain_texts = 0;
  for (int round = 0; round < 250; ++round) {
    for (const auto& [type, payload_bytes] : cases) {
      ValueNode in{}, from_bits{}, from_text{};
      for (int i = 0; i < 6; ++i) {
        uint32_t word = rng();
        if (round % 5 == 0) word &= 0x807FFFFFu;  // subnormals and zeros
        in.payload.floats[i] = FromBits(word);
        from_bits.payload.floats[i] = FromBits(~word);
      }
      if (type == &CBoolType) in.payload.boolean &= 1;
      ByteBuffer buffer;
      const uint32_t start = rng() % 8;
      BitWriter writer(buffer, start);
      ASSERT_TRUE(type->WriteValue(writer, Field(kModeNone), in));
      BitReader reader(buffer.data, buffer.size);
      reader.position = start;
      ASSERT_TRUE(type->ReadValue(reader, Field(kModeNone), from_bits));
      EXPECT_EQ(reader.position, writer.position);
      ASSERT_EQ(std::memcmp(&in.payload, &from_bits.payload, payload_bytes), 0) << type->name.data;

      for (float& f : in.payload.floats) {
        if (std::isnan(f)) f = FromBits((Bits(f) & 0x80000000u) | 0x7FC00000u);
      }
      if (type == &CQuatType) {  // unit quaternions read back bit for bit
        for (int k = 0; k < 4; ++k) in.payload.floats[k] = normal(rng);
        NormaliseQuaternion(in.payload.floats);
      }
      const std::string text = Format(*type, in);
      ASSERT_TRUE(ParseFromQuotedText(*type, text, from_text)) << text;
      ASSERT_EQ(std::memcmp(&in.payload, &from_text.payload, payload_bytes), 0)
          << type->name.data << " " << text;
      // What gentext writes is mostly the plain form (not for floats whose exponent is beyond
      // what a double holds exactly), read without the lexer to the same value.
      ValueNode from_plain{};
      if (type->ParsePlainText(text.c_str(), static_cast<uint32_t>(text.size()), from_plain)) {
        ++plain_texts;
        ASSERT_EQ(std::memcmp(&in.payload, &from_plain.payload, payload_bytes), 0)
            << type->name.data << " " << text;
      }
    }
  }
  EXPECT_GT(plain_texts, 250u * 12 / 2);
  ValueNode nan{}, back{};  // NaNs read back as the quiet NaN of their sign
  nan.payload.floats[0] = FromBits(0x7F800123u);
  nan.payload.floats[1] = FromBits(0xFFBFFFFFu);
  ASSERT_TRUE(Parse(CVector2Type, Format(CVector2Type, nan).c_str(), back));
  EXPECT_EQ(Bits(back.payload.floats[0]), 0x7FC00000u);
  EXPECT_EQ(Bits(back.payload.floats[1]), 0xFFC00000u);
}

}  // namespace
