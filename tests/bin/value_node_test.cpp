#include "bin/value_node.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "tests/bin/bin_test_support.h"
#include "types/quantization.h"

namespace {

constexpr uint32_t kCompound = static_cast<uint32_t>(ValueKind::kCompound);
constexpr uint32_t kArray = static_cast<uint32_t>(ValueKind::kArray);

std::vector<uint8_t> Bytes(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

TEST(InitValueTest, GivesEachTypeItsForm) {
  ValueNode node{};
  InitValue(node, kCAngleHash, false, 0);
  EXPECT_EQ(node.kind, kCFloatHash);
  EXPECT_EQ(node.type_hash, kCAngleHash);
  InitValue(node, kCStringHash, false, 0);
  EXPECT_TRUE(node.payload.text.IsEmptyHandle());
  InitValue(node, kCIntHash, true, 0);
  EXPECT_TRUE(node.IsArray() && node.is_array);
  EXPECT_EQ(node.payload.children.count, 0u);
  InitValue(node, NameHash("SomeEnumeration"), false, kCHashHash);
  EXPECT_EQ(node.kind, kCHashHash);
  EXPECT_EQ(node.type_hash, NameHash("SomeEnumeration"));
  InitValue(node, 0xAF5BE7E1, false, 0);  // a string type known only by its hash
  EXPECT_EQ(node.kind, kCStringHash);
  EXPECT_EQ(StorageTypeOf(kCPointerHash), kCHashHash);
  ValueNode* object = NewObjectValue(kCStringHash, 7);
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsCompound());
  EXPECT_EQ(object->name, 7u);
  ReleaseObject(object);
}

// A walk that knows a type's kind beforehand prepares its node with InitPrimitive: for every
// built-in type, alone or as the storage of another type, the node must be the one InitValue
// makes (every byte that InitValue sets, over a node full of leftovers).
TEST(InitValueTest, AKnownKindPreparesTheNodeAsInitValueDoes) {
  const uint32_t other = NameHash("SomeEnumeration");
  for (const StorageRow& row : kStorageRows) {
    for (const auto& [type_hash, storage] :
         {std::pair{row.type_hash, 0u}, {other, row.type_hash}}) {
      const uint32_t kind = CoreValueKind(storage, type_hash);
      ASSERT_NE(kind, kCompound);
      ValueNode expected, prepared;
      std::memset(static_cast<void*>(&expected), 0xA5, sizeof expected);
      std::memset(static_cast<void*>(&prepared), 0xA5, sizeof prepared);
      InitValue(expected, type_hash, false, storage);
      InitPrimitive(prepared, type_hash, kind);
      EXPECT_EQ(std::memcmp(&expected, &prepared, sizeof expected), 0) << std::hex << type_hash;
    }
  }
  EXPECT_EQ(CoreValueKind(0, other), kCompound);
}

// Whatever the children and the order of the questions, the cursor answers as FindChildValue:
// the first child of each name. Names come from a small set (so they repeat) and include pairs
// that share a filter slot's low bits.
TEST(FieldChildCursorTest, AnswersAsFindChildValueInAnyOrder) {
  std::mt19937 random(5);
  const uint32_t names[] = {1, 2, 3, 65, 129, 0x9E3779B1u, 0x12345678u, 7, 8, 64};
  for (int round = 0; round < 400; ++round) {
    ValueNode* parent = NewObjectValue(1, 1);
    ASSERT_NE(parent, nullptr);
    const uint32_t child_count = random() % 12;
    for (uint32_t i = 0; i < child_count; ++i) {
      ASSERT_NE(AppendChildValue(*parent, names[random() % 10], kCIntHash, false, 0), nullptr);
    }
    // Mostly the children's own order (the common case), sometimes any order.
    std::vector<uint32_t> asks;
    for (const ValueNode* c = parent->payload.children.first; c != nullptr; c = c->next) {
      asks.push_back(c->name);
    }
    if (round % 2 == 1) {
      std::shuffle(asks.begin(), asks.end(), random);
      asks.push_back(names[random() % 10]);
    }
    FieldChildCursor cursor(*parent);
    for (uint32_t name : asks) {
      ASSERT_EQ(cursor.Find(name), FindChildValue(*parent, name)) << round << " " << name;
    }
    ReleaseObject(parent);
  }
  ValueNode primitive{};
  InitValue(primitive, kCIntHash, false, 0);
  FieldChildCursor none(primitive);
  EXPECT_EQ(none.Find(0), nullptr);
}

TEST(ReleaseValueTest, ReleasesVeryDeepTrees) {
  const uint32_t in_use = ValueNodesInUse();
  ValueNode* object = NewObjectValue(NameHash("cA"), 1);
  ASSERT_NE(object, nullptr);
  ValueNode* parent = object;
  for (int i = 0; i < 200000; ++i) {
    parent = AppendChildValue(*parent, NameHash("next"), NameHash("cA"), false, 0);
    ASSERT_NE(parent, nullptr);
  }
  ReleaseObject(object);
  EXPECT_EQ(ValueNodesInUse(), in_use);
}

class ObjectWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { nodes_before_ = ValueNodesInUse(); }
  void TearDown() override {
    ReleaseObjects(objects_);
    EXPECT_EQ(ValueNodesInUse(), nodes_before_) << "value nodes leaked";
  }

  ValueNode* NewObject(const ClassType& class_type) {
    ValueNode* object = NewObjectValue(class_type.name_hash, 1);
    EXPECT_TRUE(objects_.Append(object));
    return object;
  }

  // Bits read, or -1 when the decode fails.
  int64_t Decode(ValueNode& object, const ClassType& class_type,
                 const std::vector<uint8_t>& bytes) {
    BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
    if (!DecodeObjectFields(object, registry_, core_.table, class_type, reader)) return -1;
    return reader.position;
  }

  // Bits written, or -1 when the encode fails.
  int64_t Encode(const ValueNode& object, const ClassType& class_type,
                 std::vector<uint8_t>* bytes = nullptr) {
    ByteBuffer out;
    BitWriter writer(out);
    if (!EncodeObjectFields(object, registry_, core_.table, class_type, writer)) return -1;
    if (bytes != nullptr) *bytes = Bytes(out);
    return writer.position;
  }

  // cInner { b: cBool, n: cShort }
  // cOuter { id: cInt, inner: cInner, items: cInner[-1], tail: cByte }
  void AddOuterClasses() {
    ASSERT_NE(AddClass(registry_, "cInner", {{"b", kCBoolHash}, {"n", kCShortHash}}), nullptr);
    outer_ = AddClass(registry_, "cOuter",
                      {{"id", kCIntHash},
                       {"inner", NameHash("cInner")},
                       {"items", NameHash("cInner"), -1},
                       {"tail", kCByteHash}});
    ASSERT_NE(outer_, nullptr);
  }

  // id -2; inner {1, -300}; items [{0, 11}, {1, 22}]; tail 7.
  static void WriteOuterStream(BitWriter& writer) {
    writer.Write(32, 0xFFFFFFFEu);
    writer.Write(1, 1);
    writer.Write(16, static_cast<uint16_t>(-300));
    writer.WriteVarUInt(2);
    writer.Write(1, 0);
    writer.Write(16, 11);
    writer.Write(1, 1);
    writer.Write(16, 22);
    writer.Write(8, 7);
  }
  static constexpr int64_t kOuterBits = 98;

  static std::vector<uint8_t> OuterStream() {
    ByteBuffer buffer;
    BitWriter writer(buffer);
    WriteOuterStream(writer);
    EXPECT_EQ(writer.position, kOuterBits);
    return Bytes(buffer);
  }

  TypeRegistry registry_;
  CoreTypes core_;
  ValueObjectList objects_;
  ClassType* outer_ = nullptr;

 private:
  uint32_t nodes_before_ = 0;
};

TEST_F(ObjectWalkTest, DecodesAndEncodesNestedClassesAndArraysOfClasses) {
  AddOuterClasses();
  ValueNode* object = NewObject(*outer_);
  ASSERT_EQ(Decode(*object, *outer_, OuterStream()), kOuterBits);
  ASSERT_EQ(object->payload.children.count, 4u);

  auto expect_node = [](const ValueNode* node, const char* name, uint32_t kind, uint32_t type) {
    EXPECT_EQ(node->name, name == nullptr ? 0u : NameHash(name));
    EXPECT_EQ(node->kind, kind);
    EXPECT_EQ(node->type_hash, type);
  };
  const ValueNode* id = object->payload.children.first;
  const ValueNode* inner = id->next;
  const ValueNode* items = inner->next;
  const ValueNode* first = items->payload.children.first;
  expect_node(id, "id", kCIntHash, kCIntHash);
  expect_node(inner, "inner", kCompound, NameHash("cInner"));
  expect_node(items, "items", kArray, NameHash("cInner"));
  expect_node(first, nullptr, kCompound, NameHash("cInner"));
  EXPECT_EQ(id->payload.int32, -2);
  ASSERT_EQ(inner->payload.children.count, 2u);
  EXPECT_EQ(Child(*inner, "b")->payload.boolean, 1);
  EXPECT_EQ(Child(*inner, "n")->payload.int16, -300);
  EXPECT_TRUE(items->is_array);
  ASSERT_EQ(items->payload.children.count, 2u);
  EXPECT_EQ(Child(*first, "n")->payload.int16, 11);
  EXPECT_EQ(Child(*first->next, "n")->payload.int16, 22);
  EXPECT_EQ(Child(*first->next, "b")->payload.boolean, 1);
  EXPECT_EQ(items->next->payload.byte, 7);
  EXPECT_EQ(items->next->next, nullptr);

  std::vector<uint8_t> out;
  ASSERT_EQ(Encode(*object, *outer_, &out), kOuterBits);
  EXPECT_EQ(out, OuterStream());
}

TEST_F(ObjectWalkTest, EveryTruncationFailsAndReleasesCleanly) {
  AddOuterClasses();
  const std::vector<uint8_t> stream = OuterStream();
  for (size_t length = 0; length < stream.size(); ++length) {
    SCOPED_TRACE(length);
    EXPECT_EQ(Decode(*NewObject(*outer_), *outer_, {stream.begin(), stream.begin() + length}), -1);
    ReleaseObjects(objects_);
  }
}

TEST_F(ObjectWalkTest, PrintsTheBitRangeOfEveryFieldUpToTheOneThatFails) {
  AddOuterClasses();
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.Write(32, 0x12345678);  // something before the object's fields
  writer.Write(32, 0x9ABCDEF0);
  WriteOuterStream(writer);
  BitReader reader(buffer.data, buffer.size);
  reader.position = 64;
  ValueNode* object = NewObject(*outer_);
  CStringBufferA out;
  ASSERT_TRUE(
      PrintObjectBitRanges(*object, registry_, core_.table, *outer_, reader, 64, "object", out));
  EXPECT_STREQ(out.data,
               "object.id: 0 - 32 (32)\n"
               "object.inner.b: 32 - 33 (1)\n"
               "object.inner.n: 33 - 49 (16)\n"
               "object.inner: 32 - 49 (17)\n"
               "object.items.b: 56 - 57 (1)\n"
               "object.items.n: 57 - 73 (16)\n"
               "object.items.b: 73 - 74 (1)\n"
               "object.items.n: 74 - 90 (16)\n"
               "object.items: 49 - 90 (41)\n"
               "object.tail: 90 - 98 (8)\n");
  EXPECT_EQ(reader.position, 64 + kOuterBits);

  std::vector<uint8_t> cut = OuterStream();
  cut.resize(5);  // id and 8 bits of inner
  BitReader cut_reader(cut.data(), static_cast<uint32_t>(cut.size()));
  CStringBufferA partial;
  EXPECT_FALSE(PrintObjectBitRanges(*NewObject(*outer_), registry_, core_.table, *outer_,
                                    cut_reader, 0, "o", partial));
  EXPECT_STREQ(partial.data, "o.id: 0 - 32 (32)\no.inner.b: 32 - 33 (1)\n");
}

TEST_F(ObjectWalkTest, ArrayOfUnknownElementTypeWorksOnlyWhenEmpty) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"list", NameHash("cUnknown"), -1}});
  ASSERT_NE(holder, nullptr);
  ValueNode* object = NewObject(*holder);
  ASSERT_EQ(Decode(*object, *holder, {0x00}), 5);
  const ValueNode* list = Child(*object, "list");
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->IsArray());
  EXPECT_EQ(list->type_hash, NameHash("cUnknown"));
  std::vector<uint8_t> out;
  ASSERT_EQ(Encode(*object, *holder, &out), 5);
  EXPECT_EQ(out, std::vector<uint8_t>{0x00});

  ASSERT_NE(AppendChildValue(*object->payload.children.first, 0, NameHash("cUnknown"), false, 0),
            nullptr);
  EXPECT_EQ(Encode(*object, *holder), -1);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteVarUInt(1);
  writer.WriteWord(0);
  EXPECT_EQ(Decode(*NewObject(*holder), *holder, Bytes(buffer)), -1);
}

TEST_F(ObjectWalkTest, ArrayCountComesFromTheStreamNotTheDeclaredSize) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"v", kCShortHash, 3}});
  ASSERT_NE(holder, nullptr);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteVarUInt(2);
  writer.Write(16, 0x1234);
  writer.Write(16, 0x8765);
  ValueNode* object = NewObject(*holder);
  ASSERT_EQ(Decode(*object, *holder, Bytes(buffer)), 7 + 32);
  const ValueNode* v = Child(*object, "v");
  ASSERT_EQ(v->payload.children.count, 2u);
  EXPECT_EQ(v->payload.children.first->kind, kCShortHash);
  EXPECT_EQ(v->payload.children.first->name, 0u);
  EXPECT_EQ(v->payload.children.first->payload.int16, 0x1234);
  EXPECT_EQ(v->payload.children.last->payload.int16, static_cast<int16_t>(0x8765));
  std::vector<uint8_t> out;
  ASSERT_NE(Encode(*object, *holder, &out), -1);
  EXPECT_EQ(out, Bytes(buffer));
}

TEST_F(ObjectWalkTest, ValueThatItsQuantizationCannotStoreFailsTheEncode) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"n", kCIntHash}});
  ASSERT_NE(holder, nullptr);
  holder->fields[0].quantization_mode = static_cast<uint32_t>(QuantizationMode::DynValInt);
  ValueNode* object = NewObject(*holder);
  ValueNode* n = AppendChildValue(*object, NameHash("n"), kCIntHash, false, 0);
  n->payload.int32 = 5;
  EXPECT_NE(Encode(*object, *holder), -1);
  n->payload.int32 = -1;
  EXPECT_EQ(Encode(*object, *holder), -1);
}

TEST_F(ObjectWalkTest, ClassesThatContainThemselvesFailCleanly) {
  ClassType* self = AddClass(registry_, "cSelf", {{"self", NameHash("cSelf")}});
  ClassType* ping = AddClass(registry_, "cPing", {{"pong", NameHash("cPong")}});
  ASSERT_NE(AddClass(registry_, "cPong", {{"value", kCBoolHash}, {"ping", NameHash("cPing")}}),
            nullptr);
  EXPECT_EQ(Decode(*NewObject(*self), *self, {}), -1);
  EXPECT_EQ(Decode(*NewObject(*self), *self, std::vector<uint8_t>(64, 0xFF)), -1);
  const std::vector<uint8_t> bytes(1024, 0);
  EXPECT_EQ(Decode(*NewObject(*ping), *ping, bytes), -1);
  BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
  CStringBufferA out;
  EXPECT_FALSE(
      PrintObjectBitRanges(*NewObject(*ping), registry_, core_.table, *ping, reader, 0, "o", out));
}

// cLevel0 { next: cLevel1 } ... cLevel<levels> { flag: cBool }: `levels` classes below the top.
ClassType* AddLevelChain(TypeRegistry& registry, uint32_t levels) {
  char name[32];
  char next[32];
  for (uint32_t i = 0; i < levels; ++i) {
    std::snprintf(name, sizeof(name), "cLevel%u", i);
    std::snprintf(next, sizeof(next), "cLevel%u", i + 1);
    if (AddClass(registry, name, {{"next", NameHash(next)}}) == nullptr) return nullptr;
  }
  std::snprintf(name, sizeof(name), "cLevel%u", levels);
  if (AddClass(registry, name, {{"flag", kCBoolHash}}) == nullptr) return nullptr;
  return registry.Find(NameHash("cLevel0"));
}

TEST_F(ObjectWalkTest, NestingUpToTheLimitWorksAndPastItFailsCleanly) {
  ClassType* top = AddLevelChain(registry_, kMaxNestingDepth);
  ASSERT_NE(top, nullptr);
  ValueNode* object = NewObject(*top);
  ASSERT_NE(Decode(*object, *top, {0x01}), -1);
  std::vector<uint8_t> out;
  ASSERT_EQ(Encode(*object, *top, &out), 1);
  EXPECT_EQ(out, std::vector<uint8_t>{0x01});

  TypeRegistry registry;
  const uint32_t levels = kMaxNestingDepth + 1;
  top = AddLevelChain(registry, levels);
  ASSERT_NE(top, nullptr);
  object = NewObject(*top);
  std::vector<uint8_t> bytes{0x01};
  BitReader reader(bytes.data(), 1);
  EXPECT_FALSE(DecodeObjectFields(*object, registry, core_.table, *top, reader));
  ReleaseObjects(objects_);
  object = NewObject(*top);  // the same depth built by hand does not encode either
  ValueNode* parent = object;
  char name[32];
  for (uint32_t i = 1; i <= levels; ++i) {
    std::snprintf(name, sizeof(name), "cLevel%u", i);
    parent = AppendChildValue(*parent, NameHash("next"), NameHash(name), false, 0);
    ASSERT_NE(parent, nullptr);
  }
  ASSERT_NE(AppendChildValue(*parent, NameHash("flag"), kCBoolHash, false, 0), nullptr);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  EXPECT_FALSE(EncodeObjectFields(*object, registry, core_.table, *top, writer));
}

TEST_F(ObjectWalkTest, BitlessArraysDecodeButForgedHugeCountsFail) {
  AddClass(registry_, "cEmpty", {});
  ClassType* holder = AddClass(registry_, "cHolder", {{"list", NameHash("cEmpty"), -1}});
  ASSERT_NE(holder, nullptr);
  ByteBuffer huge, thousand;
  BitWriter(huge).WriteVarUInt(0x7FFFFFFF);
  BitWriter(thousand).WriteVarUInt(1000);
  EXPECT_EQ(Decode(*NewObject(*holder), *holder, Bytes(huge)), -1);
  ValueNode* object = NewObject(*holder);
  ASSERT_NE(Decode(*object, *holder, Bytes(thousand)), -1);
  EXPECT_EQ(Child(*object, "list")->payload.children.count, 1000u);
  std::vector<uint8_t> out;
  ASSERT_NE(Encode(*object, *holder, &out), -1);
  EXPECT_EQ(out, Bytes(thousand));
}

TEST_F(ObjectWalkTest, FanOfBitlessClassesFailsWithoutExhaustingMemory) {
  char name[32];
  char next[32];
  for (int i = 0; i < 40; ++i) {  // 2^41 values from no bits at all
    std::snprintf(name, sizeof(name), "cFan%d", i);
    std::snprintf(next, sizeof(next), "cFan%d", i + 1);
    ASSERT_NE(AddClass(registry_, name, {{"a", NameHash(next)}, {"b", NameHash(next)}}), nullptr);
  }
  ASSERT_NE(AddClass(registry_, "cFan40", {}), nullptr);
  const ClassType* top = registry_.Find(NameHash("cFan0"));
  EXPECT_EQ(Decode(*NewObject(*top), *top, {}), -1);
}

// How an object of cSample { a: cInt, list: cInt[-1], inner: cInner2 { v: cByte } } is built.
struct SampleShape {
  bool has_a = true, a_array = false, list_array = true, reversed = false, extra_child = false;
  uint32_t a_type = kCIntHash, a_storage = 0, list_type = kCIntHash, third_type = kCIntHash;
  uint32_t inner_storage = 0, inner_field = NameHash("v");
};

TEST_F(ObjectWalkTest, EncodeWritesDeclarationOrderAndRefusesMissingOrMistypedFields) {
  AddClass(registry_, "cInner2", {{"v", kCByteHash}});
  ClassType* sample =
      AddClass(registry_, "cSample",
               {{"a", kCIntHash}, {"list", kCIntHash, -1}, {"inner", NameHash("cInner2")}});
  ASSERT_NE(sample, nullptr);
  auto build = [&](const SampleShape& s) {
    ValueNode* object = NewObject(*sample);
    auto add_a = [&] {
      if (!s.has_a) return;
      ValueNode* a = AppendChildValue(*object, NameHash("a"), s.a_type, s.a_array, s.a_storage);
      if (!s.a_array) a->payload.int32 = -5;
    };
    auto add_list = [&] {
      ValueNode* list = AppendChildValue(*object, NameHash("list"), s.list_type, s.list_array, 0);
      for (int32_t i = 1; i <= 3 && s.list_array; ++i) {
        AppendChildValue(*list, 0, i == 3 ? s.third_type : kCIntHash, false, 0)->payload.int32 =
            i * 100;
      }
    };
    auto add_inner = [&] {
      ValueNode* inner =
          AppendChildValue(*object, NameHash("inner"), NameHash("cInner2"), false, s.inner_storage);
      if (s.inner_storage != 0) return;
      AppendChildValue(*inner, s.inner_field, kCByteHash, false, 0)->payload.byte = -1;
    };
    if (s.reversed) add_inner(), add_list();
    add_a();
    if (s.extra_child) {
      AppendChildValue(*object, NameHash("zzz"), kCIntHash, false, 0)->payload.int32 = 99;
    }
    if (!s.reversed) add_list(), add_inner();
    return object;
  };

  ByteBuffer expected;
  BitWriter writer(expected);
  writer.WriteWord(static_cast<uint32_t>(-5));
  writer.WriteVarUInt(3);
  writer.WriteWord(100);
  writer.WriteWord(200);
  writer.WriteWord(300);
  writer.Write(8, 0xFF);
  for (const SampleShape& shape :
       {SampleShape{}, SampleShape{.reversed = true}, SampleShape{.extra_child = true}}) {
    std::vector<uint8_t> out;
    ASSERT_NE(Encode(*build(shape), *sample, &out), -1);
    EXPECT_EQ(out, Bytes(expected));
  }

  const SampleShape refused[] = {{.has_a = false},
                                 {.a_array = true},
                                 {.list_array = false},
                                 {.a_type = kCShortHash},
                                 {.a_storage = kCHashHash},
                                 {.list_type = kCShortHash},
                                 {.third_type = kCHashHash},
                                 {.inner_storage = kCIntHash},
                                 {.inner_field = NameHash("w")}};
  for (const SampleShape& shape : refused) {
    EXPECT_EQ(Encode(*build(shape), *sample), -1) << &shape - refused;
  }
}

}  // namespace

namespace {

struct FieldSetup {
  const char* name;
  uint32_t type_hash;
  QuantizationMode mode;
  int32_t array_size;
};

// A class of `fields`, each with its quantization mode; Int and Float take valid parameters
// unless `broken` names the field, whose parameters then divide by zero.
ClassType* AddQuantizedClass(TypeRegistry& registry, const char* name,
                             std::initializer_list<FieldSetup> fields, const char* broken = "") {
  std::vector<FieldShape> shapes;
  for (const FieldSetup& setup : fields) {
    shapes.push_back({setup.name, setup.type_hash, setup.array_size});
  }
  ClassType* class_type = AddClass(registry, name, shapes);
  if (class_type == nullptr) return nullptr;
  uint32_t i = 0;
  for (const FieldSetup& setup : fields) {
    FieldInfo& field = class_type->fields[i++];
    field.quantization_mode = static_cast<uint32_t>(setup.mode);
    const bool zero_step = std::strcmp(setup.name, broken) == 0;
    field.int_quantization = IntQuantization{-1000, 1000, zero_step ? 0 : 3};
    field.float_quantization = FloatQuantization{-50.0f, 50.0f, zero_step ? 0.0f : 0.01f, 0};
  }
  return class_type;
}

}  // namespace

// Validation steps over runs of fixed-width values at once; wherever the stream is cut and
// however small the node budget, it must still fail exactly where the decode fails, leave the
// reader at the same bit and use the same budget, for every kind of value that has a fixed
// width, for those whose width varies, and for fields their quantization makes unreadable.
TEST_F(ObjectWalkTest, ValidationWithSkipPlansFailsAndStopsExactlyWhereTheDecodeDoes) {
  using Q = QuantizationMode;
  const uint32_t enum_hash = NameHash("cAchievementType");
  const uint32_t flags_hash = NameHash("cActionLogicEvents");
  const uint32_t part_hash = NameHash("cPart");
  ASSERT_NE(AddQuantizedClass(registry_, "cPart",
                              {{"a", kCShortHash, Q::None, 0},
                               {"b", kCFloatHash, Q::Float, 0},
                               {"c", kCStringHash, Q::None, 0}}),
            nullptr);
  const std::initializer_list<FieldSetup> every_kind = {
      {"bool", kCBoolHash, Q::None, 0},        {"byte", kCByteHash, Q::None, 0},
      {"short", kCShortHash, Q::Int, 0},       {"int", kCIntHash, Q::None, 0},
      {"dyn", kCIntHash, Q::DynValInt, 0},     {"float", kCFloatHash, Q::None, 0},
      {"qfloat", kCFloatHash, Q::Float, 0},    {"angle", kCAngleHash, Q::None, 0},
      {"v2", kCVector2Hash, Q::None, 0},       {"v3", kCVector3Hash, Q::None, 0},
      {"pos", kCVector3Hash, Q::Pos, 0},       {"scale", kCVector3Hash, Q::Scale, 0},
      {"scale2", kCVector3Hash, Q::Scale2, 0}, {"v4", kCVector4Hash, Q::None, 0},
      {"color", kCColorHash, Q::None, 0},      {"quat", kCQuatHash, Q::None, 0},
      {"qquat", kCQuatHash, Q::Quat, 0},       {"box", kCAxisAlignedBoundingBoxHash, Q::None, 0},
      {"hash", kCHashHash, Q::None, 0},        {"text_id", kCTextIDHash, Q::None, 0},
      {"enum", enum_hash, Q::None, 0},         {"flags", flags_hash, Q::None, 0},
      {"ptr", kCPointerHash, Q::None, 0},      {"str", kCStringHash, Q::None, 0},
      {"part", part_hash, Q::None, 0},         {"ints", kCIntHash, Q::None, -1},
      {"parts", part_hash, Q::None, -1},       {"tail", kCByteHash, Q::None, 0}};
  std::vector<const ClassType*> classes;
  classes.push_back(AddQuantizedClass(registry_, "cEveryKind", every_kind));
  // Fixed-width runs that end in a field no value of which can be read.
  classes.push_back(AddQuantizedClass(
      registry_, "cBrokenInt",
      {{"a", kCIntHash, Q::None, 0}, {"b", kCIntHash, Q::Int, 0}, {"c", kCByteHash, Q::None, 0}},
      "b"));
  classes.push_back(
      AddQuantizedClass(registry_, "cBrokenFloat",
                        {{"a", kCBoolHash, Q::None, 0}, {"b", kCFloatHash, Q::Float, 0}}, "b"));
  classes.push_back(AddQuantizedClass(registry_, "cWrongModes",
                                      {{"a", kCShortHash, Q::None, 0},
                                       {"b", kCVector3Hash, Q::Quat, 0},
                                       {"c", kCQuatHash, Q::Pos, 0}}));
  for (const ClassType* class_type : classes) ASSERT_NE(class_type, nullptr);

  FieldTypeCache types(registry_, core_.table);
  FieldSkipPlans plans(registry_, core_.table);
  std::mt19937 rng(77);
  uint32_t whole_objects = 0;  // of cEveryKind, read to the end
  for (uint32_t round = 0; round < 24; ++round) {
    // Random bytes, with small array counts and string lengths now and then, so that some
    // streams get through every field.
    std::vector<uint8_t> bytes(160 + rng() % 160);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(round % 2 == 0 ? rng() : rng() & 0x21);
    for (const ClassType* class_type : classes) {
      for (uint32_t length = 0; length <= bytes.size(); ++length) {
        for (const uint32_t nodes : {0u, 3u, 9u, 30u, 1u << 20}) {
          SCOPED_TRACE(testing::Message() << class_type->name.data << " round " << round
                                          << " length " << length << " nodes " << nodes);
          BitReader decode_reader(bytes.data(), length);
          BitReader skip_reader(bytes.data(), length);
          DecodeBudget decode_budget{nodes};
          DecodeBudget skip_budget{nodes};
          ValueNode* object = NewObjectValue(class_type->name_hash, 1);
          ASSERT_NE(object, nullptr);
          const bool decoded = DecodeObjectFields(*object, registry_, core_.table, *class_type,
                                                  decode_reader, &decode_budget, &types);
          ReleaseObject(object);
          PointerLog skip_pointers;
          const bool skipped =
              ValidateObjectFields(registry_, core_.table, *class_type, skip_reader, &skip_budget,
                                   &types, &skip_pointers, &plans);
          ASSERT_EQ(skipped, decoded);
          whole_objects += decoded && class_type == classes[0] ? 1 : 0;
          ASSERT_EQ(skip_reader.position, decode_reader.position);
          ASSERT_EQ(skip_reader.failed, decode_reader.failed);
          ASSERT_EQ(skip_budget.nodes_left, decode_budget.nodes_left);
          // The pointers noted are those a validation without plans notes.
          BitReader plain_reader(bytes.data(), length);
          DecodeBudget plain_budget{nodes};
          PointerLog plain_pointers;
          ASSERT_EQ(ValidateObjectFields(registry_, core_.table, *class_type, plain_reader,
                                         &plain_budget, &types, &plain_pointers, nullptr),
                    decoded);
          ASSERT_EQ(skip_pointers.ids, plain_pointers.ids);
        }
      }
    }
  }
  EXPECT_GT(whole_objects, 100u);
}
