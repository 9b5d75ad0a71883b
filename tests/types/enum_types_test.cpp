// tests/types/enum_types_test.cpp
#include "types/enum_types.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
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

// "<value> <diagnostics>", or "refused"; as if the text stood on line `line` (0-based).
std::string Parse(const CCoreType& type, const char* text, uint32_t line = 0) {
  Lexer lexer;
  lexer.source.Assign(text);
  lexer.file_name.Assign("level.txt");
  ResetLexer(lexer);
  lexer.line = line;
  ValueNode node = Node(0xDEADBEEF);
  if (!type.ParseValue(lexer, node, nullptr)) return "refused";
  return std::to_string(node.payload.word) + " " + lexer.diagnostics.data;
}

std::string Format(const CCoreType& type, uint32_t word) {
  CStringBufferA out("stale");
  CStringBufferA comment("kept");
  EXPECT_TRUE(type.FormatValue(out, Node(word), nullptr, comment));
  EXPECT_STREQ(comment.data, "kept");
  return out.data;
}

// "<bit count>:<field>" of the written field, or "refused" (then nothing was written).
std::string Write(const CCoreType& type, uint32_t word) {
  ByteBuffer buffer;
  BitWriter writer(buffer);
  if (!type.WriteValue(writer, FieldInfo{}, Node(word))) {
    return writer.position == 0 && !writer.failed ? "refused" : "refused with bits";
  }
  return std::to_string(writer.position) + ":" +
         std::to_string(ReadBits(buffer.data, 0, writer.position));
}

// The value a field holding `field` reads as; checks the read consumed `bits`.
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
    ASSERT_EQ(Parse(type, text.c_str()), std::to_string(word) + " ") << row.name;
    ASSERT_EQ(Write(type, word), std::to_string(row.bits) + ":" + std::to_string(field)) << text;
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
    const bool is_enum = row.kind == EnumTypeKind::kEnum;
    enums += is_enum;
    EXPECT_EQ(dynamic_cast<const CEnumCoreType*>(type) != nullptr, is_enum) << row.name;
    EXPECT_EQ(dynamic_cast<const CFlagCoreType*>(type) != nullptr, !is_enum) << row.name;
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
    EXPECT_EQ(Write(type, highest + 1 + uint32_t(row.minimum)), "refused") << row.name;
    if (row.kind == EnumTypeKind::kEnum) {
      EXPECT_EQ(Write(type, uint32_t(row.minimum) - 1), "refused") << row.name;
      EXPECT_EQ(Parse(type, "'quoted'"),
                std::to_string(uint32_t(row.fallback)) +
                    " level.txt(1) warning: Unknown name \"'quoted'\" for " + row.name +
                    ", using fallback.\n");
      ExpectRoundTrips(row, uint32_t(row.fallback - row.minimum),
                       uint32_t(row.fallback - row.minimum));
    }
  }
}

TEST(EnumCoreTypeTest, StoresTheValueMinusTheMinimum) {
  const CCoreType& locker = Type("cLockerCooldown");
  EXPECT_EQ(Write(locker, 60), "6:30");
  EXPECT_EQ(Read(locker, 6, 0), 30u);
  EXPECT_EQ(Format(locker, 30), "LOCKER_COOLDOWN_FAST");
  const CCoreType& success = Type("cFSMissionSuccessState");
  EXPECT_EQ(Write(success, uint32_t(-1)), "3:0");
  EXPECT_EQ(Read(success, 3, 7), 6u);
  EXPECT_EQ(Format(success, 6), "6");
  EXPECT_EQ(Format(success, uint32_t(-1)), "SUCCESS_ANY");
  EXPECT_EQ(Write(Type("cDamageAmount"), 1u << 20), "refused");
  EXPECT_EQ(Write(Type("cUpgradeableFlags"), 4), "refused");
  const uint8_t byte = 0xFF;
  BitReader reader(&byte, 1);
  ValueNode node = Node(0);
  EXPECT_TRUE(locker.ReadValue(reader, FieldInfo{}, node));
  EXPECT_FALSE(locker.ReadValue(reader, FieldInfo{}, node));
}

TEST(EnumCoreTypeTest, NamesPrintAndReadIgnoringCase) {
  const CCoreType& weapon = Type("cWeaponType");
  EXPECT_EQ(Format(weapon, 0), "WEAPON_TYPE_GUN");
  EXPECT_EQ(Format(weapon, 3), "3");
  EXPECT_EQ(Format(Type("cDamageAmount"), 0), "NONE");
  EXPECT_EQ(Format(Type("cControllerState"), 1), "STATE_PLAY");
  EXPECT_EQ(Format(Type("cControllerState"), 3), "3");
  EXPECT_EQ(Parse(weapon, "weapon_type_gun"), "0 ");
  EXPECT_EQ(Parse(weapon, "WEAPON_TYPE_NOT_GUN"), "1 ");
  EXPECT_EQ(Parse(weapon, "Weapon_Type_Any"), "2 ");
  EXPECT_EQ(Parse(Type("cUpgradeableFlags"), "UPGRADEABLE_SUCTION,upgradeable_death_explosion"),
            "3 ");
  EXPECT_EQ(Parse(Type("cDamageAmount"), "invalid"), "0 ");
  EXPECT_EQ(Parse(Type("cControllerState"), "ControllerState@STATE_ANY"), "127 ");
  EXPECT_EQ(Parse(Type("cControllerState"), "controllerstate@state_fe_map"), "512 ");
  EXPECT_EQ(Parse(weapon, "+3"), "3 ");
  EXPECT_EQ(Parse(Type("cFSMissionSuccessState"), "-1"), "4294967295 ");
  EXPECT_EQ(Parse(weapon, "/* 3 */"), "3 ");
  EXPECT_EQ(Parse(weapon, "/*-2*/"), "4294967294 ");
  EXPECT_EQ(Parse(Type("cAnimSetHint"), "2147483647"), "2147483647 ");
  EXPECT_EQ(Parse(Type("cAnimSetHint"), "-2147483648"), "2147483648 ");
}

TEST(EnumCoreTypeTest, UnreadableTextBecomesTheFallbackWithAWarning) {
  const CCoreType& weapon = Type("cWeaponType");
  for (const char* text : {"knife", "", " 1", "1 ", "2147483648", "99999999999999999999", "1.5",
                           "0x1", "/* */", "/* 1", "--1", "WEAPON_TYPE_GUN,"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Parse(weapon, text, 41), "2 level.txt(42) warning: Unknown name \"" +
                                           std::string(text) +
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
  const CCoreType& flags = Type("cUpgradeableFlags");
  EXPECT_EQ(Parse(flags, ""), "0 ");
  EXPECT_EQ(Parse(flags, "UPGRADEABLE_SUCTION"), "2 ");
  EXPECT_EQ(Parse(flags, "UpgradeableFlags@UPGRADEABLE_SUCTION"), "2 ");
  EXPECT_EQ(Parse(flags, "upgradeable_suction , Upgradeable_Death_Explosion"), "3 ");
  EXPECT_EQ(Parse(flags, "UPGRADEABLE_DEATH_EXPLOSION,4"), "5 ");
  EXPECT_EQ(Parse(flags, "4,8"), "12 ");
  EXPECT_EQ(Parse(flags, "4294967297"), "1 ");
  EXPECT_EQ(Parse(flags, "A,UPGRADEABLE_SUCTION", 7),
            "2 level.txt(8) warning: Unknown name \"A\" for cUpgradeableFlags, ignored.\n");
  for (const char* text : {"UPGRADEABLE_SUCTION,", "UPGRADEABLE_SUCTION UPGRADEABLE_SUCTION",
                           "'UPGRADEABLE_SUCTION'", "1.x"}) {
    EXPECT_EQ(Parse(flags, text), "refused") << text;
  }
}

// Whether every ","-separated piece of the text starts as a name does (no number, no blank).
bool NamesOnly(const std::string& text) {
  for (size_t start = 0; start <= text.size();) {
    const size_t comma = std::min(text.find(',', start), text.size());
    const char first = start < comma ? text[start] : '\0';
    if (!(std::isalpha(static_cast<unsigned char>(first)) || first == '_')) return false;
    start = comma + 1;
  }
  return true;
}

// ParsePlainText reads a text only to the value ParseValue reads without a warning, and no
// further than the text's length: here each text is followed by the closing quote of a
// document's string instead of a NUL. An enumeration's plain texts are all that ParseValue
// reads without a warning; a flag set's are the empty text and known names without blanks.
TEST(EnumCoreTypeTest, PlainTextsReadAsParseValueReadsThemWithoutWarning) {
  const std::string long_name = "UPGRADEABLE_" + std::string(40, 'X');
  const char* const texts[] = {"",
                               "WEAPON_TYPE_GUN",
                               "weapon_type_not_gun",
                               "WEAPON_TYPE_GUNX",
                               "WEAPON_TYPE_GU",
                               " WEAPON_TYPE_GUN",
                               "WEAPON_TYPE_GUN ",
                               "1",
                               "+3",
                               "-2147483648",
                               "2147483648",
                               "/* 3 */",
                               "/*3",
                               "1x",
                               "Bogus",
                               "true",
                               "UPGRADEABLE_SUCTION",
                               "upgradeable_suction,Upgradeable_Death_Explosion",
                               "UpgradeableFlags@UPGRADEABLE_SUCTION",
                               "UPGRADEABLE_SUCTION,UPGRADEABLE_SUCTION",
                               "UPGRADEABLE_SUCTION,",
                               ",UPGRADEABLE_SUCTION",
                               "UPGRADEABLE_SUCTION,,UPGRADEABLE_SUCTION",
                               "UPGRADEABLE_SUCTION, UPGRADEABLE_DEATH_EXPLOSION",
                               "UPGRADEABLE_SUCTION,4",
                               "A,UPGRADEABLE_SUCTION",
                               "UPGRADEABLE_SUCTION,true",
                               "1UPGRADEABLE_SUCTION",
                               long_name.c_str(),
                               "STATE_ANY",
                               "ControllerState@STATE_FE_MAP"};
  for (const char* type_name : {"cWeaponType", "cUpgradeableFlags", "cControllerState",
                                "cFSMissionSuccessState", "cAnimSetHint", "cAnimStateFlag"}) {
    const CCoreType& type = Type(type_name);
    for (const char* text : texts) {
      SCOPED_TRACE(std::string(type_name) + " \"" + text + "\"");
      const std::string quoted = std::string(text) + "\"";
      ValueNode plain = Node(0xDEADBEEF);
      const bool taken =
          type.ParsePlainText(quoted.c_str(), static_cast<uint32_t>(std::strlen(text)), plain);
      const std::string parsed = Parse(type, text);
      const bool quiet = parsed != "refused" && parsed.back() == ' ';
      const bool flags = type_name == std::string("cUpgradeableFlags") ||
                         type_name == std::string("cAnimStateFlag");
      const bool plain_form = !flags || text[0] == '\0' || NamesOnly(text);
      EXPECT_EQ(taken, quiet && plain_form) << parsed;
      if (taken) {
        EXPECT_EQ(std::to_string(plain.payload.word) + " ", parsed);
      }
    }
  }
  // A NUL inside a text is no name and no number.
  ValueNode node = Node(0);
  EXPECT_FALSE(Type("cWeaponType").ParsePlainText("WEAPON\0TYPE_GUN\"", 15, node));
  EXPECT_FALSE(Type("cUpgradeableFlags").ParsePlainText("UPGRADEABLE_SUCTION\0\"", 20, node));
}

}  // namespace
