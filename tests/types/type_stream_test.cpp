// tests/types/type_stream_test.cpp - field and class records, whole streams, merging and
// malformed input.
#include "types/type_stream.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"

namespace {

struct FieldDef {
  const char* name;
  uint32_t type_hash;
  int32_t array_size;
  uint32_t mode;
  IntQuantization int_q;
  FloatQuantization float_q;
};

void Fill(FieldInfo& field, const FieldDef& def) {
  field.name.Assign(def.name);
  field.name_hash = NameHash(def.name);
  field.type_hash = def.type_hash;
  field.array_size = def.array_size;
  field.quantization_mode = def.mode;
  field.int_quantization = def.int_q;
  field.float_quantization = def.float_q;
}

ClassTypePtr MakeClass(const char* name, std::initializer_list<FieldDef> fields,
                       uint32_t extra_word = 0) {
  ClassTypePtr class_type = MakeClassType();
  EXPECT_NE(class_type, nullptr);
  class_type->name.Assign(name);
  class_type->name_hash = NameHash(name);
  class_type->extra_word = extra_word;
  EXPECT_TRUE(class_type->AllocateFields(static_cast<uint32_t>(fields.size())));
  uint32_t i = 0;
  for (const FieldDef& def : fields) Fill(class_type->fields[i++], def);
  return class_type;
}

// The stream of the given classes, in the given order (a registry would reorder them).
std::vector<uint8_t> StreamOf(std::initializer_list<const ClassType*> classes) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteWord(static_cast<uint32_t>(classes.size()));
  for (const ClassType* class_type : classes) EXPECT_TRUE(WriteClassRecord(*class_type, writer));
  EXPECT_FALSE(writer.failed);
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

void ExpectSameField(const FieldInfo& a, const FieldInfo& b) {
  EXPECT_STREQ(a.name.data, b.name.data);
  EXPECT_EQ(a.name_hash, b.name_hash);
  EXPECT_EQ(a.type_hash, b.type_hash);
  EXPECT_EQ(a.array_size, b.array_size);
  EXPECT_EQ(a.quantization_mode, b.quantization_mode);
  if (a.mode() == QuantizationMode::Int) {
    EXPECT_EQ(a.int_quantization.minimum, b.int_quantization.minimum);
    EXPECT_EQ(a.int_quantization.maximum, b.int_quantization.maximum);
    EXPECT_EQ(a.int_quantization.step, b.int_quantization.step);
  }
  if (a.mode() == QuantizationMode::Float) {
    EXPECT_EQ(std::bit_cast<uint32_t>(a.float_quantization.minimum),
              std::bit_cast<uint32_t>(b.float_quantization.minimum));
    EXPECT_EQ(std::bit_cast<uint32_t>(a.float_quantization.maximum),
              std::bit_cast<uint32_t>(b.float_quantization.maximum));
    EXPECT_EQ(std::bit_cast<uint32_t>(a.float_quantization.step),
              std::bit_cast<uint32_t>(b.float_quantization.step));
  }
}

void ExpectSameClass(const ClassType& a, const ClassType& b) {
  SCOPED_TRACE(a.name.data);
  EXPECT_STREQ(a.name.data, b.name.data);
  EXPECT_EQ(a.name_hash, b.name_hash);
  EXPECT_EQ(a.extra_word, b.extra_word);
  ASSERT_EQ(a.field_count, b.field_count);
  for (uint32_t i = 0; i < a.field_count; ++i) ExpectSameField(a.fields[i], b.fields[i]);
}

constexpr uint32_t kIntHash = 0x2283412C;      // cInt
constexpr uint32_t kFloatHash = 0xFDB57779;    // cFloat
constexpr uint32_t kVector3Hash = 0x5260632D;  // cVector3

// Bits of an empty name, the two hashes: where the array bit of a field record sits.
constexpr uint32_t kArrayBitAt = 5 + 32 + 32;

uint32_t FieldBits(const FieldDef& def) {
  FieldInfo field;
  Fill(field, def);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  EXPECT_TRUE(WriteFieldRecord(field, writer));
  return writer.position;
}

TEST(FieldRecordTest, ArrayFormCostsOneOrSixOrMoreBits) {
  // Empty name, mode 0: 5 + 32 + 32 bits, then the array part, then 5 bits of mode.
  EXPECT_EQ(FieldBits({"", kIntHash, -1, 0, {}, {}}), kArrayBitAt + 1 + 5);
  EXPECT_EQ(FieldBits({"", kIntHash, 0, 0, {}, {}}), kArrayBitAt + 1 + 5 + 5);
  EXPECT_EQ(FieldBits({"", kIntHash, 3, 0, {}, {}}), kArrayBitAt + 1 + 5 + 2 + 5);
  // Name "ab": its length takes 2 more bits, its characters 16.
  EXPECT_EQ(FieldBits({"ab", kIntHash, 0, 0, {}, {}}), 2 + 16 + kArrayBitAt + 1 + 5 + 5);
}

TEST(FieldRecordTest, IntModeStoresMinimumWordThenVarUIntMaximumAndStep) {
  FieldInfo field;
  Fill(field, {"", kIntHash, -1, 1, {-5, 10, 1}, {}});
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteFieldRecord(field, writer));
  uint32_t at = kArrayBitAt;
  EXPECT_EQ(ReadBits(buffer.data, at, 1), 1u);  // variable-length array
  at += 1;
  EXPECT_EQ(ReadBits(buffer.data, at, 5), 1u);      // mode: width 1 ...
  EXPECT_EQ(ReadBits(buffer.data, at + 5, 1), 1u);  // ... value 1
  at += 6;
  EXPECT_EQ(ReadBits(buffer.data, at, 32), 0xFFFFFFFBu);
  at += 32;
  EXPECT_EQ(ReadBits(buffer.data, at, 5), 4u);
  EXPECT_EQ(ReadBits(buffer.data, at + 5, 4), 0b1010u);
  at += 9;
  EXPECT_EQ(ReadBits(buffer.data, at, 5), 1u);
  EXPECT_EQ(ReadBits(buffer.data, at + 5, 1), 1u);
  at += 6;
  EXPECT_EQ(writer.position, at);

  BitReader reader(buffer.data, buffer.size);
  FieldInfo back;
  ASSERT_TRUE(ReadFieldRecord(back, reader));
  EXPECT_EQ(reader.position, at);
  ExpectSameField(field, back);
}

TEST(FieldRecordTest, FloatModeStoresThreeBitPatterns) {
  FieldInfo field;
  Fill(field, {"w", kFloatHash, 0, 2, {}, {-1.5f, 2.0f, 0.01f, 0}});
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteFieldRecord(field, writer));
  const uint32_t params = 1 + 8 + kArrayBitAt + 1 + 5 + 5 + 2;  // name "w", array 0, mode 2
  EXPECT_EQ(ReadBits(buffer.data, params, 32), std::bit_cast<uint32_t>(-1.5f));
  EXPECT_EQ(ReadBits(buffer.data, params + 32, 32), std::bit_cast<uint32_t>(2.0f));
  EXPECT_EQ(ReadBits(buffer.data, params + 64, 32), std::bit_cast<uint32_t>(0.01f));
  EXPECT_EQ(writer.position, params + 96);
}

TEST(FieldRecordTest, ModesWithoutParametersStoreOnlyTheMode) {
  FieldInfo field;
  Fill(field, {"", kVector3Hash, -1, 4, {7, 8, 9}, {1, 2, 3, 4}});
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteFieldRecord(field, writer));
  EXPECT_EQ(writer.position, kArrayBitAt + 1 + 5 + 3);
  EXPECT_EQ(ReadBits(buffer.data, kArrayBitAt + 1, 8), 3u | (4u << 5));

  BitReader reader(buffer.data, buffer.size);
  FieldInfo back;
  ASSERT_TRUE(ReadFieldRecord(back, reader));
  EXPECT_EQ(back.quantization_mode, 4u);
  EXPECT_EQ(back.int_quantization.step, 0);
  EXPECT_EQ(back.float_quantization.step, 0.0f);
}

TEST(FieldRecordTest, ValuesAVarUIntCannotHoldFailTheWrite) {
  const FieldDef kCases[] = {
      {"", kIntHash, -2, 0, {}, {}},
      {"", kIntHash, 0, 1, {0, -1, 1}, {}},
      {"", kIntHash, 0, 1, {0, 10, -1}, {}},
      {"", kIntHash, 0, 0x80000000u, {}, {}},
  };
  for (const FieldDef& def : kCases) {
    FieldInfo field;
    Fill(field, def);
    ByteBuffer buffer;
    BitWriter writer(buffer);
    EXPECT_FALSE(WriteFieldRecord(field, writer));
  }
}

TEST(FieldRecordTest, UnusableQuantizationIsRefusedWhenRead) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const FieldDef kCases[] = {
      {"a", kIntHash, 0, 1, {0, 10, 0}, {}},
      {"b", kFloatHash, 0, 2, {}, {0, 1, 0, 0}},
      {"c", kFloatHash, 0, 2, {}, {0, 1, nan, 0}},
      {"d", kFloatHash, 0, 2, {}, {-inf, 1, 0.5f, 0}},
      {"e", kFloatHash, 0, 2, {}, {0, nan, 0.5f, 0}},
  };
  for (const FieldDef& def : kCases) {
    SCOPED_TRACE(def.name);
    FieldInfo field;
    Fill(field, def);
    ByteBuffer buffer;
    BitWriter writer(buffer);
    ASSERT_TRUE(WriteFieldRecord(field, writer));
    BitReader reader(buffer.data, buffer.size);
    FieldInfo back;
    EXPECT_FALSE(ReadFieldRecord(back, reader));
    EXPECT_TRUE(reader.failed);
  }
}

TEST(FieldRecordTest, UnknownModeAndMismatchedHashAreKeptAsStored) {
  FieldInfo field;
  Fill(field, {"name", kIntHash, 5, 9, {}, {}});
  field.name_hash = 12345;
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteFieldRecord(field, writer));
  BitReader reader(buffer.data, buffer.size);
  FieldInfo back;
  ASSERT_TRUE(ReadFieldRecord(back, reader));
  EXPECT_EQ(back.quantization_mode, 9u);
  EXPECT_EQ(back.name_hash, 12345u);
  EXPECT_EQ(back.array_size, 5);
}

TEST(ClassRecordTest, RoundTripsNameHashExtraWordAndFields) {
  ClassTypePtr original = MakeClass("cThing",
                                    {{"pos", kVector3Hash, 0, 4, {}, {}},
                                     {"ids", kIntHash, -1, 1, {-100, 100, 5}, {}},
                                     {"rate", kFloatHash, 7, 2, {}, {0, 1, 0.1f, 0}}},
                                    0xDEADBEEF);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteClassRecord(*original, writer));
  BitReader reader(buffer.data, buffer.size);
  ClassType back;
  ASSERT_TRUE(ReadClassRecord(back, reader));
  EXPECT_EQ(reader.position, writer.position);
  ExpectSameClass(*original, back);

  BitReader skipper(buffer.data, buffer.size);
  EXPECT_TRUE(SkipClassType(skipper));
  EXPECT_EQ(skipper.position, writer.position);
}

TEST(ClassRecordTest, ReadingReplacesFieldsAlreadyHeld) {
  ClassTypePtr small = MakeClass("cSmall", {{"x", kIntHash, 0, 0, {}, {}}});
  ClassTypePtr big =
      MakeClass("cBig", {{"a", kIntHash, 0, 0, {}, {}}, {"b", kIntHash, 0, 0, {}, {}}});
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteClassRecord(*small, writer));
  BitReader reader(buffer.data, buffer.size);
  ASSERT_TRUE(ReadClassRecord(*big, reader));
  ExpectSameClass(*small, *big);
}

TEST(ClassRecordTest, FieldCountBeyondTheRemainingBitsFailsBeforeAllocating) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteBitString("cHuge");
  writer.WriteWord(NameHash("cHuge"));
  writer.WriteWord(0);
  writer.WriteWord(0xFFFFFFFF);
  for (int i = 0; i < 64; ++i) writer.WriteWord(0);
  BitReader reader(buffer.data, buffer.size);
  ClassType class_type;
  EXPECT_FALSE(ReadClassRecord(class_type, reader));
  EXPECT_EQ(class_type.fields, nullptr);
  EXPECT_EQ(class_type.field_count, 0u);

  BitReader skipper(buffer.data, buffer.size);
  EXPECT_FALSE(SkipClassType(skipper));
}

TEST(TypeRegistryTest, KeepsTheFirstClassOfAHashAndOwnsWhatItHolds) {
  TypeRegistry registry;
  ClassType* first = registry.Add(MakeClass("cA", {{"x", kIntHash, 0, 0, {}, {}}}));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(registry.Add(MakeClass("cA", {})), nullptr);
  EXPECT_EQ(registry.Add(nullptr), nullptr);
  EXPECT_EQ(registry.count(), 1u);
  EXPECT_EQ(FindClassType(registry, NameHash("cA")), first);
  EXPECT_EQ(first->field_count, 1u);
  EXPECT_EQ(FindClassType(registry, NameHash("cB")), nullptr);

  registry.Clear();
  EXPECT_EQ(registry.count(), 0u);
  EXPECT_EQ(FindClassType(registry, NameHash("cA")), nullptr);
  EXPECT_NE(registry.Add(MakeClass("cA", {})), nullptr);
}

TEST(LoadTypeInfoTest, FourZeroBytesLoadNoClassAndConsumeFour) {
  const uint8_t empty[4] = {0, 0, 0, 0};
  TypeRegistry registry;
  EXPECT_EQ(LoadTypeInfo(registry, empty, 4), 4u);
  EXPECT_EQ(registry.count(), 0u);
  EXPECT_EQ(LoadTypeInfo(registry, empty, 3), 0u);
  EXPECT_EQ(LoadTypeInfo(registry, empty, 0), 0u);
}

TEST(LoadTypeInfoTest, ReturnsTheStreamLengthAndIgnoresWhatFollows) {
  ClassTypePtr a = MakeClass("cA", {{"x", kIntHash, 0, 1, {0, 3, 1}, {}}});
  std::vector<uint8_t> stream = StreamOf({a.get()});
  const uint32_t length = static_cast<uint32_t>(stream.size());
  stream.insert(stream.end(), {0xFF, 0xFF, 0xFF});
  TypeRegistry registry;
  EXPECT_EQ(LoadTypeInfo(registry, stream.data(), static_cast<uint32_t>(stream.size())), length);
  ASSERT_NE(FindClassType(registry, a->name_hash), nullptr);
  ExpectSameClass(*a, *FindClassType(registry, a->name_hash));
}

TEST(LoadTypeInfoTest, FirstDefinitionWinsAndSkippedRecordsAreStillConsumed) {
  ClassTypePtr h1 = MakeClass("cH", {{"one", kIntHash, 0, 0, {}, {}}}, 1);
  ClassTypePtr h2 = MakeClass("cH",
                              {{"a", kIntHash, 0, 0, {}, {}},
                               {"b", kFloatHash, 0, 2, {}, {0, 1, 0.5f, 0}},
                               {"c", kIntHash, 0, 1, {0, 9, 0}, {}}},  // never judged
                              2);
  ClassTypePtr k = MakeClass("cK", {{"k", kIntHash, 0, 0, {}, {}}});
  const std::vector<uint8_t> first = StreamOf({h1.get()});
  const std::vector<uint8_t> second = StreamOf({h2.get(), k.get()});

  TypeRegistry registry;
  ASSERT_EQ(LoadTypeInfo(registry, first.data(), static_cast<uint32_t>(first.size())),
            first.size());
  ASSERT_EQ(LoadTypeInfo(registry, second.data(), static_cast<uint32_t>(second.size())),
            second.size());
  EXPECT_EQ(registry.count(), 2u);
  ExpectSameClass(*h1, *FindClassType(registry, NameHash("cH")));
  ExpectSameClass(*k, *FindClassType(registry, NameHash("cK")));

  // Within one stream the earlier record wins as well.
  TypeRegistry single;
  const std::vector<uint8_t> both = StreamOf({h1.get(), h2.get()});
  ASSERT_EQ(LoadTypeInfo(single, both.data(), static_cast<uint32_t>(both.size())), both.size());
  ExpectSameClass(*h1, *FindClassType(single, NameHash("cH")));
}

TEST(LoadTypeInfoTest, EveryTruncationFailsAndKeepsEarlierClasses) {
  ClassTypePtr a = MakeClass("cFirst", {{"x", kIntHash, 2, 1, {-8, 8, 2}, {}}});
  ClassTypePtr b = MakeClass("cSecond", {{"y", kFloatHash, -1, 2, {}, {0, 10, 0.25f, 0}},
                                         {"z", kVector3Hash, 0, 4, {}, {}}});
  const std::vector<uint8_t> stream = StreamOf({a.get(), b.get()});
  for (uint32_t length = 0; length < stream.size(); ++length) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> cut(stream.begin(), stream.begin() + length);
    TypeRegistry registry;
    EXPECT_EQ(LoadTypeInfo(registry, cut.data(), length), 0u);
    EXPECT_LE(registry.count(), 1u);
    if (registry.count() == 1) ExpectSameClass(*a, *FindClassType(registry, a->name_hash));
  }
}

TEST(LoadTypeInfoTest, AbsurdClassCountFailsAtOnce) {
  std::vector<uint8_t> stream = {0xFF, 0xFF, 0xFF, 0xFF};
  stream.resize(64, 0);
  TypeRegistry registry;
  EXPECT_EQ(LoadTypeInfo(registry, stream.data(), static_cast<uint32_t>(stream.size())), 0u);
  EXPECT_EQ(registry.count(), 0u);
}

TEST(LoadTypeInfoTest, BadQuantizationFailsTheLoad) {
  ClassTypePtr good = MakeClass("cGood", {});
  ClassTypePtr bad = MakeClass("cBad", {{"q", kIntHash, 0, 1, {0, 5, 0}, {}}});
  const std::vector<uint8_t> stream = StreamOf({good.get(), bad.get()});
  TypeRegistry registry;
  EXPECT_EQ(LoadTypeInfo(registry, stream.data(), static_cast<uint32_t>(stream.size())), 0u);
  EXPECT_NE(FindClassType(registry, good->name_hash), nullptr);
  EXPECT_EQ(FindClassType(registry, bad->name_hash), nullptr);
}

TEST(SaveTypeInfoTest, AppendsAtTheBufferEndAndReturnsTheNewSize) {
  TypeRegistry registry;
  ClassType* a = registry.Add(MakeClass("cA", {{"x", kIntHash, 0, 0, {}, {}}}));
  ASSERT_NE(a, nullptr);
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.Grow(4));
  std::memcpy(buffer.data, "BILT", 4);
  buffer.size = 4;
  const uint32_t size = SaveTypeInfo(registry, buffer);
  ASSERT_GT(size, 4u);
  EXPECT_EQ(size, buffer.size);
  EXPECT_EQ(std::memcmp(buffer.data, "BILT", 4), 0);
  const std::vector<uint8_t> expected = StreamOf({a});
  EXPECT_EQ(std::vector<uint8_t>(buffer.data + 4, buffer.data + size), expected);
}

TEST(SaveTypeInfoTest, WritesClassesInRegistryOrder) {
  // Low bytes 0x01 and 0x02: the registry order is by the low 8 bits of the hash.
  TypeRegistry registry;
  ClassTypePtr late = MakeClass("cLate", {});
  late->name_hash = 0xAAAAAA02;
  ClassTypePtr early = MakeClass("cEarly", {});
  early->name_hash = 0xBBBBBB01;
  const ClassType* late_ptr = registry.Add(std::move(late));
  const ClassType* early_ptr = registry.Add(std::move(early));
  ByteBuffer buffer;
  const uint32_t size = SaveTypeInfo(registry, buffer);
  EXPECT_EQ(std::vector<uint8_t>(buffer.data, buffer.data + size), StreamOf({early_ptr, late_ptr}));
}

TEST(SaveTypeInfoTest, SavedStreamLoadsBackIntoAnEmptyRegistry) {
  TypeRegistry registry;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "cClass" + std::to_string(i);
    ClassTypePtr class_type =
        MakeClass(name.c_str(),
                  {{"plain", kIntHash, 0, 0, {}, {}},
                   {"ints", kIntHash, i, 1, {-i, i * 3, i + 1}, {}},
                   {"floats", kFloatHash, -1, 2, {}, {-0.5f * i, 100.0f, 0.125f, 0}},
                   {"quat", 0x370EF81A, 0, 7, {}, {}}},
                  static_cast<uint32_t>(i * 7919));
    ASSERT_NE(registry.Add(std::move(class_type)), nullptr);
  }
  ByteBuffer buffer;
  const uint32_t size = SaveTypeInfo(registry, buffer);
  ASSERT_GT(size, 0u);
  TypeRegistry loaded;
  ASSERT_EQ(LoadTypeInfo(loaded, buffer.data, size), size);
  EXPECT_EQ(loaded.count(), registry.count());
  registry.ForEach([&](const ClassType& original) {
    const ClassType* back = FindClassType(loaded, original.name_hash);
    ASSERT_NE(back, nullptr);
    ExpectSameClass(original, *back);
  });
}

}  // namespace
