#pragma once

#include <string>
#include <string_view>

// File names (UTF-8) as a user reads them: letter case does not count (ASCII and the Latin
// letters of Central European languages) and a run of digits counts as its number, so
// "v1_9.bin" comes before "v1_10.bin" and "A.bin" beside "a.bin".

// True when `a` sorts before `b`. Names that compare equal this way are ordered by their bytes,
// so the order is total and does not depend on the order the names came in.
bool NameBefore(std::string_view a, std::string_view b);

// True when the names differ at most in letter case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

// The name as SameNameIgnoringCase compares it: two names give the same key when they differ
// at most in letter case.
std::u32string FoldedName(std::string_view name);
