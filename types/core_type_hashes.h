// types/core_type_hashes.h - name hashes of the built-in value types.
//
// Fields name their value type by the NameHash of the type's name. These are the hashes of the
// 17 primitive types and of three further string types that files use but whose names are not
// known. Each named constant is checked against NameHash of its name at compile time.
//
//   Hash        Name                       Storage form of its values
//   ----------  -------------------------  --------------------------
//   0x7A42634D  cBool                      cBool
//   0x7F33FF8B  cByte                      cByte
//   0xB6AC0BB9  cShort                     cShort
//   0x2283412C  cInt                       cInt
//   0xFDB57779  cFloat                     cFloat
//   0x033FC490  cAngle                     cFloat
//   0x5260632C  cVector2                   cVector2
//   0x5260632D  cVector3                   cVector3
//   0x5260632E  cVector4                   cVector4
//   0xBC18A1A0  cColor                     cVector4
//   0x370EF81A  cQuat                      cVector4
//   0x7D978C07  cAxisAlignedBoundingBox    cAxisAlignedBoundingBox
//   0x8A8A6FB1  cHash                      cHash
//   0x6AAD3A82  cStringHash                cHash
//   0xEE05922B  cTextID                    cHash
//   0xADE538BA  cPointer                   cHash
//   0xB6443C34  cString                    cString
//   0x79B46EF3  (unknown name)             cString
//   0x79B86FED  (unknown name)             cString
//   0xAF5BE7E1  (unknown name)             cString
#pragma once

#include <cstdint>

#include "foundation/name_hash.h"

inline constexpr uint32_t kCBoolHash = 0x7A42634D;
inline constexpr uint32_t kCByteHash = 0x7F33FF8B;
inline constexpr uint32_t kCShortHash = 0xB6AC0BB9;
inline constexpr uint32_t kCIntHash = 0x2283412C;
inline constexpr uint32_t kCFloatHash = 0xFDB57779;
inline constexpr uint32_t kCAngleHash = 0x033FC490;
inline constexpr uint32_t kCVector2Hash = 0x5260632C;
inline constexpr uint32_t kCVector3Hash = 0x5260632D;
inline constexpr uint32_t kCVector4Hash = 0x5260632E;
inline constexpr uint32_t kCColorHash = 0xBC18A1A0;
inline constexpr uint32_t kCQuatHash = 0x370EF81A;
inline constexpr uint32_t kCAxisAlignedBoundingBoxHash = 0x7D978C07;
inline constexpr uint32_t kCHashHash = 0x8A8A6FB1;
inline constexpr uint32_t kCStringHashHash = 0x6AAD3A82;
inline constexpr uint32_t kCTextIDHash = 0xEE05922B;
inline constexpr uint32_t kCPointerHash = 0xADE538BA;
inline constexpr uint32_t kCStringHash = 0xB6443C34;

/// String types known only by their hashes; their values are stored and handled as cString.
inline constexpr uint32_t kUnnamedStringHashA = 0x79B46EF3;
inline constexpr uint32_t kUnnamedStringHashB = 0x79B86FED;
inline constexpr uint32_t kUnnamedStringHashC = 0xAF5BE7E1;

static_assert(NameHash("cBool") == kCBoolHash);
static_assert(NameHash("cByte") == kCByteHash);
static_assert(NameHash("cShort") == kCShortHash);
static_assert(NameHash("cInt") == kCIntHash);
static_assert(NameHash("cFloat") == kCFloatHash);
static_assert(NameHash("cAngle") == kCAngleHash);
static_assert(NameHash("cVector2") == kCVector2Hash);
static_assert(NameHash("cVector3") == kCVector3Hash);
static_assert(NameHash("cVector4") == kCVector4Hash);
static_assert(NameHash("cColor") == kCColorHash);
static_assert(NameHash("cQuat") == kCQuatHash);
static_assert(NameHash("cAxisAlignedBoundingBox") == kCAxisAlignedBoundingBoxHash);
static_assert(NameHash("cHash") == kCHashHash);
static_assert(NameHash("cStringHash") == kCStringHashHash);
static_assert(NameHash("cTextID") == kCTextIDHash);
static_assert(NameHash("cPointer") == kCPointerHash);
static_assert(NameHash("cString") == kCStringHash);
