// foundation/name_hash.cpp - NameHash is constexpr and lives in its header.
//
// This unit keeps the header compiling on its own and pins two hashes at compile time, so a
// change to the character handling breaks the build of the foundation library itself.
#include "foundation/name_hash.h"

static_assert(NameHash("cInt") == 0x2283412Cu);
static_assert(NameHash("\xE9") == 0xFFFFFFE9u);
