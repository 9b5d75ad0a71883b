// types/type_dump.h - the text listing of class types printed by dumptypes.
//
// One block per class, in registry iteration order, each line ending in "\r\n":
//
//   <class name> <hash decimal> <hash upper-case hex> {
//   \t<type name> <field name>[array] <mode name>[ parameters][ [Core type]]
//   }
//
// The type name is the core type's name, else the class's name, else "#<type hash>". The
// array part is "[]" for a variable-length array, "[n]" for n elements, nothing for one value.
// Int parameters print as " [min - max: step]" in decimal, Float parameters the same in "%G".
// This text is for reading only; nothing parses it back.
#pragma once

#include "foundation/string_buffer.h"
#include "types/core_type.h"
#include "types/type_stream.h"

/// Appends the listing of every class of `registry` to `out`; field types are looked up in
/// `core_types` first, then among the classes of `registry`. An empty registry appends nothing.
void DumpTypes(const TypeRegistry& registry, const CoreTypeTable& core_types, CStringBufferA& out);
