// Names as Windows file systems compare them: without regard to case, for all
// of Unicode and not for A-Z alone ("é.txt" and "É.txt" are one file), each
// UTF-16 unit upper-cased on its own, as NTFS's upcase table does: no letter
// becomes two ("ß" stays "ß") and no locale's rules apply (the invariant
// locale's "i" is "I", never a dotted one). In a path "/" separates as "\"
// does.
#pragma once

#include <string>

// `name` upper-cased that way: equal keys, one file.
std::wstring FileNameKey(const std::wstring& name);
