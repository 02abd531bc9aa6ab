#pragma once
// The order of sibling directories: by name as the user's locale sorts names, case
// ignored. It needs the locale's collation tables, which are costly to load, so it sits
// behind a plain interface: programs with Qt link the collation itself
// (directorycollation.cpp); the command line front end loads it as a module the first
// time a directory has two or more subdirectories to order.

#include <cstddef>
#include <string>
#include <vector>

namespace fenwa {

// Puts `texts` (native names or paths) in sibling order; the bytes break ties so the
// order is always the same.
void CollateDirectoryNames(std::vector<std::string>& texts);

} // namespace fenwa

// The module's entry, plain C so that nothing of either side's C++ library crosses it:
// fills `order` with the indices of the `count` texts in sibling order.
extern "C" void fenwa_collate_directory_names(const char* const* texts, const size_t* lengths,
                                              size_t count, size_t* order);
