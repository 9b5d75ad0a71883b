#include "bin/bin_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "tests/bin/bin_test_support.h"

namespace {

// One class cA { xy: cInt } and one object of it, ID 7, xy = 5.
const std::vector<uint8_t> kSmallFile = {
    0x00, 0x00, 0x00, 0x00, 0x76, 0x30, 0x30, 0x32,  // header
    0x01, 0x00, 0x00, 0x00, 0xC2, 0xB1, 0x20, 0x4F, 0x8C, 0x31, 0x00, 0x00,
    0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x21, 0x5E, 0x5E, 0x80, 0x07,
    0x1E, 0x00, 0x4B, 0xD0, 0xA0, 0x08, 0x00, 0x00,  // type information, 249 bits and padding
    0x9E, 0x18, 0x63, 0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00,  // the object
};
constexpr uint32_t kSmallFileObjectsOffset = 40;
constexpr uint32_t kClassAHash = 0x0063189E;
constexpr uint32_t kFieldXyHash = 0x00781E01;

const std::vector<uint8_t> kEmptyFile = {0x00, 0x00, 0x00, 0x00, 0x76, 0x30,
                                         0x30, 0x32, 0x00, 0x00, 0x00, 0x00};

std::vector<uint8_t> Bytes(const ByteBuffer& buffer) {
  return std::vector<uint8_t>(buffer.data, buffer.data + buffer.size);
}

class BinFileTest : public ::testing::Test {
 protected:
  void SetUp() override { nodes_before_ = ValueNodesInUse(); }
  void TearDown() override {
    ReleaseObjects(objects_);
    EXPECT_EQ(ValueNodesInUse(), nodes_before_) << "value nodes leaked";
  }

  BinLoadResult Load(const std::vector<uint8_t>& bytes) {
    return LoadBinFile(bytes.data(), static_cast<uint32_t>(bytes.size()), registry_, core_.table,
                       objects_, ids_);
  }

  TypeRegistry registry_;
  CoreTypes core_;
  ValueObjectList objects_;
  ObjectIdTable ids_;

 private:
  uint32_t nodes_before_ = 0;
};

TEST_F(BinFileTest, SmallFileLoadsOneClassAndOneObjectAndWritesBackTheSameBytes) {
  ASSERT_EQ(Load(kSmallFile), BinLoadResult::kOk);
  ASSERT_EQ(registry_.count(), 1u);
  const ClassType* class_a = registry_.Find(kClassAHash);
  ASSERT_NE(class_a, nullptr);
  EXPECT_STREQ(class_a->name.data, "cA");
  EXPECT_EQ(class_a->extra_word, 0u);
  ASSERT_EQ(class_a->field_count, 1u);
  EXPECT_STREQ(class_a->fields[0].name.data, "xy");
  EXPECT_EQ(class_a->fields[0].name_hash, kFieldXyHash);
  EXPECT_EQ(class_a->fields[0].type_hash, kCIntHash);

  ASSERT_EQ(objects_.count, 1u);
  const ValueNode* object = objects_.head;
  EXPECT_EQ(object->name, 7u);
  EXPECT_EQ(object->type_hash, kClassAHash);
  EXPECT_TRUE(object->IsCompound());
  ASSERT_EQ(object->payload.children.count, 1u);
  const ValueNode* xy = object->payload.children.first;
  EXPECT_EQ(xy->name, kFieldXyHash);
  EXPECT_EQ(xy->kind, kCIntHash);
  EXPECT_EQ(xy->payload.int32, 5);

  ASSERT_EQ(ids_.count(), 1u);
  EXPECT_EQ(*ids_.Find(7), object);

  ReferencedTypeSet types;
  ASSERT_NE(types.FindOrInsert(kClassAHash), nullptr);
  ByteBuffer out;
  ASSERT_TRUE(WriteBinTypeSection(registry_, types, out));
  EXPECT_EQ(out.size, kSmallFileObjectsOffset);
  ASSERT_TRUE(WriteBinObjects(registry_, core_.table, objects_, out));
  EXPECT_EQ(Bytes(out), kSmallFile);
}

TEST_F(BinFileTest, EveryTruncationOfTheSmallFileFailsOrLoadsLess) {
  for (uint32_t length = 0; length < kSmallFile.size(); ++length) {
    SCOPED_TRACE(length);
    TypeRegistry registry;
    ObjectIdTable ids;
    const BinLoadResult result =
        LoadBinFile(kSmallFile.data(), length, registry, core_.table, objects_, ids);
    if (length < 8) {
      EXPECT_EQ(result, BinLoadResult::kUnexpectedFormat);
    } else if (length < 40) {
      EXPECT_EQ(result, BinLoadResult::kTypesFailed);
    } else if (length < 44) {
      EXPECT_EQ(result, BinLoadResult::kOk);
      EXPECT_EQ(registry.count(), 1u);
    } else {
      EXPECT_EQ(result, BinLoadResult::kObjectsFailed);
    }
    EXPECT_EQ(objects_.count, 0u);
    EXPECT_EQ(ids.count(), 0u);
  }
}

TEST_F(BinFileTest, EmptyDocumentIsTwelveBytesAndLoadsNothing) {
  ReferencedTypeSet types;
  ByteBuffer out;
  ASSERT_TRUE(out.Grow(100));
  std::memset(out.data, 0xAB, 100);
  out.size = 100;
  ASSERT_EQ(WriteBinFile(registry_, types, core_.table, objects_, out), BinWriteResult::kOk);
  EXPECT_EQ(Bytes(out), kEmptyFile);
  ASSERT_EQ(Load(kEmptyFile), BinLoadResult::kOk);
  EXPECT_EQ(registry_.count(), 0u);
  EXPECT_EQ(objects_.count, 0u);
  uint32_t offset = 0;
  ASSERT_EQ(LoadBinTypes(kEmptyFile.data(), 12, registry_, offset), BinLoadResult::kOk);
  EXPECT_EQ(offset, 12u);
}

TEST_F(BinFileTest, HeaderCheckIsExact) {
  EXPECT_TRUE(CheckBinHeader(kSmallFile.data(), 8));
  EXPECT_FALSE(CheckBinHeader(kSmallFile.data(), 7));
  EXPECT_FALSE(CheckBinHeader(nullptr, 8));
  for (uint32_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    std::vector<uint8_t> bytes = kSmallFile;
    bytes[i] ^= 0x01;
    EXPECT_FALSE(CheckBinHeader(bytes.data(), static_cast<uint32_t>(bytes.size())));
    EXPECT_EQ(Load(bytes), BinLoadResult::kUnexpectedFormat);
  }
}

TEST_F(BinFileTest, TrailingBitsShorterThanAHashAreIgnoredButAHashNeedsItsObjectId) {
  for (uint32_t extra = 1; extra <= 7; ++extra) {
    SCOPED_TRACE(extra);
    std::vector<uint8_t> bytes = kSmallFile;
    const std::vector<uint8_t> hash = {0x9E, 0x18, 0x63, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.end(), hash.begin(), hash.begin() + extra);
    TypeRegistry registry;
    ObjectIdTable ids;
    EXPECT_EQ(LoadBinFile(bytes.data(), static_cast<uint32_t>(bytes.size()), registry, core_.table,
                          objects_, ids),
              extra < 4 ? BinLoadResult::kOk : BinLoadResult::kObjectsFailed);
    EXPECT_EQ(objects_.count, extra < 4 ? 1u : 0u);
    EXPECT_EQ(ids.Find(7) != nullptr, extra < 4);
    ReleaseObjects(objects_);
  }
}

TEST_F(BinFileTest, UnknownClassHashOrFailedReaderLoadsNoObjects) {
  std::vector<uint8_t> bytes = kSmallFile;
  bytes[kSmallFileObjectsOffset] = 0x9F;
  EXPECT_EQ(Load(bytes), BinLoadResult::kObjectsFailed);
  EXPECT_EQ(objects_.count, 0u);
  BitReader reader(kSmallFile.data(), kMaxStreamBytes);
  ASSERT_TRUE(reader.failed);
  EXPECT_FALSE(LoadObjects(reader, registry_, core_.table, objects_, ids_));
}

TEST_F(BinFileTest, LaterObjectWithTheSameIdTakesTheEntry) {
  std::vector<uint8_t> bytes = kSmallFile;
  const std::vector<uint8_t> second = {0x9E, 0x18, 0x63, 0x00, 0x07, 0x00,
                                       0x00, 0x00, 0x06, 0x00, 0x00, 0x00};
  bytes.insert(bytes.end(), second.begin(), second.end());
  ASSERT_EQ(Load(bytes), BinLoadResult::kOk);
  ASSERT_EQ(objects_.count, 2u);
  EXPECT_EQ(ids_.count(), 1u);
  ASSERT_NE(ids_.Find(7), nullptr);
  EXPECT_EQ(*ids_.Find(7), objects_.tail);
  EXPECT_EQ(objects_.tail->payload.children.first->payload.int32, 6);
}

class TypePatchTest : public BinFileTest {
 protected:
  void SetUp() override {
    BinFileTest::SetUp();
    state_ = AddClass(registry_, "cGameObjectState",
                      {{"ComponentTypes", kCIntHash, -1}, {"Other", kCIntHash}});
    data_ = AddClass(registry_, "cGameObjectConstData", {{"ExtensionTypes", kCIntHash, -1}});
    event_ = AddClass(registry_, "cInjectComponentEvent", {{"ComponentTypes", kCHashHash, -1}});
    ASSERT_TRUE(state_ != nullptr && data_ != nullptr && event_ != nullptr);
  }

  ClassType* state_ = nullptr;
  ClassType* data_ = nullptr;
  ClassType* event_ = nullptr;
};

TEST_F(TypePatchTest, SwitchesOnlyTheListFields) {
  for (const auto direction : {TypePatchDirection::kToStringHash, TypePatchDirection::kToStringHash,
                               TypePatchDirection::kToInt}) {
    TypePatch(registry_, direction);
    const uint32_t list_type =
        direction == TypePatchDirection::kToInt ? kCIntHash : kCStringHashHash;
    EXPECT_EQ(state_->fields[0].type_hash, list_type);
    EXPECT_EQ(state_->fields[0].array_size, -1);
    EXPECT_EQ(state_->fields[1].type_hash, kCIntHash);
    EXPECT_EQ(data_->fields[0].type_hash, list_type);
    EXPECT_EQ(event_->fields[0].type_hash, kCHashHash);
  }
}

TEST_F(TypePatchTest, WrittenFilesDeclareIntAndLoadedFilesStringHash) {
  TypePatch(registry_, TypePatchDirection::kToStringHash);
  ValueNode* object = NewObjectValue(state_->name_hash, 42);
  ASSERT_TRUE(objects_.Append(object));
  ValueNode* list =
      AppendChildValue(*object, NameHash("ComponentTypes"), kCStringHashHash, true, 0);
  AppendChildValue(*list, 0, kCStringHashHash, false, 0)->payload.word = NameHash("cFoo");
  AppendChildValue(*object, NameHash("Other"), kCIntHash, false, 0)->payload.int32 = 3;
  ReferencedTypeSet types;
  ASSERT_NE(types.FindOrInsert(state_->name_hash), nullptr);
  ByteBuffer out;
  ASSERT_EQ(WriteBinFile(registry_, types, core_.table, objects_, out), BinWriteResult::kOk);
  EXPECT_EQ(state_->fields[0].type_hash, kCStringHashHash);

  const std::vector<uint8_t> file = Bytes(out);
  TypeRegistry raw;
  ASSERT_NE(LoadTypeInfo(raw, file.data() + 8, static_cast<uint32_t>(file.size() - 8)), 0u);
  ASSERT_NE(raw.Find(state_->name_hash), nullptr);
  EXPECT_EQ(raw.Find(state_->name_hash)->fields[0].type_hash, kCIntHash);

  TypeRegistry loaded;
  ObjectIdTable ids;
  OwnedObjectList objects;
  ASSERT_EQ(LoadBinFile(file.data(), static_cast<uint32_t>(file.size()), loaded, core_.table,
                        objects, ids),
            BinLoadResult::kOk);
  EXPECT_EQ(loaded.Find(state_->name_hash)->fields[0].type_hash, kCStringHashHash);
  ASSERT_EQ(objects.count, 1u);
  const ValueNode* types_list = Child(*objects.head, "ComponentTypes");
  ASSERT_EQ(types_list->payload.children.count, 1u);
  EXPECT_EQ(types_list->payload.children.first->kind, kCHashHash);
  EXPECT_EQ(types_list->payload.children.first->type_hash, kCStringHashHash);
  EXPECT_EQ(types_list->payload.children.first->payload.word, NameHash("cFoo"));
  ByteBuffer again;
  ASSERT_EQ(WriteBinFile(loaded, types, core_.table, objects, again), BinWriteResult::kOk);
  EXPECT_EQ(Bytes(again), file);
}

TEST_F(BinFileTest, MissingTypeFailsTheTypesAndUnencodableObjectFailsTheObjects) {
  TypeRegistry registry;
  ClassType* state =
      AddClass(registry, "cGameObjectState", {{"ComponentTypes", kCStringHashHash, -1}});
  ASSERT_NE(state, nullptr);
  ReferencedTypeSet types;
  ASSERT_NE(types.FindOrInsert(state->name_hash), nullptr);
  ASSERT_NE(types.FindOrInsert(NameHash("SomeEnumeration")), nullptr);
  ByteBuffer out;
  EXPECT_EQ(WriteBinFile(registry, types, core_.table, objects_, out),
            BinWriteResult::kTypesFailed);
  EXPECT_EQ(state->fields[0].type_hash, kCStringHashHash);

  ASSERT_NE(AddClass(registry_, "cA", {{"xy", kCIntHash}}), nullptr);
  ASSERT_TRUE(objects_.Append(NewObjectValue(kClassAHash, 7)));  // no xy
  ReferencedTypeSet a_types;
  ASSERT_NE(a_types.FindOrInsert(kClassAHash), nullptr);
  EXPECT_EQ(WriteBinFile(registry_, a_types, core_.table, objects_, out),
            BinWriteResult::kObjectsFailed);

  ReleaseObjects(objects_);
  ASSERT_TRUE(objects_.Append(NewObjectValue(NameHash("cNotThere"), 7)));
  EXPECT_EQ(WriteBinFile(registry_, a_types, core_.table, objects_, out),
            BinWriteResult::kObjectsFailed);
}

TEST_F(BinFileTest, ClassRecordsComeInSetOrderAndOncePerType) {
  const char* const kNames[] = {"cZebra", "cA", "cMiddle", "cB", "cAnother"};
  ReferencedTypeSet types;
  for (const char* name : kNames) {
    ASSERT_NE(AddClass(registry_, name, {}), nullptr);
    ASSERT_NE(types.FindOrInsert(NameHash(name)), nullptr);
    ASSERT_NE(types.FindOrInsert(NameHash(name)), nullptr);
    ValueNode* object = NewObjectValue(NameHash(name), NameHash(name));
    ASSERT_TRUE(objects_.Append(object));
  }
  ByteBuffer out;
  ASSERT_EQ(WriteBinFile(registry_, types, core_.table, objects_, out), BinWriteResult::kOk);

  std::vector<uint32_t> expected;
  types.ForEach([&](uint32_t key, const uint8_t&) { expected.push_back(key); });

  BitReader reader(out.data + 8, out.size - 8);
  ASSERT_EQ(reader.Read(32), 5u);
  std::vector<uint32_t> written;
  for (int i = 0; i < 5; ++i) {
    ClassType record;
    ASSERT_TRUE(ReadClassRecord(record, reader));
    written.push_back(record.name_hash);
  }
  EXPECT_EQ(written, expected);

  const uint32_t objects_start = (reader.position + 7) / 8;
  EXPECT_EQ(out.size - 8 - objects_start, 5u * 8u);
  BitReader objects(out.data + 8 + objects_start, out.size - 8 - objects_start);
  for (const char* name : kNames) {
    EXPECT_EQ(objects.Read(32), NameHash(name));
    EXPECT_EQ(objects.Read(32), NameHash(name));
  }
}

void ExpectSameTree(const ValueNode& a, const ValueNode& b) {
  ASSERT_EQ(a.kind, b.kind);
  ASSERT_EQ(a.type_hash, b.type_hash);
  ASSERT_EQ(a.name, b.name);
  ASSERT_EQ(a.is_array, b.is_array);
  if (a.IsArray() || a.IsCompound()) {
    ASSERT_EQ(a.payload.children.count, b.payload.children.count);
    const ValueNode* y = b.payload.children.first;
    for (const ValueNode* x = a.payload.children.first; x != nullptr; x = x->next) {
      ExpectSameTree(*x, *y);
      y = y->next;
    }
  } else if (a.kind == kCStringHash) {
    EXPECT_STREQ(a.payload.text.text, b.payload.text.text);
  } else {
    EXPECT_EQ(std::memcmp(&a.payload, &b.payload, sizeof(a.payload)), 0);
  }
}

TEST_F(BinFileTest, RandomObjectsSurviveWriteAndLoad) {
  ASSERT_NE(AddClass(registry_, "cPart", {{"n", kCShortHash}, {"s", kCStringHash}}), nullptr);
  ClassType* random = AddClass(registry_, "cRandom",
                               {{"b", kCBoolHash},
                                {"f", kCFloatHash},
                                {"v", kCVector3Hash},
                                {"h", kCHashHash},
                                {"t", kCStringHash},
                                {"list", kCIntHash, -1},
                                {"part", NameHash("cPart")},
                                {"parts", NameHash("cPart"), 4}});
  ASSERT_NE(random, nullptr);
  std::mt19937 rng(20240601);
  auto word = [&] { return static_cast<uint32_t>(rng()); };
  auto finite = [&] { return std::uniform_real_distribution<float>(-1e6f, 1e6f)(rng); };
  auto add = [&](ValueNode& parent, const char* name, uint32_t type, bool array = false) {
    return AppendChildValue(parent, name == nullptr ? 0 : NameHash(name), type, array, 0);
  };
  auto text = [&](ValueNode& node) {
    char buffer[40];
    const uint32_t length = word() % 39;
    for (uint32_t k = 0; k < length; ++k) buffer[k] = static_cast<char>('!' + word() % 90);
    buffer[length] = '\0';
    node.payload.text.AssignText(buffer);
  };
  auto add_part = [&](ValueNode& parent, const char* name) {
    ValueNode* part = add(parent, name, NameHash("cPart"));
    add(*part, "n", kCShortHash)->payload.int16 = static_cast<int16_t>(word());
    text(*add(*part, "s", kCStringHash));
  };
  for (uint32_t n = 0; n < 60; ++n) {
    ValueNode* object = NewObjectValue(random->name_hash, word());
    ASSERT_TRUE(objects_.Append(object));
    add(*object, "b", kCBoolHash)->payload.boolean = word() & 1;
    add(*object, "f", kCFloatHash)->payload.floats[0] = finite();
    ValueNode* v = add(*object, "v", kCVector3Hash);
    for (int k = 0; k < 3; ++k) v->payload.floats[k] = finite();
    add(*object, "h", kCHashHash)->payload.word = word();
    text(*add(*object, "t", kCStringHash));
    ValueNode* list = add(*object, "list", kCIntHash, true);
    for (uint32_t k = word() % 6; k > 0; --k) {
      add(*list, nullptr, kCIntHash)->payload.int32 = static_cast<int32_t>(word());
    }
    add_part(*object, "part");
    ValueNode* parts = add(*object, "parts", NameHash("cPart"), true);
    for (uint32_t k = word() % 4; k > 0; --k) add_part(*parts, nullptr);
  }

  ReferencedTypeSet types;
  ASSERT_NE(types.FindOrInsert(random->name_hash), nullptr);
  ASSERT_NE(types.FindOrInsert(NameHash("cPart")), nullptr);
  ByteBuffer out;
  ASSERT_EQ(WriteBinFile(registry_, types, core_.table, objects_, out), BinWriteResult::kOk);
  const std::vector<uint8_t> file = Bytes(out);
  TypeRegistry loaded;
  ObjectIdTable ids;
  OwnedObjectList objects;
  ASSERT_EQ(LoadBinFile(file.data(), static_cast<uint32_t>(file.size()), loaded, core_.table,
                        objects, ids),
            BinLoadResult::kOk);
  ASSERT_EQ(objects.count, objects_.count);
  const ValueNode* copy = objects.head;
  for (const ValueNode* original = objects_.head; original != nullptr; original = original->next) {
    ExpectSameTree(*original, *copy);
    copy = copy->next;
  }
  ByteBuffer again;
  ASSERT_EQ(WriteBinFile(loaded, types, core_.table, objects, again), BinWriteResult::kOk);
  EXPECT_EQ(Bytes(again), file);

  // The two-pass reading: the scan keeps each object's class hash and ID, the second pass
  // brings each object's fields back, one object at a time.
  uint32_t offset = 0;
  ASSERT_EQ(LoadBinTypes(file.data(), static_cast<uint32_t>(file.size()), loaded, offset),
            BinLoadResult::kOk);
  const uint32_t stream_size = static_cast<uint32_t>(file.size()) - offset;
  ScannedObjectList scanned = {{1, 2}};  // emptied by the scan
  BitReader scan(file.data() + offset, stream_size);
  ASSERT_TRUE(ScanObjects(scan, loaded, core_.table, scanned));
  ASSERT_EQ(scanned.size(), objects_.count);
  const ValueNode* original = objects_.head;
  BitReader second(file.data() + offset, stream_size);
  for (const ScannedObject& object : scanned) {
    EXPECT_EQ(object.class_hash, original->type_hash);
    EXPECT_EQ(object.id, original->name);
    EXPECT_EQ(second.Read(32), object.class_hash);
    EXPECT_EQ(second.Read(32), object.id);
    ValueNode* decoded = NewObjectValue(object.class_hash, object.id);
    ASSERT_NE(decoded, nullptr);
    EXPECT_TRUE(
        DecodeObjectFields(*decoded, loaded, core_.table, *loaded.Find(object.class_hash), second));
    ExpectSameTree(*original, *decoded);
    ReleaseObject(decoded);
    original = original->next;
  }
  EXPECT_EQ(original, nullptr);

  // Scanning fails exactly where loading fails, and stops at the same bit, wherever the stream
  // is cut; a failed scan keeps nothing.
  for (uint32_t length = 0; length <= stream_size; ++length) {
    SCOPED_TRACE(length);
    OwnedObjectList full_objects;
    ObjectIdTable full_ids;
    ScannedObjectList scan_objects;
    BitReader full_reader(file.data() + offset, length);
    BitReader scan_reader(file.data() + offset, length);
    const bool full = LoadObjects(full_reader, loaded, core_.table, full_objects, full_ids);
    ASSERT_EQ(ScanObjects(scan_reader, loaded, core_.table, scan_objects), full);
    EXPECT_EQ(scan_reader.position, full_reader.position);
    EXPECT_EQ(scan_objects.size(), full_objects.count);
  }
}

}  // namespace

namespace {

// The scan notes every cPointer value in stream order, in fields, arrays and nested classes
// alike (a cHash with the same bits is not one), and where each object's pointers begin. There
// are objects enough for the lists to be given room by the rate of the first ones.
TEST_F(BinFileTest, ScanNotesEveryPointerInStreamOrder) {
  const uint32_t inner = NameHash("cInner");
  ASSERT_NE(AddClass(registry_, "cInner", {{"Ref", kCPointerHash}, {"Hash", kCHashHash}}), nullptr);
  ASSERT_NE(AddClass(registry_, "cOuter",
                     {{"Target", kCPointerHash},
                      {"Refs", kCPointerHash, -1},
                      {"Parts", inner, -1},
                      {"Name", kCStringHash}}),
            nullptr);
  const uint32_t outer = NameHash("cOuter");
  ByteBuffer stream;
  BitWriter writer(stream);
  std::vector<uint32_t> expected_ids;
  std::vector<uint32_t> expected_starts;
  constexpr uint32_t kObjects = 3000;
  for (uint32_t object_id = 1; object_id <= kObjects; ++object_id) {
    expected_starts.push_back(static_cast<uint32_t>(expected_ids.size()));
    ValueNode* object = NewObjectValue(outer, object_id);
    ASSERT_NE(object, nullptr);
    ASSERT_TRUE(objects_.Append(object));
    AppendChildValue(*object, NameHash("Target"), kCPointerHash, false, 0)->payload.word =
        100 + object_id;
    expected_ids.push_back(100 + object_id);
    ValueNode* refs = AppendChildValue(*object, NameHash("Refs"), kCPointerHash, true, 0);
    for (uint32_t i = 0; i < (object_id - 1) % 4; ++i) {  // none in the first object
      AppendChildValue(*refs, 0, kCPointerHash, false, 0)->payload.word = 200 + i;
      expected_ids.push_back(200 + i);
    }
    ValueNode* parts = AppendChildValue(*object, NameHash("Parts"), inner, true, 0);
    if (object_id % 500 == 2) {
      ValueNode* part = AppendChildValue(*parts, 0, inner, false, 0);
      AppendChildValue(*part, NameHash("Ref"), kCPointerHash, false, 0)->payload.word = 0;
      AppendChildValue(*part, NameHash("Hash"), kCHashHash, false, 0)->payload.word = 999;
      expected_ids.push_back(0);
    }
    AppendChildValue(*object, NameHash("Name"), kCStringHash, false, 0)
        ->payload.text.AssignText("x");
    ASSERT_TRUE(WriteBinObject(registry_, core_.table, *object, writer));
  }
  ASSERT_FALSE(writer.failed);

  ScannedObjectList scanned;
  PointerLog pointers;
  BitReader reader(stream.data, stream.size);
  ASSERT_TRUE(ScanObjects(reader, registry_, core_.table, scanned, &pointers));
  ASSERT_EQ(scanned.size(), kObjects);
  for (uint32_t i = 0; i < kObjects; ++i) {
    EXPECT_EQ(scanned[i].class_hash, outer);
    EXPECT_EQ(scanned[i].id, i + 1);
  }
  EXPECT_TRUE(pointers.complete);
  EXPECT_EQ(std::vector<uint32_t>(pointers.ids.begin(), pointers.ids.end()), expected_ids);
  EXPECT_EQ(std::vector<uint32_t>(pointers.object_starts.begin(), pointers.object_starts.end()),
            expected_starts);
}

}  // namespace
