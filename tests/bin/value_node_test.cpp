#include "bin/value_node.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "tests/bin/bin_test_support.h"

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
  // An enumeration type stores its value as a hash but keeps its own type hash.
  InitValue(node, NameHash("SomeEnumeration"), false, kCHashHash);
  EXPECT_EQ(node.kind, kCHashHash);
  EXPECT_EQ(node.type_hash, NameHash("SomeEnumeration"));
  InitValue(node, 0xAF5BE7E1, false, 0);  // a string type known only by its hash
  EXPECT_EQ(node.kind, kCStringHash);
  EXPECT_EQ(StorageTypeOf(kCPointerHash), kCHashHash);
  // Even a class hash that collides with a built-in type makes a compound object.
  ValueNode* object = NewObjectValue(kCStringHash, 7);
  ASSERT_NE(object, nullptr);
  EXPECT_TRUE(object->IsCompound());
  EXPECT_EQ(object->name, 7u);
  ReleaseObject(object);
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

// Classes and streams shared by the walk tests.
class ObjectWalkTest : public ::testing::Test {
 protected:
  void SetUp() override { nodes_before_ = ValueNodesInUse(); }
  void TearDown() override {
    ReleaseObjects(objects_);
    EXPECT_EQ(ValueNodesInUse(), nodes_before_) << "value nodes leaked";
  }

  ValueNode* NewObject(const ClassType& class_type, uint32_t id = 1) {
    ValueNode* object = NewObjectValue(class_type.name_hash, id);
    EXPECT_TRUE(objects_.Append(object));
    return object;
  }

  bool Decode(ValueNode& object, const ClassType& class_type, const std::vector<uint8_t>& bytes,
              uint32_t* bits_read = nullptr) {
    BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
    const bool decoded = DecodeObjectFields(object, registry_, core_.table, class_type, reader);
    if (bits_read != nullptr) *bits_read = reader.position;
    return decoded;
  }

  bool Encode(const ValueNode& object, const ClassType& class_type, ByteBuffer& out,
              uint32_t* bits_written = nullptr) {
    BitWriter writer(out);
    const bool encoded = EncodeObjectFields(object, registry_, core_.table, class_type, writer);
    if (bits_written != nullptr) *bits_written = writer.position;
    return encoded;
  }

  // cInner { b: cBool, n: cShort }
  // cOuter { id: cInt, inner: cInner, items: cInner[-1], tail: cByte }
  void AddOuterClasses() {
    inner_ = AddClass(registry_, "cInner", {{"b", kCBoolHash}, {"n", kCShortHash}});
    outer_ = AddClass(registry_, "cOuter",
                      {{"id", kCIntHash},
                       {"inner", NameHash("cInner")},
                       {"items", NameHash("cInner"), -1},
                       {"tail", kCByteHash}});
    ASSERT_NE(inner_, nullptr);
    ASSERT_NE(outer_, nullptr);
  }

  // id -2; inner {1, -300}; items [{0, 11}, {1, 22}]; tail 7: 98 bits.
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
  static constexpr uint32_t kOuterBits = 98;

  static std::vector<uint8_t> OuterStream() {
    ByteBuffer buffer;
    BitWriter writer(buffer);
    WriteOuterStream(writer);
    EXPECT_FALSE(writer.failed);
    EXPECT_EQ(writer.position, kOuterBits);
    return Bytes(buffer);
  }

  TypeRegistry registry_;
  CoreTypes core_;
  ValueObjectList objects_;
  ClassType* inner_ = nullptr;
  ClassType* outer_ = nullptr;

 private:
  uint32_t nodes_before_ = 0;
};

TEST_F(ObjectWalkTest, DecodesAndEncodesNestedClassesAndArraysOfClasses) {
  AddOuterClasses();
  ValueNode* object = NewObject(*outer_);
  uint32_t bits = 0;
  ASSERT_TRUE(Decode(*object, *outer_, OuterStream(), &bits));
  EXPECT_EQ(bits, kOuterBits);
  ASSERT_EQ(object->payload.children.count, 4u);

  const ValueNode* id = object->payload.children.first;
  EXPECT_EQ(id->name, NameHash("id"));
  EXPECT_EQ(id->kind, kCIntHash);
  EXPECT_EQ(id->payload.int32, -2);

  const ValueNode* inner = id->next;
  EXPECT_EQ(inner->name, NameHash("inner"));
  EXPECT_EQ(inner->kind, kCompound);
  EXPECT_EQ(inner->type_hash, NameHash("cInner"));
  ASSERT_EQ(inner->payload.children.count, 2u);
  EXPECT_EQ(Child(*inner, "b")->payload.boolean, 1);
  EXPECT_EQ(Child(*inner, "n")->payload.int16, -300);

  const ValueNode* items = inner->next;
  EXPECT_EQ(items->name, NameHash("items"));
  EXPECT_EQ(items->kind, kArray);
  EXPECT_TRUE(items->is_array);
  EXPECT_EQ(items->type_hash, NameHash("cInner"));
  ASSERT_EQ(items->payload.children.count, 2u);
  const ValueNode* first = items->payload.children.first;
  EXPECT_EQ(first->name, 0u);
  EXPECT_EQ(first->kind, kCompound);
  EXPECT_EQ(first->type_hash, NameHash("cInner"));
  EXPECT_EQ(Child(*first, "n")->payload.int16, 11);
  EXPECT_EQ(Child(*first->next, "n")->payload.int16, 22);
  EXPECT_EQ(Child(*first->next, "b")->payload.boolean, 1);

  const ValueNode* tail = items->next;
  EXPECT_EQ(tail->payload.byte, 7);
  EXPECT_EQ(tail->next, nullptr);

  ByteBuffer out;
  ASSERT_TRUE(Encode(*object, *outer_, out, &bits));
  EXPECT_EQ(bits, kOuterBits);
  EXPECT_EQ(Bytes(out), OuterStream());
}

TEST_F(ObjectWalkTest, EveryTruncationFailsAndReleasesCleanly) {
  AddOuterClasses();
  const std::vector<uint8_t> stream = OuterStream();
  for (size_t length = 0; length < stream.size(); ++length) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> cut(stream.begin(), stream.begin() + length);
    ValueNode* object = NewObject(*outer_);
    EXPECT_FALSE(Decode(*object, *outer_, cut));
    ReleaseObjects(objects_);
  }
}

TEST_F(ObjectWalkTest, PrintsTheBitRangeOfEveryField) {
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
  EXPECT_EQ(object->payload.children.count, 4u);
  EXPECT_EQ(Child(*object, "tail")->payload.byte, 7);
}

TEST_F(ObjectWalkTest, BitRangesStopAtTheFieldThatFails) {
  AddOuterClasses();
  std::vector<uint8_t> stream = OuterStream();
  stream.resize(5);  // id and 8 bits of inner
  ValueNode* object = NewObject(*outer_);
  BitReader reader(stream.data(), static_cast<uint32_t>(stream.size()));
  CStringBufferA out;
  EXPECT_FALSE(PrintObjectBitRanges(*object, registry_, core_.table, *outer_, reader, 0, "o", out));
  EXPECT_STREQ(out.data, "o.id: 0 - 32 (32)\no.inner.b: 32 - 33 (1)\n");
}

TEST_F(ObjectWalkTest, ArrayOfUnknownElementTypeWorksOnlyWhenEmpty) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"list", NameHash("cUnknown"), -1}});
  ASSERT_NE(holder, nullptr);
  ValueNode* object = NewObject(*holder);
  uint32_t bits = 0;
  ASSERT_TRUE(Decode(*object, *holder, {0x00}, &bits));
  EXPECT_EQ(bits, 5u);
  const ValueNode* list = Child(*object, "list");
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->IsArray());
  EXPECT_EQ(list->type_hash, NameHash("cUnknown"));
  ByteBuffer out;
  ASSERT_TRUE(Encode(*object, *holder, out, &bits));
  EXPECT_EQ(bits, 5u);
  EXPECT_EQ(Bytes(out), std::vector<uint8_t>{0x00});

  ASSERT_NE(AppendChildValue(*object->payload.children.first, 0, NameHash("cUnknown"), false, 0),
            nullptr);
  ByteBuffer failed;
  EXPECT_FALSE(Encode(*object, *holder, failed));
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteVarUInt(1);
  writer.WriteWord(0);
  EXPECT_FALSE(Decode(*NewObject(*holder), *holder, Bytes(buffer)));
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
  uint32_t bits = 0;
  ASSERT_TRUE(Decode(*object, *holder, Bytes(buffer), &bits));
  EXPECT_EQ(bits, 7u + 32u);
  const ValueNode* v = Child(*object, "v");
  ASSERT_EQ(v->payload.children.count, 2u);
  EXPECT_EQ(v->payload.children.first->kind, kCShortHash);
  EXPECT_EQ(v->payload.children.first->name, 0u);
  EXPECT_EQ(v->payload.children.first->payload.int16, 0x1234);
  EXPECT_EQ(v->payload.children.last->payload.int16, static_cast<int16_t>(0x8765));

  ByteBuffer out;
  ASSERT_TRUE(Encode(*object, *holder, out));
  EXPECT_EQ(Bytes(out), Bytes(buffer));
}

TEST_F(ObjectWalkTest, ValueThatItsQuantizationCannotStoreFailsTheEncode) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"n", kCIntHash}});
  ASSERT_NE(holder, nullptr);
  holder->fields[0].quantization_mode = static_cast<uint32_t>(QuantizationMode::DynValInt);
  ValueNode* object = NewObject(*holder);
  ValueNode* n = AppendChildValue(*object, NameHash("n"), kCIntHash, false, 0);
  n->payload.int32 = 5;
  ByteBuffer out;
  EXPECT_TRUE(Encode(*object, *holder, out));
  n->payload.int32 = -1;
  ByteBuffer failed;
  EXPECT_FALSE(Encode(*object, *holder, failed));
}

TEST_F(ObjectWalkTest, ClassesThatContainThemselvesFailCleanly) {
  ClassType* self = AddClass(registry_, "cSelf", {{"self", NameHash("cSelf")}});
  ClassType* ping = AddClass(registry_, "cPing", {{"pong", NameHash("cPong")}});
  ASSERT_NE(AddClass(registry_, "cPong", {{"value", kCBoolHash}, {"ping", NameHash("cPing")}}),
            nullptr);
  EXPECT_FALSE(Decode(*NewObject(*self), *self, {}));
  EXPECT_FALSE(Decode(*NewObject(*self), *self, std::vector<uint8_t>(64, 0xFF)));
  const std::vector<uint8_t> bytes(1024, 0);
  EXPECT_FALSE(Decode(*NewObject(*ping), *ping, bytes));
  BitReader reader(bytes.data(), static_cast<uint32_t>(bytes.size()));
  CStringBufferA out;
  EXPECT_FALSE(
      PrintObjectBitRanges(*NewObject(*ping), registry_, core_.table, *ping, reader, 0, "o", out));
}

TEST_F(ObjectWalkTest, SelfContainingArrayElementsFormTrees) {
  // cTree { children: cTree[-1] } is fine as long as the counts end.
  ClassType* tree = AddClass(registry_, "cTree", {{"children", NameHash("cTree"), -1}});
  ASSERT_NE(tree, nullptr);
  ByteBuffer buffer;
  BitWriter writer(buffer);
  writer.WriteVarUInt(2);  // root: two children
  writer.WriteVarUInt(1);  //   first: one child
  writer.WriteVarUInt(0);  //     leaf
  writer.WriteVarUInt(0);  //   second: leaf
  ValueNode* object = NewObject(*tree);
  uint32_t bits = 0;
  ASSERT_TRUE(Decode(*object, *tree, Bytes(buffer), &bits));
  EXPECT_EQ(bits, writer.position);
  const ValueNode* children = Child(*object, "children");
  ASSERT_EQ(children->payload.children.count, 2u);
  ByteBuffer out;
  ASSERT_TRUE(Encode(*object, *tree, out));
  EXPECT_EQ(Bytes(out), Bytes(buffer));
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

TEST_F(ObjectWalkTest, NestingUpToTheLimitDecodesAndEncodes) {
  ClassType* top = AddLevelChain(registry_, kMaxNestingDepth);
  ASSERT_NE(top, nullptr);
  ValueNode* object = NewObject(*top);
  ASSERT_TRUE(Decode(*object, *top, {0x01}));
  ByteBuffer out;
  uint32_t bits = 0;
  ASSERT_TRUE(Encode(*object, *top, out, &bits));
  EXPECT_EQ(bits, 1u);
  EXPECT_EQ(Bytes(out), std::vector<uint8_t>{0x01});
}

TEST_F(ObjectWalkTest, NestingPastTheLimitFailsCleanly) {
  for (uint32_t levels : {kMaxNestingDepth + 1, 300u}) {
    SCOPED_TRACE(levels);
    TypeRegistry registry;
    ClassType* top = AddLevelChain(registry, levels);
    ASSERT_NE(top, nullptr);
    ValueNode* object = NewObject(*top);
    std::vector<uint8_t> bytes{0x01};
    BitReader reader(bytes.data(), 1);
    EXPECT_FALSE(DecodeObjectFields(*object, registry, core_.table, *top, reader));

    // The same depth built by hand does not encode either.
    ReleaseObjects(objects_);
    object = NewObject(*top);
    ValueNode* parent = object;
    char name[32];
    for (uint32_t i = 1; i <= levels; ++i) {
      std::snprintf(name, sizeof(name), "cLevel%u", i);
      parent = AppendChildValue(*parent, NameHash("next"), NameHash(name), false, 0);
      ASSERT_NE(parent, nullptr);
    }
    ASSERT_NE(AppendChildValue(*parent, NameHash("flag"), kCBoolHash, false, 0), nullptr);
    ByteBuffer out;
    BitWriter writer(out);
    EXPECT_FALSE(EncodeObjectFields(*object, registry, core_.table, *top, writer));
    ReleaseObjects(objects_);
  }
}

TEST_F(ObjectWalkTest, BitlessArraysDecodeButForgedHugeCountsFail) {
  AddClass(registry_, "cEmpty", {});
  ClassType* holder = AddClass(registry_, "cHolder", {{"list", NameHash("cEmpty"), -1}});
  ASSERT_NE(holder, nullptr);
  ByteBuffer huge, thousand;
  BitWriter(huge).WriteVarUInt(0x7FFFFFFF);
  BitWriter(thousand).WriteVarUInt(1000);
  EXPECT_FALSE(Decode(*NewObject(*holder), *holder, Bytes(huge)));
  ValueNode* object = NewObject(*holder);
  ASSERT_TRUE(Decode(*object, *holder, Bytes(thousand)));
  EXPECT_EQ(Child(*object, "list")->payload.children.count, 1000u);
  ByteBuffer out;
  ASSERT_TRUE(Encode(*object, *holder, out));
  EXPECT_EQ(Bytes(out), Bytes(thousand));
}

TEST_F(ObjectWalkTest, FanOfBitlessClassesFailsWithoutExhaustingMemory) {
  // cFan0 holds two cFan1, each two cFan2, ...: 2^41 values from no bits at all.
  char name[32];
  char next[32];
  for (int i = 0; i < 40; ++i) {
    std::snprintf(name, sizeof(name), "cFan%d", i);
    std::snprintf(next, sizeof(next), "cFan%d", i + 1);
    ASSERT_NE(AddClass(registry_, name, {{"a", NameHash(next)}, {"b", NameHash(next)}}), nullptr);
  }
  ASSERT_NE(AddClass(registry_, "cFan40", {}), nullptr);
  const ClassType* top = registry_.Find(NameHash("cFan0"));
  ValueNode* object = NewObject(*top);
  EXPECT_FALSE(Decode(*object, *top, {}));
}

// How an object of cSample { a: cInt, list: cInt[-1], inner: cInner2 { v: cByte } } is built.
struct SampleShape {
  bool has_a = true, a_array = false, list_array = true, reversed = false, extra_child = false;
  uint32_t a_type = kCIntHash, a_storage = 0, list_type = kCIntHash, third_type = kCIntHash;
  uint32_t inner_storage = 0, inner_field = NameHash("v");
};

class EncodeSampleTest : public ObjectWalkTest {
 protected:
  void SetUp() override {
    ObjectWalkTest::SetUp();
    inner_ = AddClass(registry_, "cInner2", {{"v", kCByteHash}});
    sample_ = AddClass(registry_, "cSample",
                       {{"a", kCIntHash}, {"list", kCIntHash, -1}, {"inner", NameHash("cInner2")}});
    ASSERT_NE(sample_, nullptr);
  }

  ValueNode* Build(const SampleShape& shape) {
    ValueNode* object = NewObject(*sample_);
    auto add_a = [&] {
      if (!shape.has_a) return;
      ValueNode* a =
          AppendChildValue(*object, NameHash("a"), shape.a_type, shape.a_array, shape.a_storage);
      if (!shape.a_array) a->payload.int32 = -5;
    };
    auto add_list = [&] {
      ValueNode* list =
          AppendChildValue(*object, NameHash("list"), shape.list_type, shape.list_array, 0);
      for (int32_t i = 1; i <= 3 && shape.list_array; ++i) {
        const uint32_t type = i == 3 ? shape.third_type : kCIntHash;
        AppendChildValue(*list, 0, type, false, 0)->payload.int32 = i * 100;
      }
    };
    auto add_inner = [&] {
      ValueNode* inner = AppendChildValue(*object, NameHash("inner"), NameHash("cInner2"), false,
                                          shape.inner_storage);
      if (shape.inner_storage != 0) return;
      AppendChildValue(*inner, shape.inner_field, kCByteHash, false, 0)->payload.byte = -1;
    };
    if (shape.reversed) {
      add_inner();
      add_list();
      add_a();
      return object;
    }
    add_a();
    if (shape.extra_child) {
      AppendChildValue(*object, NameHash("zzz"), kCIntHash, false, 0)->payload.int32 = 99;
    }
    add_list();
    add_inner();
    return object;
  }

  ClassType* sample_ = nullptr;
};

TEST_F(EncodeSampleTest, WritesFieldsInDeclarationOrder) {
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
    ByteBuffer out;
    ASSERT_TRUE(Encode(*Build(shape), *sample_, out));
    EXPECT_EQ(Bytes(out), Bytes(expected));
  }
}

TEST_F(EncodeSampleTest, FailsOnMissingOrMistypedFields) {
  const SampleShape shapes[] = {{.has_a = false},
                                {.a_array = true},
                                {.list_array = false},
                                {.a_type = kCShortHash},
                                {.a_storage = kCHashHash},
                                {.list_type = kCShortHash},
                                {.third_type = kCHashHash},
                                {.inner_storage = kCIntHash},
                                {.inner_field = NameHash("w")}};
  for (const SampleShape& shape : shapes) {
    ByteBuffer out;
    EXPECT_FALSE(Encode(*Build(shape), *sample_, out)) << &shape - shapes;
  }
}

TEST_F(EncodeSampleTest, FailsWhenANestedClassIsNotRegistered) {
  ClassType* holder = AddClass(registry_, "cHolder", {{"x", NameHash("cGone")}});
  ASSERT_NE(holder, nullptr);
  ValueNode* object = NewObject(*holder);
  ValueNode* x = AppendChildValue(*object, NameHash("x"), NameHash("cGone"), false, 0);
  ASSERT_NE(AppendChildValue(*x, NameHash("v"), kCByteHash, false, 0), nullptr);
  ByteBuffer out;
  EXPECT_FALSE(Encode(*object, *holder, out));
}

}  // namespace
