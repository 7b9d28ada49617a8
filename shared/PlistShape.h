#pragma once

#include <cstddef>
#include <string_view>

// Checks made before a property list from outside is handed to libplist, whose
// readers recurse once per level of nesting and read a container again for
// every reference to it: a deep or self-sharing list could exhaust the stack
// or take exponential time and memory.
namespace PlistShape {

// Whether the bytes are a binary property list ("bplist00") whose trailer and
// offset table are consistent, and whose arrays, sets and dictionaries, seen
// from the top object, form a tree (each container referred to at most once)
// no more than `maxDepth` containers deep. Shared scalars are fine.
bool isShallowBinaryTree(std::string_view bytes, std::size_t maxDepth);

// Whether the bytes are a consistent binary property list whose objects,
// counted from the top object down once for every reference to them (as many
// as a reader that copies shared containers makes), number at most `budget`.
// Containers may be shared; a cycle never fits. The cost is bounded by the
// budget, whatever the sharing.
bool isWithinObjectBudget(std::string_view bytes, std::size_t budget);

// Whether an XML property list opens at most `maxContainers` arrays and
// dictionaries (so it cannot nest deeper than that).
bool isSmallXML(std::string_view bytes, std::size_t maxContainers);

}  // namespace PlistShape
