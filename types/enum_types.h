// types/enum_types.h - the game's enumeration and flag-set value types.
//
// An enumeration field stores one small signed integer, a flag-set field a bit mask; both keep
// the value as the 32-bit `word` of the cHash payload and read it in a text document by the
// names of the type's names table. Each type is a core type: a static object of
// TEnumCoreType<Bits, Minimum, Fallback> or TFlagCoreType<Bits>, constructed at start-up from
// one row of the type table in enum_types.cpp. The templates are thin: the behaviour lives in
// CEnumCoreType and CFlagCoreType, the template arguments only fix the parameters.
//
// Bit form (the field's quantization is ignored):
//
//   enumeration   Bits bits holding value - Minimum, so the values Minimum .. Minimum + 2^Bits - 1
//   flag set      Bits bits holding the mask itself
//
// A value outside that range cannot be stored: WriteValue fails and leaves the stream as it
// is, rather than write other bits than the value's. Reading cannot produce such a value.
//
// Text form:
//
//   enumeration   the name of the first entry with the value; a value no entry names prints
//                 as "%d". Read back: an entry name (ASCII case ignored), else a decimal
//                 integer with optional sign, else "/* N */"; any other text becomes Fallback
//                 with the warning: Unknown name "<text>" for <type>, using fallback.
//   flag set      the names of the set flags in table order, then one "%u" for the set bits
//                 no entry names, separated by "," without spaces; 0 is the empty text.
//                 Read back: identifiers and numbers separated by ","; a name ORs in every
//                 entry of that name (ASCII case ignored), a number the low 32 bits of its
//                 value; an unknown name adds nothing and warns:
//                 Unknown name "<text>" for <type>, ignored.
//
// Warnings go to the value lexer's diagnostics (ReportWarning) under its file name and line;
// whoever resets the lexer over a value sets those to the value's place in the document and
// passes the lines on, since a reset empties them.
//
// Names tables list entries in priority order: the first entry with a value names it, so a
// value may have several names. Flag tables list each plain name first and then the name
// qualified with the type name without its "c" ("UpgradeableFlags@UPGRADEABLE_SUCTION"); every
// flag entry has exactly one bit set.
#pragma once

#include <cstdint>
#include <span>

#include "types/core_type.h"

/// One named value of an enumeration or flag-set type.
struct EnumName {
  constexpr EnumName(const char* entry_name, int32_t entry_value)
      : name(entry_name), value(entry_value), length(TextLength(entry_name)) {}

  const char* name;
  int32_t value;
  uint32_t length;  // of the name, worked out when the program is built

 private:
  static constexpr uint32_t TextLength(const char* text) {
    uint32_t count = 0;
    while (text[count] != '\0') ++count;
    return count;
  }
};

enum class EnumTypeKind : uint8_t {
  kEnum = 0,
  kFlags = 1,
};

/// One row of the type table: an enumeration or flag-set type with its parameters and names.
/// `minimum` and `fallback` are 0 for flag sets and have no meaning there.
struct EnumTypeInfo {
  const char* name;
  EnumTypeKind kind;
  uint32_t bits;
  int32_t minimum;
  int32_t fallback;
  std::span<const EnumName> names;
};

/// Every enumeration and flag-set type the program knows, sorted by name ignoring case.
std::span<const EnumTypeInfo> EnumTypeTable();

/// The row of the type whose name is exactly `name` (case-sensitive, like every type name),
/// or null when there is none or `name` is null.
const EnumTypeInfo* FindEnumType(const char* name);

/// Behaviour of every enumeration type; TEnumCoreType fixes the parameters.
class CEnumCoreType : public CCoreType {
 public:
  /// Fails (stream untouched) when the value is outside Minimum .. Minimum + 2^Bits - 1.
  bool WriteValue(BitWriter& writer, const FieldInfo& field, const ValueNode& value) const override;
  /// Reads Bits bits and adds Minimum; a failed read gives Minimum and returns false.
  bool ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const override;
  /// Takes the lexer's whole source text as the value's text. Always succeeds; an unreadable
  /// text gives Fallback and a warning on the lexer.
  bool ParseValue(Lexer& lexer, ValueNode& value, void* unused) const override;
  /// An entry name or one of the number forms: every text that ParseValue reads without a
  /// warning, to the same value.
  bool ParsePlainText(const char* text, uint32_t length, ValueNode& value) const override;
  /// The entry name, or "%d" for an unnamed value. Leaves `comment` untouched.
  bool FormatValue(CStringBufferA& out, const ValueNode& value, void* unused,
                   CStringBufferA& comment) const override;
  /// The cHash payload form.
  uint32_t StorageTypeHash() const override;
  bool FixedBitWidth(const FieldInfo& field, uint32_t& bits) const override;

  uint32_t bits() const { return bits_; }
  int32_t minimum() const { return minimum_; }
  int32_t fallback() const { return fallback_; }
  std::span<const EnumName> names() const { return names_; }

 protected:
  CEnumCoreType(const char* type_name, uint32_t bits, int32_t minimum, int32_t fallback,
                std::span<const EnumName> names) noexcept;

 private:
  uint32_t bits_;
  int32_t minimum_;
  int32_t fallback_;
  std::span<const EnumName> names_;
};

/// Behaviour of every flag-set type; TFlagCoreType fixes the width.
class CFlagCoreType : public CCoreType {
 public:
  /// Fails (stream untouched) when the mask has a bit at or above Bits.
  bool WriteValue(BitWriter& writer, const FieldInfo& field, const ValueNode& value) const override;
  /// Reads Bits bits; a failed read gives 0 and returns false.
  bool ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const override;
  /// Reads identifiers and numbers separated by ","; the empty text is 0. Fails on any other
  /// token (a quoted name, a failed number, a trailing ",").
  bool ParseValue(Lexer& lexer, ValueNode& value, void* unused) const override;
  /// Known names separated by "," (no blanks, no numbers), or the empty text: the form gentext
  /// writes for the masks that its table names whole, read as ParseValue reads it.
  bool ParsePlainText(const char* text, uint32_t length, ValueNode& value) const override;
  /// The names of the set flags, then "%u" for the unnamed bits. Leaves `comment` untouched.
  bool FormatValue(CStringBufferA& out, const ValueNode& value, void* unused,
                   CStringBufferA& comment) const override;
  /// The cHash payload form.
  uint32_t StorageTypeHash() const override;
  bool FixedBitWidth(const FieldInfo& field, uint32_t& bits) const override;

  uint32_t bits() const { return bits_; }
  std::span<const EnumName> names() const { return names_; }

 protected:
  CFlagCoreType(const char* type_name, uint32_t bits, std::span<const EnumName> names) noexcept;

 private:
  uint32_t bits_;
  std::span<const EnumName> names_;
};

/// An enumeration stored in Bits bits as value - Minimum; Fallback stands for unreadable text.
template <uint32_t Bits, int32_t Minimum, int32_t Fallback>
class TEnumCoreType final : public CEnumCoreType {
  static_assert(Bits >= 1 && Bits <= 32, "an enumeration field is 1 to 32 bits wide");
  static_assert(int64_t{Fallback} - Minimum >= 0 &&
                    uint64_t(int64_t{Fallback} - Minimum) < (uint64_t{1} << Bits),
                "the fallback value must be storable");

 public:
  TEnumCoreType(const char* type_name, std::span<const EnumName> names) noexcept
      : CEnumCoreType(type_name, Bits, Minimum, Fallback, names) {}
};

/// A flag set stored in Bits bits.
template <uint32_t Bits>
class TFlagCoreType final : public CFlagCoreType {
  static_assert(Bits >= 1 && Bits <= 32, "a flag-set field is 1 to 32 bits wide");

 public:
  TFlagCoreType(const char* type_name, std::span<const EnumName> names) noexcept
      : CFlagCoreType(type_name, Bits, names) {}
};
