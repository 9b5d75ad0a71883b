// foundation/name_hash.cpp - NameHash is constexpr and lives in its header.
//
// This unit keeps the header compiling on its own and pins hashes at compile time, so a change
// to the character handling or to the counted form's grouping breaks the build of the
// foundation library itself.
#include "foundation/name_hash.h"

static_assert(NameHash("cInt") == 0x2283412Cu);
static_assert(NameHash("\xE9") == 0xFFFFFFE9u);
// The counted form takes four bytes at a time: every length around those steps agrees.
static_assert(NameHash("cGameObjectState", 16) == NameHash("cGameObjectState"));
static_assert(NameHash("cGameObjectStat", 15) == NameHash("cGameObjectStat"));
static_assert(NameHash("\xE9\x80\xFFz\x01", 5) == NameHash("\xE9\x80\xFFz\x01"));
