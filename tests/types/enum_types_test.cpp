// tests/types/enum_types_test.cpp
#include "types/enum_types.h"

#include <gtest/gtest.h>

#include <string>

#include "document/lexer.h"
#include "foundation/bit_stream.h"
#include "foundation/byte_buffer.h"
#include "foundation/name_hash.h"
#include "types/core_type_hashes.h"
#include "types/type_stream.h"

namespace {

const CCoreType& Type(const char* name) {
  for (const CCoreType* type = CoreTypeList; type != nullptr; type = type->next) {
    if (type->name_hash == NameHash(name)) return *type;
  }
  ADD_FAILURE() << "no core type " << name;
  return *CoreTypeList;
}

ValueNode Node(uint32_t word) {
  ValueNode node{};
  node.kind = kCHashHash;
  node.payload.word = word;
  return node;
}

struct Parsed {
  bool ok;
  uint32_t word;
  std::string diagnostics;
};

// Parses `text` as the genbin value lexer would, as if the value stood on line `line` (0-based).
Parsed Parse(const CCoreType& type, const char* text, uint32_t line = 0) {
  Lexer lexer;
  lexer.source.Assign(text);
  lexer.file_name.Assign("level.txt");
  ResetLexer(lexer);
  lexer.line = line;
  ValueNode node = Node(0xDEADBEEF);
  const bool ok = type.ParseValue(lexer, node, nullptr);
  return {ok, node.payload.word, lexer.diagnostics.data};
}

std::string Format(const CCoreType& type, uint32_t word) {
  CStringBufferA out("stale");
  CStringBufferA comment("kept");
  EXPECT_TRUE(type.FormatValue(out, Node(word), nullptr, comment));
  EXPECT_STREQ(comment.data, "kept");
  return out.data;
}

struct Written {
  bool ok;
  uint32_t bit_count;
  uint32_t field;
};

Written Write(const CCoreType& type, uint32_t word) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  const bool ok = type.WriteValue(writer, FieldInfo{}, Node(word));
  return {ok, writer.position, ok ? ReadBits(buffer.data, 0, writer.position) : 0};
}

// The value a field of `bits` bits holding `field` reads as; checks the read consumed `bits`.
uint32_t Read(const CCoreType& type, uint32_t bits, uint32_t field) {
  const uint8_t bytes[4] = {uint8_t(field), uint8_t(field >> 8), uint8_t(field >> 16),
                            uint8_t(field >> 24)};
  BitReader reader(bytes, sizeof(bytes));
  ValueNode node = Node(0);
  EXPECT_TRUE(type.ReadValue(reader, FieldInfo(), node));
  EXPECT_EQ(reader.position, bits);
  return node.payload.word;
}

// Field -> value -> text -> value -> field, for every given field value.
void ExpectRoundTrips(const EnumTypeInfo& row, uint32_t first, uint32_t last) {
  const CCoreType& type = Type(row.name);
  for (uint64_t field = first; field <= last; ++field) {
    const uint32_t word = Read(type, row.bits, uint32_t(field));
    const std::string text = Format(type, word);
    const Parsed parsed = Parse(type, text.c_str());
    ASSERT_TRUE(parsed.ok && parsed.word == word && parsed.diagnostics.empty())
        << row.name << " " << text << " " << parsed.diagnostics;
    const Written written = Write(type, word);
    ASSERT_TRUE(written.ok && written.bit_count == row.bits && written.field == field) << text;
  }
}

TEST(EnumTypeTableTest, HoldsTheGameTypesUnderDistinctNames) {
  CoreTypeTable table;
  ASSERT_TRUE(BuildCoreTypeTable(table));
  EXPECT_EQ(table.count(), 242u);  // with the 17 primitives: no two name hashes alike
  uint32_t enums = 0;
  size_t names = 0;
  for (const EnumTypeInfo& row : EnumTypeTable()) {
    const CCoreType* type = FindCoreType(table, NameHash(row.name));
    ASSERT_NE(type, nullptr) << row.name;
    EXPECT_STREQ(type->name.data, row.name);
    EXPECT_EQ(FindEnumType(row.name), &row);
    EXPECT_EQ(type->StorageTypeHash(), 0x8A8A6FB1u);
    names += row.names.size();
    if (row.kind == EnumTypeKind::kEnum) {
      ++enums;
      EXPECT_TRUE(row.bits >= 1 && row.bits <= 20) << row.name;
      EXPECT_TRUE(row.minimum == -1 || row.minimum == 0 || row.minimum == 30) << row.name;
      EXPECT_NE(dynamic_cast<const CEnumCoreType*>(type), nullptr) << row.name;
    } else {
      EXPECT_TRUE(row.bits >= 2 && row.bits <= 31) << row.name;
      EXPECT_NE(dynamic_cast<const CFlagCoreType*>(type), nullptr) << row.name;
    }
  }
  EXPECT_EQ(enums, 191u);
  EXPECT_EQ(EnumCoreTypeCount() - enums, 34u);
  EXPECT_EQ(names, 32u);
  EXPECT_EQ(FindEnumType("cControllerState")->names.size(), 10u);
  EXPECT_EQ(FindEnumType("cDamageAmount")->names.size(), 6u);
  EXPECT_EQ(FindEnumType("cweapontype"), nullptr);
  EXPECT_EQ(FindEnumType("cInt"), nullptr);
  EXPECT_EQ(FindEnumType(nullptr), nullptr);
}

TEST(EnumTypeTableTest, EveryTypeKeepsItsLowestHighestAndFallbackValues) {
  for (const EnumTypeInfo& row : EnumTypeTable()) {
    const uint32_t highest = uint32_t((uint64_t{1} << row.bits) - 1);
    ExpectRoundTrips(row, 0, 1);
    ExpectRoundTrips(row, highest - 1, highest);
    const CCoreType& type = Type(row.name);
    EXPECT_FALSE(Write(type, highest + 1 + uint32_t(row.minimum)).ok) << row.name;
    if (row.kind == EnumTypeKind::kEnum) {
      EXPECT_FALSE(Write(type, uint32_t(row.minimum) - 1).ok) << row.name;
      EXPECT_EQ(Parse(type, "'quoted'").word, uint32_t(row.fallback)) << row.name;
      ExpectRoundTrips(row, uint32_t(row.fallback - row.minimum),
                       uint32_t(row.fallback - row.minimum));
    }
  }
}

TEST(EnumTypeTableTest, EveryFieldValueReadsFormatsAndParsesBack) {
  for (const char* name : {"cWeaponType", "cLockerCooldown", "cFSMissionSuccessState",
                           "cWeaponClass", "cControllerState", "cActorAssetType",
                           "cUpgradeableFlags", "cAnimChoiceFlag", "cAudioVolumeFlag"}) {
    const EnumTypeInfo& row = *FindEnumType(name);
    ExpectRoundTrips(row, 0, uint32_t((uint64_t{1} << row.bits) - 1));
  }
}

TEST(EnumCoreTypeTest, StoresTheValueMinusTheMinimum) {
  const CCoreType& locker = Type("cLockerCooldown");
  EXPECT_EQ(Write(locker, 60).field, 30u);
  EXPECT_EQ(Read(locker, 6, 0), 30u);
  EXPECT_EQ(Format(locker, 30), "LOCKER_COOLDOWN_FAST");
  const CCoreType& success = Type("cFSMissionSuccessState");
  EXPECT_EQ(Write(success, uint32_t(-1)).field, 0u);
  EXPECT_EQ(Read(success, 3, 7), 6u);
  EXPECT_EQ(Format(success, 6), "6");
  EXPECT_EQ(Format(success, uint32_t(-1)), "SUCCESS_ANY");
}

TEST(EnumCoreTypeTest, FailuresLeaveTheStream) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  EXPECT_FALSE(Type("cDamageAmount").WriteValue(writer, FieldInfo{}, Node(1u << 20)));
  EXPECT_FALSE(Type("cUpgradeableFlags").WriteValue(writer, FieldInfo{}, Node(4)));
  EXPECT_EQ(writer.position, 0u);
  EXPECT_FALSE(writer.failed);
  const uint8_t byte = 0xFF;
  BitReader reader(&byte, 1);
  ValueNode node = Node(0);
  EXPECT_TRUE(Type("cLockerCooldown").ReadValue(reader, FieldInfo{}, node));
  EXPECT_FALSE(Type("cLockerCooldown").ReadValue(reader, FieldInfo{}, node));
}

TEST(EnumCoreTypeTest, NamesPrintAndReadIgnoringCase) {
  const CCoreType& weapon = Type("cWeaponType");
  EXPECT_EQ(Format(weapon, 0), "WEAPON_TYPE_GUN");
  EXPECT_EQ(Format(weapon, 3), "3");
  EXPECT_EQ(Format(Type("cDamageAmount"), 0), "NONE");
  EXPECT_EQ(Format(Type("cControllerState"), 1), "STATE_PLAY");
  EXPECT_EQ(Format(Type("cControllerState"), 3), "3");
  const struct {
    const char* type;
    const char* text;
    uint32_t word;
  } cases[] = {
      {"cWeaponType", "weapon_type_gun", 0},
      {"cDamageAmount", "invalid", 0},
      {"cControllerState", "ControllerState@STATE_ANY", 127},
      {"cControllerState", "controllerstate@state_fe_map", 512},
      {"cWeaponType", "+3", 3},
      {"cFSMissionSuccessState", "-1", uint32_t(-1)},
      {"cWeaponType", "/* 3 */", 3},
      {"cWeaponType", "/*-2*/", uint32_t(-2)},
      {"cAnimSetHint", "2147483647", 2147483647u},
      {"cAnimSetHint", "-2147483648", 0x80000000u},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Parsed parsed = Parse(Type(c.type), c.text);
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.word, c.word);
    EXPECT_EQ(parsed.diagnostics, "");
  }
}

TEST(EnumCoreTypeTest, UnreadableTextBecomesTheFallbackWithAWarning) {
  const CCoreType& weapon = Type("cWeaponType");
  for (const char* text : {"knife", "", " 1", "1 ", "2147483648", "99999999999999999999", "1.5",
                           "0x1", "/* */", "/* 1", "--1", "WEAPON_TYPE_GUN,"}) {
    SCOPED_TRACE(text);
    const Parsed parsed = Parse(weapon, text, 41);
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.word, 2u);
    EXPECT_EQ(parsed.diagnostics, "level.txt(42) warning: Unknown name \"" + std::string(text) +
                                      "\" for cWeaponType, using fallback.\n");
  }
}

TEST(FlagCoreTypeTest, SetFlagsPrintAsNamesThenOneNumber) {
  const CCoreType& flags = Type("cUpgradeableFlags");
  EXPECT_EQ(Format(flags, 0), "");
  EXPECT_EQ(Format(flags, 2), "UPGRADEABLE_SUCTION");
  EXPECT_EQ(Format(flags, 3), "UPGRADEABLE_DEATH_EXPLOSION,UPGRADEABLE_SUCTION");
  EXPECT_EQ(Format(flags, 5), "UPGRADEABLE_DEATH_EXPLOSION,4");
  EXPECT_EQ(Format(flags, 0xFFFFFFFC), "4294967292");
  EXPECT_EQ(Format(Type("cAnimStateFlag"), 0x40000001), "1073741825");
}

TEST(FlagCoreTypeTest, ParsesNamesAndNumbers) {
  const struct {
    const char* text;
    bool ok;
    uint32_t word;
    const char* diagnostics;
  } cases[] = {
      {"", true, 0, ""},
      {"UPGRADEABLE_SUCTION", true, 2, ""},
      {"UpgradeableFlags@UPGRADEABLE_SUCTION", true, 2, ""},
      {"upgradeable_suction , Upgradeable_Death_Explosion", true, 3, ""},
      {"UPGRADEABLE_DEATH_EXPLOSION,4", true, 5, ""},
      {"4,8", true, 12, ""},
      {"4294967297", true, 1, ""},
      {"A,UPGRADEABLE_SUCTION", true, 2,
       "level.txt(8) warning: Unknown name \"A\" for cUpgradeableFlags, ignored.\n"},
      {"UPGRADEABLE_SUCTION,", false, 0, nullptr},
      {"UPGRADEABLE_SUCTION UPGRADEABLE_SUCTION", false, 0, nullptr},
      {"'UPGRADEABLE_SUCTION'", false, 0, nullptr},
      {"1.x", false, 0, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const Parsed parsed = Parse(Type("cUpgradeableFlags"), c.text, 7);
    EXPECT_EQ(parsed.ok, c.ok);
    if (c.ok) {
      EXPECT_EQ(parsed.word, c.word);
      EXPECT_EQ(parsed.diagnostics, c.diagnostics);
    }
  }
}

}  // namespace
