// tests/document/document_writer_test.cpp - the exact text of written documents.
#include "document/document_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "document/lexer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "tests/bin/bin_test_support.h"

namespace {

// Names by (value, kind); anything else has none.
struct FakeNames {
  std::map<std::pair<uint32_t, uint32_t>, std::string> names;

  static const char* Resolve(uint32_t value, uint32_t kind, void* context) {
    const auto& names = static_cast<FakeNames*>(context)->names;
    const auto found = names.find({value, kind});
    return found == names.end() ? nullptr : found->second.c_str();
  }
};

ValueNode* Add(ValueNode& parent, const char* field, uint32_t type_hash, bool array = false) {
  ValueNode* child = AppendChildValue(parent, NameHash(field), type_hash, array, 0);
  EXPECT_NE(child, nullptr);
  return child;
}

ValueNode* AddElement(ValueNode& array) {
  return AppendChildValue(array, 0, array.type_hash, false, 0);
}

struct Object {
  ValueNode* node;
  Object(const char* class_name, uint32_t id) : node(NewObjectValue(NameHash(class_name), id)) {}
  ~Object() { ReleaseObject(node); }
};

class DocumentWriterTest : public ::testing::Test {
 protected:
  // The document of `object`, or "<failed>" when the writer fails. Whenever the object can be
  // encoded, writing it straight from its bits must give the same text.
  std::string Write(const Object& object) {
    const ClassType* class_type = registry_.Find(object.node->type_hash);
    CStringBufferA out;
    if (class_type == nullptr ||
        !WriteObject(*object.node, *class_type, out, value_, registry_, core_.table, comment_)) {
      return "<failed>";
    }
    EXPECT_EQ(comment_.length, 0u);
    const std::string text(out.data, out.length);
    ByteBuffer bits;
    BitWriter writer(bits);
    if (EncodeObjectFields(*object.node, registry_, core_.table, *class_type, writer)) {
      EXPECT_EQ(WriteFromBits(*object.node, bits.data, bits.size), text);
    }
    return text;
  }

  // WriteObjectFromStream over `size` bytes, or "<failed>". It is written twice: with the
  // state the fixture keeps from one write to the next (lines laid out ahead, a string block
  // reused) and with none (every line field by field); both must give the same.
  std::string WriteFromBits(const ValueNode& header, const uint8_t* data, uint32_t size) {
    const std::string kept = WriteFromBitsWith(header, data, size, &stream_state_);
    EXPECT_EQ(WriteFromBitsWith(header, data, size, nullptr), kept);
    return kept;
  }

  std::string WriteFromBitsWith(const ValueNode& header, const uint8_t* data, uint32_t size,
                                StreamWriterState* state) {
    const ClassType* class_type = registry_.Find(header.type_hash);
    BitReader reader(data, size);
    DecodeBudget budget = DecodeBudget::ForBits(reader.RemainingBits());
    CStringBufferA out;
    if (class_type == nullptr ||
        !WriteObjectFromStream(header.name, *class_type, reader, budget, out, value_, registry_,
                               core_.table, comment_, nullptr, state)) {
      comment_.Empty();
      return "<failed>";
    }
    EXPECT_EQ(comment_.length, 0u);
    return std::string(out.data, out.length);
  }

  // Whether DecodeObjectFields accepts `size` bytes as the fields of `header`'s class.
  bool Decodes(const ValueNode& header, const uint8_t* data, uint32_t size) {
    const ClassType* class_type = registry_.Find(header.type_hash);
    Object decoded("cDecoded", header.name);
    BitReader reader(data, size);
    return class_type != nullptr &&
           DecodeObjectFields(*decoded.node, registry_, core_.table, *class_type, reader) &&
           !reader.failed;
  }

  TypeRegistry registry_;
  CoreTypes core_;
  TStringBufferA<512> value_;
  TStringBufferA<512> comment_;
  StreamWriterState stream_state_;  // kept from one write from the stream to the next
};

TEST_F(DocumentWriterTest, WritesEveryKindOfFieldInItsLayout) {
  const uint32_t parts = NameHash("cExampleParts");
  AddClass(registry_, "cExampleParts", {{"Count", kCIntHash}});
  AddClass(registry_, "cExampleOwner",
           {{"Health", kCIntHash},
            {"Label", kCStringHash},
            {"Title", kCTextIDHash},
            {"Target", kCPointerHash},
            {"Offset", kCVector3Hash},
            {"Parts", parts},
            {"Tags", kCHashHash, -1},
            {"Slots", parts, -1},
            {"Empty", NameHash("cNotLoaded"), 4}});
  const uint32_t crate_a = NameHash("Crate_A");
  const uint32_t crate_b = NameHash("Crate_B");
  const uint32_t title = NameHash("TXT_CRATE");
  FakeNames names{{{{crate_a, 0}, "Crate_A"},
                   {{crate_b, kCPointerHash}, "Crate_B"},
                   {{crate_b, kResolvePointerComment}, "cExampleOwner"},
                   {{title, kCTextIDHash}, "TXT_CRATE"},
                   {{title, kResolveHashComment}, "A wooden crate\nfull of things"},
                   {{NameHash("Heavy"), kCHashHash}, "Heavy"},
                   {{NameHash("Wooden"), kCHashHash}, "Wooden"}}};
  NameResolverScope scope(&FakeNames::Resolve, &names);

  Object object("cExampleOwner", crate_a);
  ValueNode& o = *object.node;
  Add(o, "Health", kCIntHash)->payload.int32 = 100;
  Add(o, "Label", kCStringHash)->payload.text.AssignText("Front \"door\"\t\\");
  Add(o, "Title", kCTextIDHash)->payload.word = title;
  Add(o, "Target", kCPointerHash)->payload.word = crate_b;
  float* offset = Add(o, "Offset", kCVector3Hash)->payload.floats;
  offset[1] = 1.5f;
  offset[2] = -2.0f;
  Add(*Add(o, "Parts", parts), "Count", kCIntHash)->payload.int32 = 2;
  ValueNode* tags = Add(o, "Tags", kCHashHash, true);
  AddElement(*tags)->payload.word = NameHash("Heavy");
  AddElement(*tags)->payload.word = NameHash("Wooden");
  Add(*AddElement(*Add(o, "Slots", parts, true)), "Count", kCIntHash);
  Add(o, "Empty", NameHash("cNotLoaded"), true);

  EXPECT_EQ(Write(object),
            "cExampleOwner /* 4039214405 */ 'Crate_A' {\r\n"
            "\tHealth = \"100\"\r\n"
            "\tLabel = \"Front \\\"door\\\"\\u0009\\\\\"\r\n"
            "\tTitle = \"'TXT_CRATE'\" //A wooden crate\\nfull of things\r\n"
            "\tTarget = \"@'Crate_B'\" //cExampleOwner\r\n"
            "\tOffset = \"0,1.5,-2\"\r\n"
            "\tParts = {\r\n"
            "\t\tCount = \"2\"\r\n"
            "\t}\r\n"
            "\tTags = [\r\n"
            "\t\t\"'Heavy'\"\r\n"
            "\t\t\"'Wooden'\"\r\n"
            "\t]\r\n"
            "\tSlots = [\r\n"
            "\t{\r\n"
            "\t\tCount = \"0\"\r\n"
            "\t}\r\n"
            "\t]\r\n"
            "\tEmpty = [\r\n"
            "\t]\r\n"
            "}\r\n");
}

// Written straight from its bits, an object cut off anywhere fails exactly where the decode
// fails, and a whole one gives the text of its tree (every layout of the writer's tests takes
// this path too, through Write).
TEST_F(DocumentWriterTest, FromTheStreamFailsWhereTheDecodeFails) {
  const uint32_t parts = NameHash("cExampleParts");
  AddClass(registry_, "cExampleParts", {{"Count", kCIntHash}, {"Name", kCStringHash}});
  AddClass(registry_, "cExampleOwner",
           {{"Label", kCStringHash},
            {"Offset", kCVector3Hash},
            {"Parts", parts},
            {"Tags", kCHashHash, -1},
            {"Slots", parts, -1},
            {"Flag", kCBoolHash}});
  Object object("cExampleOwner", 7);
  ValueNode& o = *object.node;
  Add(o, "Label", kCStringHash)->payload.text.AssignText("a label");
  Add(o, "Offset", kCVector3Hash)->payload.floats[0] = 0.25f;
  ValueNode* part = Add(o, "Parts", parts);
  Add(*part, "Count", kCIntHash)->payload.int32 = -3;
  Add(*part, "Name", kCStringHash);
  ValueNode* tags = Add(o, "Tags", kCHashHash, true);
  AddElement(*tags)->payload.word = 11;
  AddElement(*tags)->payload.word = 12;
  ValueNode* slots = Add(o, "Slots", parts, true);
  for (int32_t i = 0; i < 2; ++i) {
    ValueNode* slot = AddElement(*slots);
    Add(*slot, "Count", kCIntHash)->payload.int32 = i;
    Add(*slot, "Name", kCStringHash)->payload.text.AssignText("slot");
  }
  Add(o, "Flag", kCBoolHash)->payload.int32 = 1;

  const std::string whole = Write(object);
  ASSERT_NE(whole, "<failed>");
  ByteBuffer bits;
  BitWriter writer(bits);
  ASSERT_TRUE(EncodeObjectFields(o, registry_, core_.table, *registry_.Find(o.type_hash), writer));
  const uint32_t bit_count = writer.position;
  for (uint32_t size = 0; size <= bits.size; ++size) {
    SCOPED_TRACE(size);
    const bool decodes = Decodes(o, bits.data, size);
    EXPECT_EQ(decodes, size * 8 >= bit_count);
    EXPECT_EQ(WriteFromBits(o, bits.data, size), decodes ? whole : "<failed>");
  }
}

// A class registered under the hash of a built-in value type that has no core type is found
// as a class, but the decode makes its value a primitive and fails; so does the stream. An
// empty array of it needs no element and passes in both.
// Every string read from the stream goes into the block the one before left: growing,
// shrinking and empty strings in turn, in one object and from object to object, must each
// come out whole and alone.
TEST_F(DocumentWriterTest, FromTheStreamStringsLongAndShortInTurnComeOutWhole) {
  AddClass(registry_, "cNamed", {{"Name", kCStringHash}, {"Note", kCStringHash}});
  const size_t lengths[] = {40, 3, 0, 17, 1, 64, 0, 0, 5, 200, 2};
  for (size_t i = 0; i + 1 < std::size(lengths); ++i) {
    const std::string name(lengths[i], static_cast<char>('a' + i));
    const std::string note(lengths[i + 1], 'z');
    Object o("cNamed", static_cast<uint32_t>(i + 1));
    Add(*o.node, "Name", kCStringHash)->payload.text.AssignText(name.c_str());
    Add(*o.node, "Note", kCStringHash)->payload.text.AssignText(note.c_str());
    EXPECT_EQ(Write(o), "cNamed " + std::to_string(i + 1) + " {\r\n\tName = \"" + name +
                            "\"\r\n\tNote = \"" + note + "\"\r\n}\r\n");
  }
}

// The lines laid out ahead live in a table of a few hundred slots, shared by every class at
// every level: more classes than slots, written in turn and in reverse, each holding a class
// value one level deeper (whose slot may be the outer one, in use meanwhile), must each come
// out as the tree writer writes them.
TEST_F(DocumentWriterTest, FromTheStreamManyClassesAtManyLevelsComeOutAsTheirTrees) {
  constexpr int kClasses = 300;
  std::vector<std::string> names;
  for (int k = 0; k < kClasses; ++k) {
    const std::string inner = "cInner" + std::to_string(k);
    const std::string outer = "cOuter" + std::to_string(k);
    const std::string field = "Value" + std::to_string(k);
    AddClass(registry_, inner.c_str(), {{field.c_str(), kCIntHash}, {"Label", kCStringHash}});
    AddClass(registry_, outer.c_str(),
             {{"Inner", NameHash(inner.c_str())}, {field.c_str(), kCIntHash}});
    names.push_back(outer);
  }
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kClasses; ++i) {
      const int k = round == 0 ? i : kClasses - 1 - i;
      const std::string field = "Value" + std::to_string(k);
      Object o(names[k].c_str(), static_cast<uint32_t>(k + 1));
      ValueNode* inner = Add(*o.node, "Inner", NameHash(("cInner" + std::to_string(k)).c_str()));
      Add(*inner, field.c_str(), kCIntHash)->payload.int32 = k;
      Add(*inner, "Label", kCStringHash)->payload.text.AssignText(field.c_str());
      Add(*o.node, field.c_str(), kCIntHash)->payload.int32 = -k;
      EXPECT_EQ(Write(o), names[k] + " " + std::to_string(k + 1) + " {\r\n\tInner = {\r\n\t\t" +
                              field + " = \"" + std::to_string(k) + "\"\r\n\t\tLabel = \"" + field +
                              "\"\r\n\t}\r\n\t" + field + " = \"" + std::to_string(-k) +
                              "\"\r\n}\r\n");
    }
  }
}

// One class nested as deep as a document goes meets its own outer levels' slots in the table of
// laid-out lines (a level and the one a table's length deeper share a slot): the outer lines,
// still being written, must stay as they were, down to the field after the nested one.
TEST_F(DocumentWriterTest, FromTheStreamDeepLevelsKeepTheOuterLinesTheyShareSlotsWith) {
  const uint32_t node = NameHash("cTail");
  AddClass(registry_, "cTail", {{"next", node, -1}, {"tail", kCIntHash}});
  Object object("cTail", 1);
  ValueNode* level = object.node;
  for (uint32_t i = 0; i < kMaxNestingDepth; ++i) {
    ValueNode* element = AddElement(*Add(*level, "next", node, true));
    Add(*level, "tail", kCIntHash)->payload.int32 = static_cast<int32_t>(i);
    level = element;
  }
  Add(*level, "next", node, true);
  Add(*level, "tail", kCIntHash)->payload.int32 = -1;
  const std::string text = Write(object);
  ASSERT_NE(text, "<failed>");
  EXPECT_NE(text.find("\r\n\ttail = \"0\"\r\n}\r\n"), std::string::npos);
}

TEST_F(DocumentWriterTest, FromTheStreamRefusesAClassUnderABuiltInHash) {
  ClassTypePtr odd = MakeClassType();
  ASSERT_NE(odd, nullptr);
  odd->name.Assign("cOdd");
  odd->name_hash = kUnnamedStringHashA;
  ASSERT_NE(registry_.Add(std::move(odd)), nullptr);
  AddClass(registry_, "cHolder", {{"Part", kUnnamedStringHashA}});
  AddClass(registry_, "cArrayHolder", {{"Parts", kUnnamedStringHashA, -1}});
  Object holder("cHolder", 3);
  EXPECT_FALSE(Decodes(*holder.node, nullptr, 0));
  EXPECT_EQ(WriteFromBits(*holder.node, nullptr, 0), "<failed>");
  Object array_holder("cArrayHolder", 4);
  for (const uint32_t elements : {0u, 1u}) {
    SCOPED_TRACE(elements);
    ByteBuffer bits;
    BitWriter writer(bits);
    writer.WriteVarUInt(elements);
    const bool decodes = Decodes(*array_holder.node, bits.data, bits.size);
    EXPECT_EQ(decodes, elements == 0);
    EXPECT_EQ(WriteFromBits(*array_holder.node, bits.data, bits.size) != "<failed>", decodes);
  }
}

// The same class nesting the decoder takes and no deeper: cNode { next: cNode[] } with one
// element per level, as the counts 1, 1, ..., 1, 0.
TEST_F(DocumentWriterTest, FromTheStreamNestsAsDeepAsTheDecoder) {
  const uint32_t node = NameHash("cNode");
  AddClass(registry_, "cNode", {{"next", node, -1}});
  Object header("cNode", 1);
  for (uint32_t depth : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
    SCOPED_TRACE(depth);
    ByteBuffer bits;
    BitWriter writer(bits);
    for (uint32_t i = 0; i < depth; ++i) writer.WriteVarUInt(1);
    writer.WriteVarUInt(0);
    const bool decodes = Decodes(*header.node, bits.data, bits.size);
    EXPECT_EQ(decodes, depth <= kMaxNestingDepth);
    const std::string text = WriteFromBits(*header.node, bits.data, bits.size);
    EXPECT_EQ(text == "<failed>", !decodes);
  }
}

TEST_F(DocumentWriterTest, HeaderNameIsQuotedAndMustHashBackToTheId) {
  AddClass(registry_, "cA", {{"Ref", kCPointerHash}});
  const std::string odd = "a\tb'c";
  FakeNames names{{{{NameHash(odd.c_str()), 0}, odd}, {{5, 0}, "NotFive"}}};
  NameResolverScope scope(&FakeNames::Resolve, &names);

  Object named("cA", NameHash(odd.c_str()));
  Add(*named.node, "Ref", kCPointerHash)->payload.word = 9;
  EXPECT_EQ(Write(named), "cA /* " + std::to_string(NameHash(odd.c_str())) +
                              " */ 'a\\u0009b\\'c' {\r\n\tRef = \"@9\" //External object\r\n}\r\n");

  Object misnamed("cA", 5);
  Add(*misnamed.node, "Ref", kCPointerHash);
  EXPECT_EQ(Write(misnamed), "cA 5 {\r\n\tRef = \"@0\" //External object\r\n}\r\n");
}

// The ID of a header is its decimal text at every length, with or without a name after it.
TEST_F(DocumentWriterTest, HeaderIdsOfEveryLength) {
  AddClass(registry_, "cA", {{"Ref", kCPointerHash}});
  for (uint64_t id = 1; id <= 0xFFFFFFFFu; id = id * 10 + (id % 7)) {
    for (const uint64_t near : {id - 1, id, id + 1}) {
      if (near > 0xFFFFFFFFu) continue;
      Object object("cA", static_cast<uint32_t>(near));
      Add(*object.node, "Ref", kCPointerHash)->payload.word = 1;
      EXPECT_EQ(Write(object),
                "cA " + std::to_string(near) + " {\r\n\tRef = \"@1\" //External object\r\n}\r\n");
    }
  }
  const std::string name = "n";
  FakeNames names{{{{NameHash(name.c_str()), 0}, name}}};
  NameResolverScope scope(&FakeNames::Resolve, &names);
  Object named("cA", NameHash(name.c_str()));
  Add(*named.node, "Ref", kCPointerHash)->payload.word = 1;
  EXPECT_EQ(Write(named), "cA /* " + std::to_string(NameHash(name.c_str())) +
                              " */ 'n' {\r\n\tRef = \"@1\" //External object\r\n}\r\n");
}

// A name with quotes or backslashes must read back: the document lexer unescapes the string,
// then the value lexer reads the name from it.
TEST_F(DocumentWriterTest, NamesNeedingEscapesReadBackToTheirHash) {
  AddClass(registry_, "cA", {{"H", kCHashHash}, {"P", kCPointerHash, -1}});
  FakeNames names;
  for (const char* name : {"it's", "back\\slash", "say \"hi\"", "tab\there", "bad\xC0"}) {
    SCOPED_TRACE(name);
    names.names[{NameHash(name), kCHashHash}] = names.names[{NameHash(name), kCPointerHash}] = name;
    NameResolverScope scope(&FakeNames::Resolve, &names);
    Object object("cA", 1);
    Add(*object.node, "H", kCHashHash)->payload.word = NameHash(name);
    AddElement(*Add(*object.node, "P", kCPointerHash, true))->payload.word = NameHash(name);
    const std::string text = Write(object);
    Lexer document;
    document.source.Assign(text.c_str());
    ResetLexer(document);
    int values = 0;
    for (TokenKind kind; (kind = NextToken(document)) != TokenKind::kEof;) {
      ASSERT_NE(kind, TokenKind::kError) << text;
      if (kind != TokenKind::kString) continue;
      Lexer value;
      value.source.Assign(document.string_value.data);
      ResetLexer(value);
      if (values++ == 1) {
        ASSERT_EQ(NextToken(value), TokenKind::kAt);
      }
      ASSERT_EQ(NextToken(value), TokenKind::kExtendedIdentifier) << text;
      EXPECT_EQ(NameHash(value.identifier_value.data), NameHash(name)) << text;
    }
    EXPECT_EQ(values, 2);
  }
}

TEST_F(DocumentWriterTest, TakesTheFirstChildOfEachFieldNameInAnyOrder) {
  AddClass(registry_, "cA", {{"x", kCIntHash}, {"y", kCIntHash}, {"x", kCIntHash}});
  Object object("cA", 1);
  Add(*object.node, "y", kCIntHash)->payload.int32 = 2;
  Add(*object.node, "x", kCIntHash)->payload.int32 = 1;
  Add(*object.node, "x", kCIntHash)->payload.int32 = 3;
  Add(*object.node, "z", kCIntHash)->payload.int32 = 4;
  EXPECT_EQ(Write(object), "cA 1 {\r\n\tx = \"1\"\r\n\ty = \"2\"\r\n\tx = \"1\"\r\n}\r\n");
}

TEST(WriteTrailingCommentTest, EscapesLineEndsAndReplacesInvalidBytes) {
  CStringBufferA out("x");
  TStringBufferA<512> comment;
  comment.Assign("a\r\nb \xC3\xA9 \xFF!");
  WriteTrailingComment(comment, out);
  EXPECT_STREQ(out.data, "x //a\\r\\nb \xC3\xA9 \xEF\xBF\xBD!");
  EXPECT_EQ(comment.length, 0u);
  WriteTrailingComment(comment, out);
  EXPECT_EQ(out.length, std::strlen("x //a\\r\\nb \xC3\xA9 \xEF\xBF\xBD!"));
}

// Plain comment text is copied a word at a time: a byte that needs escaping or checking must be
// caught wherever it stands in a word, and the plain bytes around it kept.
TEST(WriteTrailingCommentTest, TreatsEveryByteAtEveryOffsetAlike) {
  struct Special {
    const char* in;
    const char* out;
  };
  const Special specials[] = {{"\n", "\\n"},
                              {"\r", "\\r"},
                              {"\xC3\xA9", "\xC3\xA9"},
                              {"\xFF", "\xEF\xBF\xBD"},
                              {"\x7F\x0B\x0C\x0E", "\x7F\x0B\x0C\x0E"}};
  for (const Special& special : specials) {
    for (size_t before = 0; before <= 20; ++before) {
      const std::string head(before, 'a');
      const std::string tail(21 - before, 'b');
      TStringBufferA<512> comment;
      comment.Assign((head + special.in + tail).c_str());
      CStringBufferA out("x");
      WriteTrailingComment(comment, out);
      EXPECT_EQ(std::string(out.data, out.length), "x //" + head + special.out + tail)
          << "byte at " << before;
    }
  }
}

TEST_F(DocumentWriterTest, FailsWhenTheValueDoesNotFitItsClass) {
  AddClass(registry_, "cA", {{"x", kCIntHash}});
  AddClass(registry_, "cArr", {{"list", kCIntHash, -1}});
  AddClass(registry_, "cUnknown", {{"u", NameHash("cNowhere")}});
  Object missing("cA", 1), wrong_type("cA", 1), wrong_form("cA", 1);
  Object not_array("cArr", 1), bad_element("cArr", 1), unknown("cUnknown", 1);
  Add(*missing.node, "y", kCIntHash);
  Add(*wrong_type.node, "x", kCFloatHash);
  Add(*wrong_form.node, "x", kCIntHash, true);
  Add(*not_array.node, "list", kCIntHash);
  ASSERT_NE(
      AppendChildValue(*Add(*bad_element.node, "list", kCIntHash, true), 0, kCByteHash, false, 0),
      nullptr);
  Add(*unknown.node, "u", NameHash("cNowhere"));
  for (const Object* object :
       {&missing, &wrong_type, &wrong_form, &not_array, &bad_element, &unknown}) {
    EXPECT_EQ(Write(*object), "<failed>");
  }
}

// cNode { next: cNode[] }: each level is an array holding one element of the same class.
TEST_F(DocumentWriterTest, NestsClassValuesAsDeepAsTheDecoderAndNoDeeper) {
  const uint32_t node = NameHash("cNode");
  AddClass(registry_, "cNode", {{"next", node, -1}});
  for (uint32_t depth : {kMaxNestingDepth, kMaxNestingDepth + 1}) {
    SCOPED_TRACE(depth);
    Object object("cNode", 1);
    ValueNode* level = object.node;
    for (uint32_t i = 0; i < depth; ++i) level = AddElement(*Add(*level, "next", node, true));
    Add(*level, "next", node, true);
    const std::string text = Write(object);
    EXPECT_EQ(text == "<failed>", depth > kMaxNestingDepth);
  }
}

}  // namespace
