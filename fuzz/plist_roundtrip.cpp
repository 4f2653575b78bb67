// Read → write → read: whatever the reader accepts, the writer either refuses (a value XML can't
// carry) or writes as XML that reads back as the same value, and writing that again gives the
// same XML.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<foundation::PlistValue> first = foundation::parsePropertyList(bytes);
  if (!first) return 0;
  foundation::Result<std::string> xml = foundation::propertyListXml(*first);
  if (!xml) return 0;
  std::optional<foundation::PlistValue> second = foundation::parsePropertyList(*xml);
  if (!second) fuzz_support::fail("the XML the writer made does not read back");
  if (!fuzz_support::sameAfterXml(*first, *second)) {
    fuzz_support::failWithValues("the value read back from XML differs from the value written",
                                 *first, *second);
  }
  foundation::Result<std::string> again = foundation::propertyListXml(*second);
  if (!again || *again != *xml) fuzz_support::fail("writing the value read back changes the XML");
  return 0;
}
