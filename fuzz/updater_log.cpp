// The updater-log judgement against a plain reading of its rule: a log shows no failure when it
// isn't valid UTF-8 text, or lacks "Restore completed", or contains "Restore completed, status:0".
// The two must agree on every input.
//
// The first input byte chooses the layout: when its lowest bit is set, the rest of the input is
// placed just around the boundary of the reader's first piece (within 64 bytes either side, the
// padding before it plain ASCII), so that markers and UTF-8 sequences split between pieces are
// exercised; otherwise the rest of the input is the whole log.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "Rules.h"

namespace {

bool referenceShowsNoFailure(const std::string& log) {
  if (!fuzz_support::isUtf8(log)) return true;
  if (log.find("Restore completed") == std::string::npos) return true;
  return log.find("Restore completed, status:0") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static const std::string path = fuzz_support::home() + "/iPhoneUpdater.log";
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string log;
  if (data[0] & 1) log.assign(Rules::kLogReadChunkSize - 64 + (data[0] >> 1), 'x');
  log += rest;
  fuzz_support::writeFile(path, log);
  // The padding is ASCII and holds no marker's first letter, so the log and `rest` are judged
  // alike; the reference reads only `rest`, which keeps the fuzzer fast.
  if (Rules::analyiTunesLogisSuccess(path) != referenceShowsNoFailure(rest)) {
    fuzz_support::fail("analyiTunesLogisSuccess disagrees with the rule");
  }
  return 0;
}
