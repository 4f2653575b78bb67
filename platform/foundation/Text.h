#pragma once

#include <string>
#include <string_view>

namespace foundation {

// `text` made ready for a comparison without regard to case: Unicode full case folding ("Ä" and
// "ä" alike, "ß" as "ss") in composed normal form, so that a decomposed name folds to the same
// bytes as a composed one. Two texts that differ only in case fold to equal texts. Text that is not
// valid UTF-8 (or holds a NUL) is folded bytewise instead: ASCII letters only, every other byte
// kept, so it can equal or contain only what it holds byte for byte up to ASCII case. Any thread.
std::string caseFolded(std::string_view text);

}  // namespace foundation
