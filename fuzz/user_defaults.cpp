// The user defaults on any file content: reading it never crashes, leaks or misbehaves; every
// typed getter answers; and a synchronize keeps every value that was read (whole seconds for
// dates) beside the one it adds, as a fresh reader of the file then sees.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "foundation/UserDefaults.h"

// The platform's log also goes to syslog; a fuzzer logging a corrupt file on every input must not
// flood the machine's log, so these stand in for the C library's. Standard error still gets every
// line (scripts/fuzz.sh closes it for the code under test).
extern "C" void syslog(int, const char*, ...) {}
extern "C" void __syslog_chk(int, int, const char*, ...) {}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string folder = fuzz_support::home() + "/Library/Preferences";
  static const std::string path = folder + "/com.example.fuzz.plist";
  std::filesystem::create_directories(folder);
  fuzz_support::writeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

  foundation::PlistDictionary expected;
  {
    foundation::UserDefaults defaults(path);
    expected = defaults.dictionaryRepresentation();
    for (const auto& [key, value] : expected) {
      std::optional<foundation::PlistValue> read = defaults.objectForKey(key);
      if (!read || !fuzz_support::sameAfterXml(value, *read)) {
        fuzz_support::fail("objectForKey disagrees with dictionaryRepresentation");
      }
      (void)defaults.boolForKey(key);
      (void)defaults.integerForKey(key);
      (void)defaults.stringForKey(key);
      (void)defaults.dateForKey(key);
    }
    defaults.setString("FuzzWritten", "yes");
    expected.insert_or_assign("FuzzWritten", foundation::PlistValue("yes"));
    if (!defaults.synchronize()) {
      fuzz_support::failWithValues("synchronize failed on a file it could read",
                                   foundation::PlistValue(expected), foundation::PlistValue{});
    }
  }
  foundation::UserDefaults reread(path);
  foundation::PlistValue actual(reread.dictionaryRepresentation());
  if (!fuzz_support::sameAfterXml(foundation::PlistValue(expected), actual)) {
    fuzz_support::failWithValues("a synchronize lost or changed a value it had read",
                                 foundation::PlistValue(expected), actual);
  }
  fuzz_support::emptyFolder(folder);
  return 0;
}
