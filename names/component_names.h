// names/component_names.h - the program's built-in list of component class names.
//
// Objects list their components and extensions as cStringHash values: the NameHash of each
// component's class name. Files carry no names for them, so the program knows these 191 names
// by itself. The dictionaries enter them after "Hash.txt", in this order, so that they win over
// any line of that file with the same hash.
#pragma once

#include <cstdint>

/// Number of built-in component names.
inline constexpr uint32_t kBuiltInComponentNameCount = 191;

/// The built-in component class names, in their fixed order.
extern const char* const kBuiltInComponentNames[kBuiltInComponentNameCount];
