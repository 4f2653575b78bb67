#pragma once

#include <string>
#include <string_view>

#include "foundation/PropertyList.h"

// Helpers shared by the fuzz targets. Single-threaded, as libFuzzer calls its targets.
namespace fuzz_support {

// A fresh folder under $TMPDIR (else /tmp) for this process, holding "home" and "root", which
// become HOME and PLATFORM_ROOT. Made on the first call and removed when the process exits
// normally; a crashing process leaves it for the caller of the fuzzer to remove.
const std::string& sandbox();
// The sandbox's HOME.
std::string home();

// Writes `bytes` to `path`, replacing it; aborts when that fails, since no result would mean
// anything then.
void writeFile(const std::string& path, std::string_view bytes);
// Removes everything inside `folder`, keeping the folder itself.
void emptyFolder(const std::string& folder);

// True when `a` and `b` hold the same values as far as an XML property list can carry them: equal
// types and contents, reals equal or both NaN, dates equal to the whole second (XML keeps whole
// seconds).
bool sameAfterXml(const foundation::PlistValue& a, const foundation::PlistValue& b);

// True when `text` is UTF-8 as its standard defines it: each code point in its shortest form, no
// surrogates, nothing above U+10FFFF. Decodes one code point at a time, deliberately plain.
bool isUtf8(std::string_view text);

// fail(), after printing both values to standard error (seen when the input is replayed by hand).
[[noreturn]] void failWithValues(const char* what, const foundation::PlistValue& expected,
                                 const foundation::PlistValue& actual);

// Reports `what` as the sanitizers report an error and aborts, for libFuzzer to report the input.
[[noreturn]] void fail(const char* what);

}  // namespace fuzz_support
