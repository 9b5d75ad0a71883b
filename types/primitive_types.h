// types/primitive_types.h - the 17 built-in primitive value types.
//
// Each primitive class fixes a payload form, a bit form and a text form; the static instances
// below give the classes their names (two types of one class differ only in name and hash).
// Payloads live in ValueNode::payload (types/value.h). Every class reads and writes the raw form
// under mode None; the modes a class accepts besides None, and the widths:
//
//   Class      Payload                   Accepted modes               Bits per value
//   ---------  ------------------------  ---------------------------  --------------------------
//   Bool       boolean (0 or 1)          any (mode ignored)           1 (1 when the byte is not 0)
//   Byte       byte (int8)               None, Int, DynValInt         8 (None)
//   Short      int16                     None, Int, DynValInt         16 (None)
//   Int        int32                     None, Int, DynValInt         32 (None)
//   Float      floats[0]                 None, Float                  32 (None)
//   Vec2       floats[0..1]              any (mode ignored)           2 x 32
//   Vec3       floats[0..2]              None, Pos, Scale, Scale2     3 x 32 (None), 52, 21
//   Vec4       floats[0..3]              any (mode ignored)           4 x 32
//   Quat       floats[0..3]              None, Quat                   4 x 32 (None), 36
//   AABBox     floats[0..5]              any (mode ignored)           6 x 32
//   UINT32     word                      any (mode ignored)           32
//   Pointer    word (object ID)          any (mode ignored)           32
//   String     text (owned)              any (mode ignored)           32 + BitString when not empty
//
// Raw fields hold integers as their two's-complement low bits and floats as their IEEE bit
// patterns; components go in stored order. A string is its length L as a 32-bit word, then, when
// L is not 0, the text as a BitString (so "ab" takes 32 + 5 + 2 + 2 x 8 = 55 bits).
//
// A mode the class does not accept makes WriteValue and ReadValue return false before they touch
// the stream. Otherwise they return !failed of the cursor after their work; a raw component that
// cannot be read is 0.
//
// Text forms (ParseValue must consume the whole text; FormatValue replaces `out`):
//
//   Class      Parses                                          Prints
//   ---------  ----------------------------------------------  ----------------------------------
//   Bool       true | false                                    true, false
//   Byte       number, clamped to -128..127                    decimal (FormatDecimal)
//   Short      number, clamped to -32768..32767                decimal
//   Int        number, low 32 bits of the integer part, with   decimal
//              its sign (modulo 2^32, no clamping)
//   Float      f                                               float text (types/float_text.h)
//   Vec2..     f "," f ... (2, 3, 4 or 6 components)           components joined by ","
//   Quat       4 components, then normalised unless already    components joined by ","
//              of unit length (NormaliseParsedQuaternion)
//   UINT32     number (low 32 bits of the integer part, sign   'name' (quoted) or decimal
//              ignored) | identifier | 'name' (its NameHash)
//   Pointer    "@" then one of the UINT32 forms                @'name' or @decimal
//   String     the whole text, unchanged, without tokens       escaped string form, no quotes
//
//   f = a number (its correctly rounded double, then rounded to float) or [+-]INF or [+-]NAN.
//   Integer numbers ignore a fraction and an exponent: 1.5 is 1, 1e5 is 1.
//
// Names for hashes and pointers come from CurrentNameResolver: called with the formatting type's
// name hash for the value's own text, and with kResolveHashComment / kResolvePointerComment for
// the trailing comment. A name is used only when it hashes back to the value, since the text is
// read back through NameHash. A hash's comment is set only when the resolver gives one; a
// pointer's comment is the resolver's text or else "External object".
#pragma once

#include <cstdint>

#include "types/core_type.h"
#include "types/core_type_hashes.h"

/// The primitive types' common base; adds nothing to CCoreType.
class CPrimitive : public CCoreType {
 public:
  using CCoreType::CCoreType;
};

#define QVX_PRIMITIVE_CLASS(ClassName)                                                          \
  class ClassName final : public CPrimitive {                                                   \
   public:                                                                                      \
    using CPrimitive::CPrimitive;                                                               \
    ~ClassName() override = default;                                                            \
    bool WriteValue(BitWriter& writer, const FieldInfo& field,                                  \
                    const ValueNode& value) const override;                                     \
    bool ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const override; \
    bool ParseValue(Lexer& lexer, ValueNode& value, void* unused) const override;               \
    bool FormatValue(CStringBufferA& out, const ValueNode& value, void* unused,                 \
                     CStringBufferA& comment) const override;                                   \
    bool FixedBitWidth(const FieldInfo& field, uint32_t& bits) const override;                  \
    uint32_t ReadPlainPrefix(const char* text, ValueNode& value) const override;                \
    bool HasPlainPrefix() const override { return true; }                                       \
  }

QVX_PRIMITIVE_CLASS(CPrimitiveBool);
QVX_PRIMITIVE_CLASS(CPrimitiveByte);
QVX_PRIMITIVE_CLASS(CPrimitiveShort);
QVX_PRIMITIVE_CLASS(CPrimitiveInt);
QVX_PRIMITIVE_CLASS(CPrimitiveUINT32);
QVX_PRIMITIVE_CLASS(CPrimitivePointer);
QVX_PRIMITIVE_CLASS(CPrimitiveFloat);
QVX_PRIMITIVE_CLASS(CPrimitiveVec2);
QVX_PRIMITIVE_CLASS(CPrimitiveVec3);
QVX_PRIMITIVE_CLASS(CPrimitiveVec4);
QVX_PRIMITIVE_CLASS(CPrimitiveQuat);
QVX_PRIMITIVE_CLASS(CPrimitiveAABBox);

#undef QVX_PRIMITIVE_CLASS

class CPrimitiveString final : public CPrimitive {
 public:
  using CPrimitive::CPrimitive;
  ~CPrimitiveString() override = default;
  bool WriteValue(BitWriter& writer, const FieldInfo& field, const ValueNode& value) const override;
  bool ReadValue(BitReader& reader, const FieldInfo& field, ValueNode& value) const override;
  /// Steps over the text without copying it anywhere; `scratch` is not touched.
  bool SkipValue(BitReader& reader, const FieldInfo& field, ValueNode& scratch) const override;
  bool ParseValue(Lexer& lexer, ValueNode& value, void* unused) const override;
  bool FormatValue(CStringBufferA& out, const ValueNode& value, void* unused,
                   CStringBufferA& comment) const override;
  bool ParsePlainText(const char* text, uint32_t length, ValueNode& value) const override;
};

/// Replaces the text of `out` by the decimal text of `value`, as "%d" prints it.
void FormatDecimal(CStringBufferA& out, int32_t value);
/// Appends the decimal text of `value`, as "%u" prints it.
void AppendDecimal(CStringBufferA& out, uint32_t value);

/// The comment of a pointer value that no resolver names.
inline constexpr const char* kExternalObjectComment = "External object";

/// Number of primitive core types.
inline constexpr uint32_t kPrimitiveTypeCount = 17;

// The primitive core types, one static object each; "CBoolType" is the type named "cBool".
extern CPrimitiveBool CBoolType;
extern CPrimitiveByte CByteType;
extern CPrimitiveShort CShortType;
extern CPrimitiveInt CIntType;
extern CPrimitiveFloat CFloatType;
extern CPrimitiveFloat CAngleType;
extern CPrimitiveVec2 CVector2Type;
extern CPrimitiveVec3 CVector3Type;
extern CPrimitiveVec4 CVector4Type;
extern CPrimitiveVec4 CColorType;
extern CPrimitiveQuat CQuatType;
extern CPrimitiveAABBox CAxisAlignedBoundingBoxType;
extern CPrimitiveUINT32 CHashType;
extern CPrimitiveUINT32 CStringHashType;
extern CPrimitiveUINT32 CTextIDType;
extern CPrimitivePointer CPointerType;
extern CPrimitiveString CStringType;
