#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace foundation {

// The offsets in `script`, in order, at which `word` stands as the command word of a simple
// command, read by the POSIX shell's rules: written plainly (no quote, backslash or expansion in
// it), a whole word, at the start of the text or after a control operator (newline ; & && | ||),
// the "(" of a subshell, "$(", a reserved word a command follows (! { if then else elif do while
// until), the ")" of a case pattern, or after assignments and redirections that lead the command.
// Nothing inside quotes, backquotes, ${ }, $(( )) or a comment counts, nor an argument.
// Where the text stops being what this reader follows (a here-document, an unbalanced quote or
// parenthesis, a function definition), the offsets found before that point are answered.
// Pure; any thread.
std::vector<size_t> commandWordOffsets(std::string_view script, std::string_view word);

}  // namespace foundation
