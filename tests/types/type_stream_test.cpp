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
#include "types/core_type_hashes.h"

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
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

void ExpectSameField(const FieldInfo& a, const FieldInfo& b) {
  EXPECT_STREQ(a.name.data, b.name.data);
  EXPECT_EQ(a.name_hash, b.name_hash);
  EXPECT_EQ(a.type_hash, b.type_hash);
  EXPECT_EQ(a.array_size, b.array_size);
  EXPECT_EQ(a.quantization_mode, b.quantization_mode);
  if (a.mode() == QuantizationMode::Int) {
    EXPECT_EQ(std::memcmp(&a.int_quantization, &b.int_quantization, 12), 0) << a.name.data;
  }
  if (a.mode() == QuantizationMode::Float) {  // minimum, maximum and step, bit for bit
    EXPECT_EQ(std::memcmp(&a.float_quantization, &b.float_quantization, 12), 0) << a.name.data;
  }
}

void ExpectSameClass(const ClassType& a, const ClassType* b) {
  ASSERT_NE(b, nullptr) << a.name.data;
  EXPECT_STREQ(a.name.data, b->name.data);
  EXPECT_EQ(a.name_hash, b->name_hash);
  EXPECT_EQ(a.extra_word, b->extra_word);
  ASSERT_EQ(a.field_count, b->field_count);
  for (uint32_t i = 0; i < a.field_count; ++i) ExpectSameField(a.fields[i], b->fields[i]);
}

uint32_t Load(TypeRegistry& registry, const std::vector<uint8_t>& stream) {
  return LoadTypeInfo(registry, stream.data(), static_cast<uint32_t>(stream.size()));
}

// Bits of an empty name, the two hashes: where the array bit of a field record sits.
constexpr uint32_t kArrayBitAt = 5 + 32 + 32;

struct Record {
  FieldInfo field;
  ByteBuffer buffer;
  uint32_t bits = 0;
  explicit Record(const FieldDef& def) {
    Fill(field, def);
    Write();
  }
  void Write() {
    buffer.size = 0;
    BitWriter writer(buffer);
    EXPECT_TRUE(WriteFieldRecord(field, writer));
    bits = writer.position;
  }
  uint32_t At(uint32_t position, uint32_t width) const {
    return ReadBits(buffer.data, position, width);
  }
  bool ReadBack(FieldInfo& back, bool* failed = nullptr) const {
    BitReader reader(buffer.data, buffer.size);
    const bool ok = ReadFieldRecord(back, reader);
    EXPECT_EQ(reader.position, ok ? bits : reader.position);
    if (failed != nullptr) *failed = reader.failed;
    return ok;
  }
};

TEST(FieldRecordTest, ArrayFormCostsOneOrSixOrMoreBits) {
  EXPECT_EQ(Record({"", kCIntHash, -1, 0, {}, {}}).bits, kArrayBitAt + 1 + 5);
  EXPECT_EQ(Record({"", kCIntHash, 0, 0, {}, {}}).bits, kArrayBitAt + 1 + 5 + 5);
  EXPECT_EQ(Record({"", kCIntHash, 3, 0, {}, {}}).bits, kArrayBitAt + 1 + 5 + 2 + 5);
  EXPECT_EQ(Record({"ab", kCIntHash, 0, 0, {}, {}}).bits, 2 + 16 + kArrayBitAt + 1 + 5 + 5);
}

TEST(FieldRecordTest, QuantizationParametersFollowTheMode) {
  const Record ints({"", kCIntHash, -1, 1, {-5, 10, 1}, {}});
  EXPECT_EQ(ints.At(kArrayBitAt, 1), 1u);                        // variable-length array
  EXPECT_EQ(ints.At(kArrayBitAt + 1, 6), 1u | (1u << 5));        // mode: width 1, value 1
  EXPECT_EQ(ints.At(kArrayBitAt + 7, 32), 0xFFFFFFFBu);          // minimum word
  EXPECT_EQ(ints.At(kArrayBitAt + 39, 9), 4u | (0b1010u << 5));  // maximum, step: VarUInts
  EXPECT_EQ(ints.At(kArrayBitAt + 48, 6), 1u | (1u << 5));
  EXPECT_EQ(ints.bits, kArrayBitAt + 54);
  FieldInfo back;
  ASSERT_TRUE(ints.ReadBack(back));
  ExpectSameField(ints.field, back);

  const Record floats({"w", kCFloatHash, 0, 2, {}, {-1.5f, 2.0f, 0.01f, 0}});
  const uint32_t params = 1 + 8 + kArrayBitAt + 1 + 5 + 5 + 2;  // name "w", array 0, mode 2
  EXPECT_EQ(floats.At(params, 32), std::bit_cast<uint32_t>(-1.5f));
  EXPECT_EQ(floats.At(params + 32, 32), std::bit_cast<uint32_t>(2.0f));
  EXPECT_EQ(floats.At(params + 64, 32), std::bit_cast<uint32_t>(0.01f));
  EXPECT_EQ(floats.bits, params + 96);

  const Record pos({"", kCVector3Hash, -1, 4, {7, 8, 9}, {1, 2, 3, 4}});
  EXPECT_EQ(pos.bits, kArrayBitAt + 1 + 5 + 3);
  EXPECT_EQ(pos.At(kArrayBitAt + 1, 8), 3u | (4u << 5));
  FieldInfo pos_back;
  ASSERT_TRUE(pos.ReadBack(pos_back));
  EXPECT_EQ(pos_back.quantization_mode, 4u);
  EXPECT_EQ(pos_back.int_quantization.step, 0);
  EXPECT_EQ(pos_back.float_quantization.step, 0.0f);

  Record odd({"name", kCIntHash, 5, 9, {}, {}});  // unknown mode and mismatched hash are kept
  odd.field.name_hash = 12345;
  odd.Write();
  ASSERT_TRUE(odd.ReadBack(back));
  ExpectSameField(odd.field, back);
}

TEST(FieldRecordTest, ValuesAVarUIntCannotHoldFailTheWrite) {
  for (const FieldDef& def :
       {FieldDef{"", kCIntHash, -2, 0, {}, {}}, FieldDef{"", kCIntHash, 0, 1, {0, -1, 1}, {}},
        FieldDef{"", kCIntHash, 0, 1, {0, 10, -1}, {}},
        FieldDef{"", kCIntHash, 0, 0x80000000u, {}, {}}}) {
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
  for (const FieldDef& def : {FieldDef{"a", kCIntHash, 0, 1, {0, 10, 0}, {}},
                              FieldDef{"b", kCFloatHash, 0, 2, {}, {0, 1, 0, 0}},
                              FieldDef{"c", kCFloatHash, 0, 2, {}, {0, 1, nan, 0}},
                              FieldDef{"d", kCFloatHash, 0, 2, {}, {-inf, 1, 0.5f, 0}},
                              FieldDef{"e", kCFloatHash, 0, 2, {}, {0, nan, 0.5f, 0}}}) {
    FieldInfo back;
    bool failed = false;
    EXPECT_FALSE(Record(def).ReadBack(back, &failed)) << def.name;
    EXPECT_TRUE(failed) << def.name;
  }
}

TEST(ClassRecordTest, RoundTripsAndReplacesFieldsAlreadyHeld) {
  ClassTypePtr original = MakeClass("cThing",
                                    {{"pos", kCVector3Hash, 0, 4, {}, {}},
                                     {"ids", kCIntHash, -1, 1, {-100, 100, 5}, {}},
                                     {"rate", kCFloatHash, 7, 2, {}, {0, 1, 0.1f, 0}}},
                                    0xDEADBEEF);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  ASSERT_TRUE(WriteClassRecord(*original, writer));
  ClassTypePtr back = MakeClass("cOld", {{"a", kCIntHash, 0, 0, {}, {}}});
  BitReader reader(buffer.data, buffer.size);
  ASSERT_TRUE(ReadClassRecord(*back, reader));
  EXPECT_EQ(reader.position, writer.position);
  ExpectSameClass(*original, back.get());
  BitReader skipper(buffer.data, buffer.size);
  EXPECT_TRUE(SkipClassType(skipper));
  EXPECT_EQ(skipper.position, writer.position);
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

TEST(LoadTypeInfoTest, ReturnsTheStreamLengthAndIgnoresWhatFollows) {
  const uint8_t empty[4] = {0, 0, 0, 0};
  TypeRegistry registry;
  EXPECT_EQ(LoadTypeInfo(registry, empty, 4), 4u);
  EXPECT_EQ(LoadTypeInfo(registry, empty, 3), 0u);
  std::vector<uint8_t> absurd_count = {0xFF, 0xFF, 0xFF, 0xFF};
  absurd_count.resize(64, 0);
  EXPECT_EQ(Load(registry, absurd_count), 0u);
  EXPECT_EQ(registry.count(), 0u);

  ClassTypePtr a = MakeClass("cA", {{"x", kCIntHash, 0, 1, {0, 3, 1}, {}}});
  std::vector<uint8_t> stream = StreamOf({a.get()});
  const uint32_t length = static_cast<uint32_t>(stream.size());
  stream.insert(stream.end(), {0xFF, 0xFF, 0xFF});
  EXPECT_EQ(Load(registry, stream), length);
  ExpectSameClass(*a, FindClassType(registry, a->name_hash));
}

TEST(LoadTypeInfoTest, FirstDefinitionWinsAndSkippedRecordsAreStillConsumed) {
  ClassTypePtr h1 = MakeClass("cH", {{"one", kCIntHash, 0, 0, {}, {}}}, 1);
  ClassTypePtr h2 = MakeClass("cH",
                              {{"a", kCIntHash, 0, 0, {}, {}},
                               {"b", kCFloatHash, 0, 2, {}, {0, 1, 0.5f, 0}},
                               {"c", kCIntHash, 0, 1, {0, 9, 0}, {}}},  // never judged
                              2);
  ClassTypePtr k = MakeClass("cK", {{"k", kCIntHash, 0, 0, {}, {}}});
  const std::vector<uint8_t> first = StreamOf({h1.get()});
  const std::vector<uint8_t> second = StreamOf({h2.get(), k.get()});
  TypeRegistry registry;
  ASSERT_EQ(Load(registry, first), first.size());
  ASSERT_EQ(Load(registry, second), second.size());
  EXPECT_EQ(registry.count(), 2u);
  ExpectSameClass(*h1, FindClassType(registry, NameHash("cH")));
  ExpectSameClass(*k, FindClassType(registry, NameHash("cK")));
  TypeRegistry single;
  const std::vector<uint8_t> both = StreamOf({h1.get(), h2.get()});
  ASSERT_EQ(Load(single, both), both.size());
  ExpectSameClass(*h1, FindClassType(single, NameHash("cH")));
}

TEST(LoadTypeInfoTest, EveryTruncationAndBadQuantizationFailKeepingEarlierClasses) {
  ClassTypePtr a = MakeClass("cFirst", {{"x", kCIntHash, 2, 1, {-8, 8, 2}, {}}});
  ClassTypePtr b = MakeClass("cSecond", {{"y", kCFloatHash, -1, 2, {}, {0, 10, 0.25f, 0}},
                                         {"z", kCVector3Hash, 0, 4, {}, {}}});
  const std::vector<uint8_t> stream = StreamOf({a.get(), b.get()});
  for (uint32_t length = 0; length < stream.size(); ++length) {
    SCOPED_TRACE(length);
    TypeRegistry registry;
    EXPECT_EQ(LoadTypeInfo(registry, stream.data(), length), 0u);
    EXPECT_LE(registry.count(), 1u);
    if (registry.count() == 1) ExpectSameClass(*a, FindClassType(registry, a->name_hash));
  }
  ClassTypePtr bad = MakeClass("cBad", {{"q", kCIntHash, 0, 1, {0, 5, 0}, {}}});
  TypeRegistry registry;
  EXPECT_EQ(Load(registry, StreamOf({a.get(), bad.get()})), 0u);
  EXPECT_NE(FindClassType(registry, a->name_hash), nullptr);
  EXPECT_EQ(FindClassType(registry, bad->name_hash), nullptr);
}

TEST(SaveTypeInfoTest, AppendsClassesInRegistryOrder) {
  // Low bytes 0x01 and 0x02: the registry order is by the low 8 bits of the hash.
  TypeRegistry registry;
  ClassTypePtr late = MakeClass("cLate", {{"x", kCIntHash, 0, 0, {}, {}}});
  late->name_hash = 0xAAAAAA02;
  ClassTypePtr early = MakeClass("cEarly", {});
  early->name_hash = 0xBBBBBB01;
  const ClassType* late_ptr = registry.Add(std::move(late));
  const ClassType* early_ptr = registry.Add(std::move(early));
  ByteBuffer buffer;
  ASSERT_TRUE(buffer.Grow(4));
  std::memcpy(buffer.data, "BILT", 4);
  buffer.size = 4;
  const uint32_t size = SaveTypeInfo(registry, buffer);
  EXPECT_EQ(size, buffer.size);
  EXPECT_EQ(std::memcmp(buffer.data, "BILT", 4), 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer.data + 4, buffer.data + size),
            StreamOf({early_ptr, late_ptr}));
}

TEST(SaveTypeInfoTest, SavedStreamLoadsBackIntoAnEmptyRegistry) {
  TypeRegistry registry;
  for (int i = 0; i < 8; ++i) {
    const std::string name = "cClass" + std::to_string(i);
    ASSERT_NE(
        registry.Add(MakeClass(name.c_str(),
                               {{"plain", kCIntHash, 0, 0, {}, {}},
                                {"ints", kCIntHash, i, 1, {-i, i * 3, i + 1}, {}},
                                {"floats", kCFloatHash, -1, 2, {}, {-0.5f * i, 100.0f, 0.125f, 0}},
                                {"quat", kCQuatHash, 0, 7, {}, {}}},
                               static_cast<uint32_t>(i * 7919))),
        nullptr);
  }
  ByteBuffer buffer;
  const uint32_t size = SaveTypeInfo(registry, buffer);
  TypeRegistry loaded;
  ASSERT_EQ(LoadTypeInfo(loaded, buffer.data, size), size);
  EXPECT_EQ(loaded.count(), registry.count());
  registry.ForEach([&](const ClassType& original) {
    ExpectSameClass(original, FindClassType(loaded, original.name_hash));
  });
}

}  // namespace
