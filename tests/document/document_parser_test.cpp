// tests/document/document_parser_test.cpp
#include "document/document_parser.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bin/bin_file.h"
#include "bin/value_node.h"
#include "document/lexer.h"
#include "foundation/name_hash.h"
#include "fuzz/fuzz_support.h"
#include "tests/bin/bin_test_support.h"
#include "types/core_type_hashes.h"

namespace {

const uint32_t kWeaponTypeHash = NameHash("cWeaponType");
const uint32_t kUpgradeableFlagsHash = NameHash("cUpgradeableFlags");
const uint32_t kGhostHash = NameHash("cGhost");  // a class the library does not hold

struct ParseCase {
  const char* name;
  std::string document;
  std::string diagnostics;
};

class DocumentParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(AddClass(registry_, "cPart", {{"Count", kCIntHash}}), nullptr);
    ASSERT_NE(AddClass(registry_, "cItem",
                       {{"Count", kCIntHash},
                        {"Pos", kCVector3Hash},
                        {"Target", kCPointerHash},
                        {"Kind", kWeaponTypeHash},
                        {"Flags", kUpgradeableFlagsHash},
                        {"Sub", NameHash("cPart")},
                        {"Tags", kCHashHash, 3},
                        {"Parts", NameHash("cPart"), -1},
                        {"Refs", kCPointerHash, -1},
                        {"Ghost", kGhostHash},
                        {"Ghosts", kGhostHash, -1}}),
              nullptr);
    ASSERT_NE(AddClass(registry_, "cPair", {{"A", kCIntHash}, {"B", NameHash("cPart")}}), nullptr);
    ASSERT_NE(AddClass(registry_, "cDeep", {{"Next", NameHash("cDeep")}}), nullptr);
    ASSERT_NE(AddClass(registry_, "cLink", {{"Next", kCPointerHash}}), nullptr);
    ASSERT_NE(AddClass(registry_, "cList", {{"Parts", NameHash("cPart"), -1}}), nullptr);
  }

  void TearDown() override { ReleaseObjects(objects_); }

  // Parses `document` as genbin does; returns the result and leaves the diagnostics text.
  bool Parse(const std::string& document) {
    ReleaseObjects(objects_);
    referenced_.Release();
    Lexer lexer;
    lexer.file_name.Assign("doc.txt");
    lexer.source.Assign(document.c_str());
    ResetLexer(lexer);
    Lexer values;
    const bool ok = ParseDocument(lexer, values, registry_, core_.table, referenced_, objects_);
    diagnostics_ = lexer.diagnostics.data;
    EXPECT_EQ(ok, !lexer.error) << diagnostics_;
    return ok;
  }

  void ExpectCases(const std::vector<ParseCase>& cases) {
    for (const ParseCase& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_FALSE(Parse(c.document));
      EXPECT_EQ(diagnostics_, c.diagnostics);
    }
  }

  std::string Validate() {
    CStringBufferA messages;
    for (const ValueNode* object = objects_.head; object != nullptr; object = object->next) {
      const ClassType* class_type = registry_.Find(object->type_hash);
      if (class_type == nullptr) return "no class";
      if (!ValidateObject(*object, *class_type, registry_, core_.table, object->name, messages)) {
        return messages.data;
      }
    }
    return "valid";
  }

  ValueNode* Object(uint32_t index) {
    ValueNode* object = objects_.head;
    for (uint32_t i = 0; i < index && object != nullptr; ++i) object = object->next;
    return object;
  }

  std::set<uint32_t> ReferencedTypes() {
    std::set<uint32_t> keys;
    referenced_.ForEach([&](uint32_t key, const uint8_t&) { keys.insert(key); });
    return keys;
  }

  TypeRegistry registry_;
  CoreTypes core_;
  ReferencedTypeSet referenced_;
  ValueObjectList objects_;
  std::string diagnostics_;
};

std::string Nested(int levels, const char* inner) {
  std::string text;
  for (int i = 0; i < levels; ++i) text += inner;
  return text;
}

TEST_F(DocumentParserTest, ReportsEveryErrorOnceAtItsLine) {
  ExpectCases({
      {"entry not a name", "cItem 1 {\n\t5 = \"1\"\n}",
       "doc.txt(2) Error: Expected identifier or '}', got number.\n"},
      {"unknown field", "cItem 1 {\n\tCount = \"1\"\n\tNope = \"1\"\n}",
       "doc.txt(3) Error: Unknown field cItem::Nope.\n"},
      {"no equals", "cItem 1 {\n\tCount \"1\"\n}", "doc.txt(2) Error: Expected '=', got string.\n"},
      {"array without bracket", "cItem 1 {\n\tTags = \"1\"\n}",
       "doc.txt(2) Error: Expected '[', got string.\n"},
      {"unquoted number", "cItem 1 {\n\tCount = 5\n}",
       "doc.txt(2) Error: Expected string, got number.\n"},
      {"pointer neither string nor object", "cItem 1 {\n\tTarget = [\n}",
       "doc.txt(2) Error: Expected string or identifier, got [.\n"},
      {"class value without brace", "cItem 1 {\n\tSub = \"x\"\n}",
       "doc.txt(2) Error: Expected '{', got string.\n"},
      {"core element not a string", "cItem 1 {\n\tTags = [\n\t\t\"1\"\n\t\t{\n",
       "doc.txt(4) Error: Expected string or ']', got {.\n"},
      {"pointer element", "cItem 1 {\n\tRefs = [\n\t\t7\n\t]\n}",
       "doc.txt(3) Error: Expected string, identifier or ']', got number.\n"},
      {"class element later", "cItem 1 {\n\tParts = [\n\t{\n\t}\n\t\"x\"\n",
       "doc.txt(5) Error: Expected '{' or ']', got string.\n"},
      {"array too long",
       "cItem 1 {\n\tTags = [\n\t\t\"1\"\n\t\t\"2\"\n\t\t\"3\"\n\t\t\"4\"\n\t]\n}",
       "doc.txt(6) Error: Exceeded maximum array size of 3.\n"},
      {"unknown class of elements", "cItem 1 {\n\tGhosts = [\n\t{\n\t}\n\t]\n}",
       "doc.txt(3) Error: Unknown type: " + std::to_string(kGhostHash) + "\n"},
      {"end inside a body", "cItem 1 {\n\tCount = \"1\"\n",
       "doc.txt(3) Error: Expected identifier or '}', got <EOF>.\n"},
      {"bad element", "cItem 1 {\n\tTags = [\n\t\t\"1\"\n\t\t\"@x\"\n\t]\n}",
       "doc.txt(4) Error: Failed to parse value of field \"Tags\" (cHash, element 2): expected a "
       "number, an identifier or a quoted name.\n"},
      {"pointer without at", "cItem 1 {\n\tTarget = \"12\"\n}",
       "doc.txt(2) Error: Failed to parse value of field \"Target\" (cPointer): expected '@' "
       "followed by a number, an identifier or a quoted name.\n"},
      {"no type name", "\n{", "doc.txt(2) Error: Expected identifier, got {.\n"},
      {"unknown type", "cPart 1 {\n}\ncNope 2 {\n}",
       "doc.txt(3) Error: Unknown type: \"cNope\".\n"},
      {"float id", "cPart 1e3 {\n}", "doc.txt(1) Error: Expected integer, got float.\n"},
      {"overflowing id", "cPart 99999999999999999999 {\n}",
       "doc.txt(1) Error: Expected identifier, extended identifier or integer, got malformed "
       "number.\n"},
      {"no brace", "cPart 1\nCount = \"1\"\n}",
       "doc.txt(2) Error: Expected '{', got identifier.\n"},
      {"inline float id", "cItem 1 {\n\tTarget = cPart 2.5 {\n\t}\n}",
       "doc.txt(2) Error: Expected integer, got float.\n"},
      {"inline missing id", "cItem 1 {\n\tTarget = cPart\n\t{\n\t}\n}",
       "doc.txt(3) Error: Expected identifier, extended identifier or integer, got {.\n"},
      {"inline element unknown type", "cItem 1 {\n\tRefs = [\n\t\tcNope 5 {\n\t\t}\n\t]\n}",
       "doc.txt(3) Error: Unknown type: \"cNope\".\n"},
      {"unterminated string", "cItem 1 {\n\tCount = \"1",
       "doc.txt(2) Error: Unterminated string.\n"},
      {"bad character as entry", "cItem 1 {\n\t; = \"1\"\n}",
       "doc.txt(2) Error: Invalid identifier\n"},
  });
}

TEST_F(DocumentParserTest, ParsesEveryKindOfValue) {
  ASSERT_TRUE(
      Parse("cItem /* 7 */ 'Crate_A' {\n"
            "\tCount = \"-12\"\n"
            "\tPos = \"1.5,2,-0.25\"\n"
            "\tTarget = \"@'Crate_B'\" //cItem\n"
            "\tKind = \"weapon_type_not_gun\"\n"
            "\tFlags = \"UPGRADEABLE_SUCTION,4\"\n"
            "\tSub = {\n\t\tCount = \"3\"\n\t}\n"
            "\tTags = [\n\t\t\"1\"\n\t\t\"Name\"\n\t\t\"'Quoted name'\"\n\t]\n"
            "\tParts = [\n\t{\n\t\tCount = \"4\"\n\t}\n\t{\n\t\tCount = \"5\"\n\t}\n\t]\n"
            "\tRefs = [\n\t\t\"@9\"\n\t]\n"
            "\tGhosts = [\n\t]\n"
            "}\n"
            "cPart 42 {\n\tCount = \"1\"\n}\n"))
      << diagnostics_;
  EXPECT_EQ(diagnostics_, "");
  ASSERT_EQ(objects_.count, 2u);
  const ValueNode& item = *Object(0);
  EXPECT_EQ(item.name, NameHash("Crate_A"));
  EXPECT_EQ(item.type_hash, NameHash("cItem"));
  EXPECT_EQ(Child(item, "Count")->payload.int32, -12);
  EXPECT_EQ(Child(item, "Pos")->payload.floats[2], -0.25f);
  EXPECT_EQ(Child(item, "Target")->payload.word, NameHash("Crate_B"));
  EXPECT_EQ(Child(item, "Target")->kind, kCHashHash);
  EXPECT_EQ(Child(item, "Kind")->payload.word, 1u);
  EXPECT_EQ(Child(item, "Kind")->type_hash, kWeaponTypeHash);
  EXPECT_EQ(Child(item, "Flags")->payload.word, 6u);
  EXPECT_EQ(Child(*Child(item, "Sub"), "Count")->payload.int32, 3);
  const ValueNode& tags = *Child(item, "Tags");
  ASSERT_TRUE(tags.IsArray());
  ASSERT_EQ(tags.payload.children.count, 3u);
  EXPECT_EQ(tags.payload.children.first->name, 0u);
  EXPECT_EQ(tags.payload.children.first->payload.word, 1u);
  EXPECT_EQ(tags.payload.children.first->next->payload.word, NameHash("Name"));
  EXPECT_EQ(tags.payload.children.last->payload.word, NameHash("Quoted name"));
  const ValueNode& parts = *Child(item, "Parts");
  ASSERT_EQ(parts.payload.children.count, 2u);
  EXPECT_EQ(Child(*parts.payload.children.last, "Count")->payload.int32, 5);
  EXPECT_EQ(Child(item, "Ghosts")->payload.children.count, 0u);
  EXPECT_EQ(Object(1)->name, 42u);

  // Classes, and value types that are not built in; an empty array adds nothing.
  EXPECT_EQ(ReferencedTypes(), (std::set<uint32_t>{NameHash("cItem"), NameHash("cPart"),
                                                   kWeaponTypeHash, kUpgradeableFlagsHash}));
  EXPECT_EQ(Validate(),
            "Missing field cItem::Ghost in object " + std::to_string(NameHash("Crate_A")) + "\n");
}

TEST_F(DocumentParserTest, InlineObjectsFollowTheObjectThatHoldsThem) {
  ASSERT_TRUE(Parse(
      "cLink 1 {\n"
      "\tNext = cLink /* 2 */ 'Second' {\n"
      "\t\tNext = cLink 3 {\n\t\t\tNext = \"@1\"\n\t\t}\n"
      "\t}\n"
      "}\n"
      "cItem 4 {\n\tRefs = [\n\t\tcPart 5 {\n\t\t\tCount = \"8\"\n\t\t}\n\t\t\"@6\"\n\t]\n}\n"))
      << diagnostics_;
  ASSERT_EQ(objects_.count, 5u);
  const uint32_t ids[] = {1, NameHash("Second"), 3, 4, 5};
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(Object(i)->name, ids[i]) << i;
  EXPECT_EQ(Child(*Object(0), "Next")->payload.word, NameHash("Second"));
  EXPECT_EQ(Child(*Object(1), "Next")->payload.word, 3u);
  EXPECT_EQ(Child(*Object(2), "Next")->payload.word, 1u);
  const ValueNode& refs = *Child(*Object(3), "Refs");
  ASSERT_EQ(refs.payload.children.count, 2u);
  EXPECT_EQ(refs.payload.children.first->payload.word, 5u);
  EXPECT_EQ(refs.payload.children.last->payload.word, 6u);
  EXPECT_EQ(Child(*Object(4), "Count")->payload.int32, 8);
  EXPECT_EQ(ReferencedTypes().count(NameHash("cPart")), 1u);
}

// Records the object IDs of each hand-over, then releases the objects as genbin does.
class RecordingSink final : public ObjectSink {
 public:
  void TakeObjects(ValueObjectList& objects) override {
    std::vector<uint32_t>& batch = batches.emplace_back();
    for (const ValueNode* object = objects.head; object != nullptr; object = object->next) {
      batch.push_back(object->name);
    }
    ReleaseObjects(objects);
  }
  std::vector<std::vector<uint32_t>> batches;
};

TEST_F(DocumentParserTest, ObjectsAreHandedOverOneTopLevelObjectAtATime) {
  const std::string good =
      "cLink 1 {\n\tNext = cLink 'Second' {\n\t\tNext = cLink 3 {\n\t\t\tNext = \"@1\"\n"
      "\t\t}\n\t}\n}\ncItem 4 {\n\tRefs = [\n\t\tcPart 5 {\n\t\t\tCount = \"8\"\n\t\t}\n\t]\n}\n";
  const std::string bad = "cLink 1 {\n\tNext = \"@1\"\n}\ncPart 2 {\n\tCount = 5\n}\n";
  const struct {
    const std::string& document;
    bool parsed;
    std::vector<std::vector<uint32_t>> batches;
    uint32_t left;  // objects of the failing top-level object
  } cases[] = {
      {good, true, {{1, NameHash("Second"), 3}, {4, 5}}, 0},
      {bad, false, {{1}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document);
    // The whole-document parse gives the messages and the type set to compare with.
    EXPECT_EQ(Parse(c.document), c.parsed);
    const std::string whole_diagnostics = diagnostics_;
    const std::set<uint32_t> whole_types = ReferencedTypes();
    ReleaseObjects(objects_);
    referenced_.Release();

    Lexer lexer;
    lexer.file_name.Assign("doc.txt");
    lexer.source.Assign(c.document.c_str());
    ResetLexer(lexer);
    Lexer values;
    RecordingSink sink;
    EXPECT_EQ(
        ParseDocumentObjects(lexer, values, registry_, core_.table, referenced_, objects_, sink),
        c.parsed);
    EXPECT_EQ(lexer.diagnostics.data, whole_diagnostics);
    EXPECT_EQ(ReferencedTypes(), whole_types);
    EXPECT_EQ(sink.batches, c.batches);
    EXPECT_EQ(objects_.count, c.left);
  }
}

TEST_F(DocumentParserTest, ValidationTakesTheFirstOfARepeatedFieldAndNamesTheOuterObject) {
  ASSERT_TRUE(Parse("cPair 1 {\n\tA = \"1\"\n\tB = {\n\t}\n\tB = {\n\t\tCount = \"2\"\n\t}\n}"));
  EXPECT_EQ(Object(0)->payload.children.count, 3u);
  EXPECT_EQ(Validate(), "Missing field cPart::Count in object 1\n");
  ASSERT_TRUE(Parse("cPair 1 {\n\tB = {\n\t\tCount = \"2\"\n\t}\n\tA = \"1\"\n\tB = {\n\t}\n}"));
  EXPECT_EQ(Validate(), "valid");
  ASSERT_TRUE(Parse("cPart 1 {\n\tCount = \"1\"\n}\ncPair 2 {\n\tA = \"1\"\n}"));
  EXPECT_EQ(Validate(), "Missing field cPair::B in object 2\n");
  ASSERT_TRUE(Parse("cList 3 {\n\tParts = [\n\t{\n\t\tCount = \"1\"\n\t}\n\t{\n\t}\n\t]\n}"));
  EXPECT_EQ(Validate(), "Missing field cPart::Count in object 3\n");
}

// A name that two fields of a class share always means the first of them, also where the
// document lists the fields in declaration order and the later one is next in turn.
TEST_F(DocumentParserTest, ASharedFieldNameAlwaysMeansTheFirstField) {
  ASSERT_NE(AddClass(registry_, "cTwice",
                     {{"Value", kCIntHash}, {"Other", kCIntHash}, {"Value", kCStringHash}}),
            nullptr);
  EXPECT_FALSE(Parse("cTwice 1 {\n\tValue = \"5\"\n\tOther = \"6\"\n\tValue = \"x\"\n}"));
  EXPECT_NE(diagnostics_.find("doc.txt(4) Error: Failed to parse value of field \"Value\" (cInt)"),
            std::string::npos)
      << diagnostics_;
  ASSERT_TRUE(Parse("cTwice 1 {\n\tValue = \"5\"\n\tOther = \"6\"\n\tValue = \"7\"\n}"));
  EXPECT_EQ(Object(0)->payload.children.count, 3u);
}

TEST_F(DocumentParserTest, ValidationReportsAClassMissingFromTheLibrary) {
  ValueNode* object = NewObjectValue(NameHash("cItem"), 9);
  ASSERT_NE(object, nullptr);
  (void)objects_.Append(object);
  const ClassType& item = *registry_.Find(NameHash("cItem"));
  for (uint32_t i = 0; i < item.field_count; ++i) {
    const FieldInfo& field = item.fields[i];
    const CCoreType* core = FindCoreType(core_.table, field.type_hash);
    ASSERT_NE(AppendChildValue(*object, field.name_hash, field.type_hash, field.IsArray(),
                               core != nullptr ? core->StorageTypeHash() : 0),
              nullptr);
  }
  ValueNode& sub = *const_cast<ValueNode*>(Child(*object, "Sub"));
  ASSERT_NE(AppendChildValue(sub, NameHash("Count"), kCIntHash, false, 0), nullptr);
  EXPECT_EQ(Validate(),
            "Unknown type " + std::to_string(kGhostHash) + " for field cItem::Ghost in object 9\n");
}

TEST_F(DocumentParserTest, ArraySizeLimitsOnlyDeclaredSizes) {
  ASSERT_TRUE(Parse("cItem 1 {\n\tTags = [\n\t\t\"1\"\n\t\t\"2\"\n\t\t\"3\"\n\t]\n}"));
  std::string many = "cItem 1 {\n\tRefs = [\n";
  for (int i = 0; i < 1000; ++i) many += "\t\t\"@" + std::to_string(i) + "\"\n";
  ASSERT_TRUE(Parse(many + "\t]\n}"));
  EXPECT_EQ(Child(*Object(0), "Refs")->payload.children.count, 1000u);
  EXPECT_TRUE(Parse("// nothing here\n/* or here */\n"));
  EXPECT_EQ(objects_.count, 0u);
  EXPECT_EQ(diagnostics_, "");
}

TEST_F(DocumentParserTest, UnknownNamesWarnAtTheirLineAndParsingGoesOn) {
  ASSERT_TRUE(
      Parse("cItem 1 {\n\tCount = \"1\"\n\tKind = \"Bogus\"\n"
            "\tFlags = \"UPGRADEABLE_SUCTION,Nope,4\"\n}"));
  EXPECT_EQ(diagnostics_,
            "doc.txt(3) warning: Unknown name \"Bogus\" for cWeaponType, using fallback.\n"
            "doc.txt(4) warning: Unknown name \"Nope\" for cUpgradeableFlags, ignored.\n");
  EXPECT_EQ(Child(*Object(0), "Kind")->payload.word, 2u);
  EXPECT_EQ(Child(*Object(0), "Flags")->payload.word, 6u);

  EXPECT_FALSE(Parse("cItem 1 {\n\tKind = \"Bogus\"\n\tCount = \"x\"\n}"));
  EXPECT_EQ(diagnostics_,
            "doc.txt(2) warning: Unknown name \"Bogus\" for cWeaponType, using fallback.\n"
            "doc.txt(3) Error: Failed to parse value of field \"Count\" (cInt): expected a "
            "number.\n");
}

TEST_F(DocumentParserTest, NestingDeeperThanTheLimitFailsCleanly) {
  const std::string ok = "cDeep 1 {\n" + Nested(256, "Next = {\n") + Nested(257, "}\n");
  ASSERT_TRUE(Parse(ok)) << diagnostics_;
  EXPECT_EQ(Validate(), "Missing field cDeep::Next in object 1\n");
  EXPECT_FALSE(Parse("cDeep 1 {\n" + Nested(257, "Next = {\n")));
  EXPECT_EQ(diagnostics_, "doc.txt(258) Error: Objects nested deeper than 256 levels.\n");
  // Inline objects nest like class values.
  EXPECT_FALSE(Parse("cLink 0 {\n" + Nested(100000, "Next = cLink 1 {\n")));
  EXPECT_EQ(diagnostics_, "doc.txt(258) Error: Objects nested deeper than 256 levels.\n");
  EXPECT_EQ(objects_.count, 258u);
}

TEST_F(DocumentParserTest, ReferencedTypeSetThatCannotGrowIsAnError) {
  ReferencedTypeSet::Pool pool;
  pool.Shutdown();
  ReferencedTypeSet full(pool);
  Lexer lexer;
  lexer.file_name.Assign("doc.txt");
  lexer.source.Assign("cItem 1 {\n}");
  ResetLexer(lexer);
  Lexer values;
  EXPECT_FALSE(ParseDocument(lexer, values, registry_, core_.table, full, objects_));
  EXPECT_STREQ(lexer.diagnostics.data, "doc.txt(1) Error: Couldn't set referenced type.\n");

  // Inside a body the message carries a line feed of its own.
  lexer.source.Assign("\n\tKind = \"WEAPON_TYPE_GUN\"\n}");
  ResetLexer(lexer);
  ValueNode* item = NewObjectValue(NameHash("cItem"), 1);
  ASSERT_NE(item, nullptr);
  (void)objects_.Append(item);
  EXPECT_FALSE(ParseObjectBody(*item, *registry_.Find(NameHash("cItem")), lexer, values, registry_,
                               core_.table, full, objects_));
  EXPECT_STREQ(lexer.diagnostics.data, "doc.txt(2) Error: Couldn't set referenced type.\n\n");
}

// Everything a parse with an encoding sink leaves behind.
struct SinkOutcome {
  bool parsed;
  bool error;
  std::string diagnostics;
  std::vector<uint8_t> stream;
  uint32_t bits;
  uint32_t objects;  // taken or encoded
  bool refused;
  std::vector<uint32_t> types;  // the referenced set, in the order the set keeps
  uint32_t left;                // objects of a failing top-level object

  bool operator==(const SinkOutcome&) const = default;
};

// A document handed over a window of `window` bytes at a time, as genbin reads its file.
class StringFeed final : public DocumentFeed {
 public:
  StringFeed(const std::string& text, uint32_t window)
      : text_(text), window_(window), part_(text.substr(0, window)) {}

  const std::string& part() const { return part_; }
  bool Whole() const override { return passed_ + part_.size() == text_.size(); }
  bool Feed(Lexer& lexer, bool rest) override {
    ++feeds;
    if (fail_at == feeds) {
      return false;
    }
    rests += rest ? 1 : 0;
    passed_ += lexer.position;
    const size_t left = part_.size() - lexer.position;
    part_ = text_.substr(passed_, rest ? std::string::npos : std::max<size_t>(window_, left + 1));
    ContinueLexerText(lexer, part_.c_str(), static_cast<uint32_t>(part_.size()));
    return true;
  }

  uint32_t feeds = 0;
  uint32_t rests = 0;
  uint32_t fail_at = 0;  // the feed that fails (0: none)

 private:
  const std::string& text_;
  const size_t window_;
  size_t passed_ = 0;
  std::string part_;
};

class DirectEncodingTest : public DocumentParserTest {
 protected:
  void SetUp() override {
    DocumentParserTest::SetUp();
    ASSERT_NE(AddClass(registry_, "cFull",
                       {{"Count", kCIntHash},
                        {"Pos", kCVector3Hash},
                        {"Target", kCPointerHash},
                        {"Kind", kWeaponTypeHash},
                        {"Flags", kUpgradeableFlagsHash},
                        {"Sub", NameHash("cPart")},
                        {"Tags", kCHashHash, 3},
                        {"Parts", NameHash("cPart"), -1},
                        {"Refs", kCPointerHash, -1},
                        {"Name", kCStringHash},
                        {"Lists", NameHash("cList"), -1}}),
              nullptr);
  }

  // `in_place`: the document is read where it stands, with the NUL after it declared, so that
  // plain values may be read without copying them (otherwise it is the lexer's own copy).
  // With a `feed`, the document is read through it (in place) instead.
  SinkOutcome ParseWithSink(const std::string& document, bool direct, uint32_t* encoded,
                            bool in_place = false, StringFeed* feed = nullptr) {
    ReleaseObjects(objects_);
    referenced_.Release();
    Lexer lexer;
    lexer.file_name.Assign("doc.txt");
    if (feed != nullptr) {
      SetLexerText(lexer, feed->part().c_str(), static_cast<uint32_t>(feed->part().size()), true);
    } else if (in_place) {
      SetLexerText(lexer, document.c_str(), static_cast<uint32_t>(document.size()), true);
    } else {
      lexer.source.Append(document.data(), static_cast<uint32_t>(document.size()));
      ResetLexer(lexer);
    }
    Lexer values;
    EncodingSink sink(registry_, core_.table, direct);
    SinkOutcome outcome{};
    outcome.parsed = ParseDocumentObjects(lexer, values, registry_, core_.table, referenced_,
                                          objects_, sink, feed);
    outcome.error = lexer.error;
    outcome.diagnostics = lexer.diagnostics.data;
    outcome.stream.assign(sink.stream.data, sink.stream.data + sink.stream.size);
    outcome.bits = sink.writer.position;
    outcome.objects = sink.objects_seen;
    outcome.refused = sink.refused;
    referenced_.ForEach([&](uint32_t key, const uint8_t&) { outcome.types.push_back(key); });
    outcome.left = objects_.count;
    if (encoded != nullptr) *encoded = sink.objects_seen - sink.objects_taken;
    return outcome;
  }

  // Parses `document` with and without direct encoding; everything must come out the same.
  // Returns how many objects were encoded directly. Then, read through windows of several
  // sizes, the document must come out as read whole.
  uint32_t ExpectSameBothWays(const std::string& document, bool in_place = false) {
    uint32_t encoded = 0;
    const SinkOutcome tree = ParseWithSink(document, false, nullptr);
    const SinkOutcome direct = ParseWithSink(document, true, &encoded, in_place);
    for (const uint32_t window : {1u, 17u, 100u, 1000u, 1u << 21}) {
      SCOPED_TRACE(testing::Message() << "window " << window);
      StringFeed feed(document, window);
      uint32_t fed_encoded = 0;
      const SinkOutcome fed = ParseWithSink(document, true, &fed_encoded, true, &feed);
      EXPECT_TRUE(fed == direct);
      EXPECT_EQ(fed_encoded, encoded);
    }
    EXPECT_EQ(direct.parsed, tree.parsed);
    EXPECT_EQ(direct.error, tree.error);
    EXPECT_EQ(direct.diagnostics, tree.diagnostics);
    EXPECT_EQ(direct.bits, tree.bits);
    EXPECT_EQ(direct.stream, tree.stream);
    EXPECT_EQ(direct.objects, tree.objects);
    EXPECT_EQ(direct.refused, tree.refused);
    EXPECT_EQ(direct.types, tree.types);
    EXPECT_EQ(direct.left, tree.left);
    return encoded;
  }

  static std::string FullObject(const std::string& id, const std::string& kind) {
    return "cFull " + id +
           " {\n\tCount = \"-12\"\n\tPos = \"1.5,2,-0.25\"\n\tTarget = \"@'Crate_B'\" //cItem\n"
           "\tKind = \"" +
           kind +
           "\"\n\tFlags = \"UPGRADEABLE_SUCTION\"\n"
           "\tSub = {\n\t\tCount = \"3\"\n\t}\n\tTags = [\n\t\t\"1\"\n\t\t\"Name\"\n\t]\n"
           "\tParts = [\n\t{\n\t\tCount = \"4\"\n\t}\n\t{\n\t\tCount = \"5\"\n\t}\n\t]\n"
           "\tRefs = [\n\t\t\"@9\"\n\t\t\"@10\"\n\t]\n\tName = \"a \\\"quoted\\\" name\"\n"
           "\tLists = [\n\t{\n\t\tParts = [\n\t\t{\n\t\t\tCount = \"6\"\n\t\t}\n\t\t]\n\t}\n"
           "\t{\n\t\tParts = [\n\t\t]\n\t}\n\t]\n}\n";
  }
};

// Objects whose fields stand in declaration order are encoded while they are read; the bits,
// messages, object count and referenced types are those of reading trees and encoding them.
TEST_F(DirectEncodingTest, InOrderObjectsAreEncodedStraightAndExactlyAsTheirTrees) {
  const std::string document = FullObject("1", "weapon_type_not_gun") +
                               "cPart 42 {\n\tCount = \"1\"\n}\n" +
                               FullObject("'Second'", "Bogus") + "cList 3 {\n\tParts = [\n\t]\n}\n";
  EXPECT_EQ(ExpectSameBothWays(document), 4u);
  EXPECT_TRUE(ParseWithSink(document, true, nullptr).parsed);
  EXPECT_NE(ParseWithSink(document, true, nullptr).diagnostics.find("Unknown name \"Bogus\""),
            std::string::npos);
}

// Whatever the tree would be refused for, or read differently, is read as a tree: fields out
// of order, missing or given twice, inline objects, classes with shared field names, errors
// of every kind, nesting at and past the limits. Each must come out as without direct encoding.
TEST_F(DirectEncodingTest, EveryOtherObjectComesOutAsItsTreeWould) {
  ASSERT_NE(AddClass(registry_, "cTwice",
                     {{"Value", kCIntHash}, {"Other", kCIntHash}, {"Value", kCStringHash}}),
            nullptr);
  const std::string part = "cPart 42 {\n\tCount = \"1\"\n}\n";
  // cChain0 { Next: cChain1 } ... cChain256 { Count }: a valid object whose innermost class
  // value is as deep as a body may be.
  for (int i = 0; i <= 256; ++i) {
    const std::string name = "cChain" + std::to_string(i);
    const std::string next = "cChain" + std::to_string(i + 1);
    ASSERT_NE(i < 256 ? AddClass(registry_, name.c_str(), {{"Next", NameHash(next.c_str())}})
                      : AddClass(registry_, name.c_str(), {{"Count", kCIntHash}}),
              nullptr);
  }
  const std::string chain =
      "cChain0 1 {\n" + Nested(256, "Next = {\n") + "Count = \"1\"\n" + Nested(257, "}\n");
  // A library field whose stored hash is not that of its name: the tree path looks fields up
  // by hash, so the name as written is an unknown field.
  ClassType* odd = AddClass(registry_, "cOdd", {{"Count", kCIntHash}});
  ASSERT_NE(odd, nullptr);
  odd->fields[0].name_hash = NameHash("Other");
  const struct {
    std::string document;
    uint32_t encoded;
  } cases[] = {
      {part + "cPair 2 {\n\tB = {\n\t\tCount = \"2\"\n\t}\n\tA = \"1\"\n}\n" + part, 2},
      {"cPair 2 {\n\tA = \"1\"\n}\n" + part, 0},
      {"cPair 2 {\n\tA = \"1\"\n\tA = \"1\"\n\tB = {\n\t\tCount = \"2\"\n\t}\n}\n" + part, 1},
      {"cPair 2 {\n\tA = \"1\"\n\tB = {\n\t}\n}\n" + part, 0},
      {"cLink 1 {\n\tNext = cLink 2 {\n\t\tNext = \"@1\"\n\t}\n}\n" + part, 1},
      {"cItem 1 {\n\tRefs = [\n\t\t\"@3\"\n\t\tcLink 4 {\n\t\t\tNext = \"@1\"\n\t\t}\n\t]\n}\n", 0},
      {"cTwice 1 {\n\tValue = \"5\"\n\tOther = \"6\"\n\tValue = \"7\"\n}\n" + part, 0},
      {part + "cPart 43 {\n\tCount = \"x\"\n}\n" + part, 1},
      {part + "cPart 43 {\n\tCount = 5\n}\n", 1},
      {part + "cPart 43 {\n\tCount = \"\xFF\"\n}\n", 1},
      {part + "cPart 43 {\n\tBogus = \"1\"\n}\n", 1},
      {part + "cItem 1 {\n\tTags = [\n\t\t\"1\"\n\t\t\"2\"\n\t\t\"3\"\n\t\t\"4\"\n\t]\n}\n", 1},
      {part + "cPart 43 {\n\tCount = \"1\"\n", 1},
      {"cDeep 1 {\n" + Nested(255, "Next = {\n") + Nested(256, "}\n") + part, 0},
      {chain + part, 2},
      {"cOdd 1 {\n\tCount = \"1\"\n}\n" + part, 0},
      {"cOdd 1 {\n\tOther = \"1\"\n}\n" + part, 2},
      {part + "cPart 43 {\n\t// a comment\n\tCount /* here */ = \"1\"\n}\n", 2},
      {part + "cPart 43 {\n\tCount2 = \"1\"\n}\n", 1},
      {part + "cPart 43 {\n\tCount= \"1\"}cPart 44{Count=\"2\"}", 3},
      {chain.substr(0, chain.size() / 2), 0},
      {"cDeep 1 {\n" + Nested(256, "Next = {\n") + Nested(257, "}\n") + part, 0},
      {"cDeep 1 {\n" + Nested(257, "Next = {\n"), 0},
      // IDs that a part's end may cut into another ID: whole, they are no ID at all.
      {"cPart 666666666666666666666666666666666666 {\n\tCount = \"1\"\n}\n", 0},
      {"cPart 12345678901234567.5 {\n\tCount = \"1\"\n}\n", 0},
      {part + "cPart 1234567890abc {\n\tCount = \"1\"\n}\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.document.substr(0, 200));
    EXPECT_EQ(ExpectSameBothWays(c.document), c.encoded);
  }
}

// Values read where they stand in a document of gentext's form (CR LF line ends): every text
// in the plain form or close to it, in a field's line and in an array's element lines, comes
// out as its tree does, whether the plain reader takes it or the line is read token by token.
TEST_F(DirectEncodingTest, ValuesReadWhereTheyStandComeOutAsTheirTrees) {
  const char* const counts[] = {"-12", "0",   "+5",   "1 ",  "99999999999999999999", "0x10", "",
                                "1e3", "--1", "1\\n", "1.5", "4294967296",           "-"};
  const char* const positions[] = {"1.5,2,-0.25", "1.5, 2,3", "1,2",  "1,2,3,4", "INF,-NAN,1",
                                   "1e400,0,0",   "1.,2,3",   ",1,2", "1,2,3 ",  "-0,1E-3,7"};
  const char* const targets[] = {"@9", "@ 9", "@'Crate_B'", "9", "@-9", "@"};
  const char* const tags[] = {"1", "Name", "-5", "1 2", "'x'"};
  // Enumeration, flag and string values, whose texts are handed over where they stand.
  const char* const kinds[] = {"weapon_type_not_gun",
                               "WEAPON_TYPE_ANY",
                               "Bogus",
                               "1",
                               "/* 2 */",
                               "-1",
                               "",
                               "true",
                               "a\\\"b"};
  const char* const flag_sets[] = {"UPGRADEABLE_SUCTION",
                                   "upgradeable_suction,UPGRADEABLE_DEATH_EXPLOSION",
                                   "",
                                   "UPGRADEABLE_SUCTION,",
                                   ",UPGRADEABLE_SUCTION",
                                   "Bogus,UPGRADEABLE_SUCTION",
                                   "3",
                                   "UPGRADEABLE_SUCTION, UPGRADEABLE_DEATH_EXPLOSION",
                                   "UpgradeableFlags@UPGRADEABLE_SUCTION",
                                   "true"};
  const char* const names[] = {"n",           "",
                               "a \\\"q\\\"", "\xC3\xA9t\xC3\xA9",
                               "tab\there",   "a name longer than one block of sixteen bytes"};
  const auto object = [](int id, const char* count, const char* position, const char* target,
                         const char* tag, const char* kind = "weapon_type_not_gun",
                         const char* flags = "UPGRADEABLE_SUCTION", const char* name = "n") {
    return "cFull " + std::to_string(id) + " {\r\n\tCount = \"" + count + "\"\r\n\tPos = \"" +
           position + "\"\r\n\tTarget = \"" + target + "\" //cItem\r\n\tKind = \"" + kind +
           "\"\r\n\tFlags = \"" + flags + "\"\r\n\tSub = {\r\n\t\tCount = \"" + count +
           "\"\r\n\t}\r\n\tTags = [\r\n\t\t\"" + tag + "\"\r\n\t\t\"" + count +
           "\"\r\n\t]\r\n\tParts = [\r\n\t]\r\n\tRefs = [\r\n\t\t\"" + target +
           "\"\r\n\t]\r\n\tName = \"" + name + "\"\r\n\tLists = [\r\n\t]\r\n}";
  };
  const std::string part = "\r\ncPart 42 {\r\n\tCount = \"1\"\r\n}";
  uint32_t encoded = 0;
  int id = 1;
  for (const char* count : counts) {
    for (const char* position : positions) {
      ++id;
      const std::string document = object(id, count, position, targets[id % std::size(targets)],
                                          tags[id % std::size(tags)]) +
                                   part;
      SCOPED_TRACE(document);
      encoded += ExpectSameBothWays(document, true);
    }
  }
  for (const char* target : targets) {
    for (const char* tag : tags) {
      const std::string document = object(++id, "7", "1,2,3", target, tag) + part;
      SCOPED_TRACE(document);
      encoded += ExpectSameBothWays(document, true);
    }
  }
  for (const char* kind : kinds) {
    for (const char* flags : flag_sets) {
      ++id;
      const std::string document =
          object(id, "7", "1,2,3", "@9", "1", kind, flags, names[id % std::size(names)]) + part;
      SCOPED_TRACE(document);
      encoded += ExpectSameBothWays(document, true);
    }
  }
  // The plain objects and the cPart after each object are encoded directly.
  EXPECT_GT(encoded, 200u);
}

// A long document read through a window a little larger than what the parse keeps of a part
// is read part by part, every object encoded straight from its part, none read again; the
// outcome is that of reading it whole. A feed that fails ends the parse without a message.
TEST_F(DirectEncodingTest, LongDocumentsReadInPartsComeOutAsReadWhole) {
  std::string document;
  for (int i = 1; i <= 9000; ++i) {
    document += FullObject(std::to_string(i), i % 7 == 0 ? "Bogus" : "weapon_type_not_gun");
  }
  ASSERT_GT(document.size(), 3u << 20);
  uint32_t encoded = 0;
  const SinkOutcome whole = ParseWithSink(document, true, &encoded, true);
  EXPECT_TRUE(whole.parsed);
  EXPECT_EQ(encoded, 9000u);
  for (const uint32_t window : {(128u << 10) + 3000, 3u << 17, 1u << 20}) {
    SCOPED_TRACE(window);
    StringFeed feed(document, window);
    uint32_t fed_encoded = 0;
    EXPECT_TRUE(ParseWithSink(document, true, &fed_encoded, true, &feed) == whole);
    EXPECT_EQ(fed_encoded, 9000u);
    EXPECT_GE(feed.feeds, document.size() / window);
    EXPECT_EQ(feed.rests, 0u);
  }
  StringFeed failing(document, 1u << 20);
  failing.fail_at = 2;
  const SinkOutcome failed = ParseWithSink(document, true, nullptr, true, &failing);
  EXPECT_FALSE(failed.parsed);
  EXPECT_FALSE(failed.error);
  EXPECT_EQ(failed.diagnostics, whole.diagnostics.substr(0, failed.diagnostics.size()));
}

// An object that a part's end cuts short is read again from a part that starts with it, and
// only one longer than the window from the whole rest of the document. Here the parts are
// 1 MiB: small objects fill most of the first (less than the 128 KiB the parse keeps back),
// so the large object after them (about 240 KB) is cut; a larger one (about 1.2 MB) comes
// later. Both come out as read whole.
TEST_F(DirectEncodingTest, ObjectsCutShortByAPartAreReadAgainFromAPartThatStartsWithThem) {
  const auto large = [](int id, int refs) {
    std::string object = FullObject(std::to_string(id), "Bogus");
    const std::string list = "\tRefs = [\n\t\t\"@9\"\n\t\t\"@10\"\n\t]\n";
    std::string longer = "\tRefs = [\n";
    for (int i = 0; i < refs; ++i) longer += "\t\t\"@" + std::to_string(i % 1000) + "\"\n";
    return object.replace(object.find(list), list.size(), longer + "\t]\n");
  };
  std::string document;
  int id = 0;
  while (document.size() < 880000) document += FullObject(std::to_string(++id), "Bogus");
  ASSERT_LT(document.size(), (1u << 20) - (128u << 10));
  const size_t cut_at = document.size();
  document += large(++id, 30000);
  ASSERT_GT(document.size(), (1u << 20) + 4096);
  ASSERT_LT(document.size() - cut_at, (1u << 20) - 4096);
  for (int i = 0; i < 2000; ++i) document += FullObject(std::to_string(++id), "WEAPON_TYPE_ANY");
  document += large(++id, 150000);
  document += FullObject(std::to_string(++id), "Bogus");
  uint32_t encoded = 0;
  const SinkOutcome whole = ParseWithSink(document, true, &encoded, true);
  EXPECT_TRUE(whole.parsed);
  EXPECT_EQ(encoded, static_cast<uint32_t>(id));
  StringFeed feed(document, 1u << 20);
  uint32_t fed_encoded = 0;
  EXPECT_TRUE(ParseWithSink(document, true, &fed_encoded, true, &feed) == whole);
  EXPECT_EQ(fed_encoded, encoded);
  EXPECT_EQ(feed.rests, 1u);  // for the object longer than the window only
  // Without the larger object, no object needs the whole rest.
  const std::string shorter = document.substr(0, cut_at) + large(9999, 30000);
  const SinkOutcome shorter_whole = ParseWithSink(shorter, true, nullptr, true);
  StringFeed shorter_feed(shorter, 1u << 20);
  EXPECT_TRUE(ParseWithSink(shorter, true, nullptr, true, &shorter_feed) == shorter_whole);
  EXPECT_EQ(shorter_feed.feeds, 1u);
  EXPECT_EQ(shorter_feed.rests, 0u);
}

// String values are parsed into the text block of the one before: growing, shrinking and empty
// strings in turn must each come out as read into a fresh tree.
TEST_F(DirectEncodingTest, StringsLongAndShortInTurnComeOutAsTheirTrees) {
  ASSERT_NE(AddClass(registry_, "cNamed", {{"Name", kCStringHash}, {"Note", kCStringHash}}),
            nullptr);
  std::string document;
  const size_t lengths[] = {40, 3, 0, 17, 1, 64, 0, 0, 5, 200, 2};
  for (size_t i = 0; i + 1 < std::size(lengths); ++i) {
    document += "cNamed " + std::to_string(i + 1) + " {\n\tName = \"" +
                std::string(lengths[i], static_cast<char>('a' + i)) + "\"\n\tNote = \"" +
                std::string(lengths[i + 1], 'z') + "\"\n}\n";
  }
  EXPECT_EQ(ExpectSameBothWays(document), std::size(lengths) - 1);
}

// Random damage to a document of in-order objects: each damaged document must come out the
// same with direct encoding as without, whatever the damage does to it.
TEST_F(DirectEncodingTest, DamagedDocumentsComeOutTheSameEitherWay) {
  const std::string base = FullObject("1", "weapon_type_not_gun") +
                           "cPart 42 {\n\tCount = \"1\"\n}\n" + FullObject("2", "Bogus") +
                           "cLink 5 {\n\tNext = \"@1\"\n}\n";
  std::vector<std::string> lines;
  for (size_t start = 0; start < base.size();) {
    const size_t end = base.find('\n', start);
    lines.push_back(base.substr(start, end - start + 1));
    start = end + 1;
  }
  std::mt19937 rng(11);
  uint32_t encoded_somewhere = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<std::string> damaged = lines;
    const size_t at = rng() % damaged.size();
    std::string text;
    switch (rng() % 5) {
      case 0:
        damaged.erase(damaged.begin() + static_cast<long>(at));
        break;
      case 1:
        damaged.insert(damaged.begin() + static_cast<long>(at), damaged[at]);
        break;
      case 2:
        std::swap(damaged[at], damaged[(at + 1) % damaged.size()]);
        break;
      default:
        break;
    }
    for (const std::string& line : damaged) text += line;
    if (round % 5 >= 3) {
      const size_t byte = rng() % text.size();
      if (round % 5 == 3) {
        text.resize(byte);
      } else {
        text[byte] = static_cast<char>(" \"{}[]=@x1\xFF\t\n"[rng() % 14]);
      }
    }
    SCOPED_TRACE(text);
    encoded_somewhere += ExpectSameBothWays(text) != 0 ? 1 : 0;
  }
  EXPECT_GT(encoded_somewhere, 100u);
}

}  // namespace
