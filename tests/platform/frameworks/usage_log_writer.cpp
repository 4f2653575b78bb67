// Writes `count` large events named `writer` to the spool of $HOME, as fast as it can.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "UsageLogLib/UsageLogLib.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const char* writer = argv[1];
  int count = std::atoi(argv[2]);
  ExportObj* obj = CreateExportObj();
  if (!obj) return 3;
  std::string big(100000, writer[0]);
  for (int i = 0; i < count; ++i) {
    int status = obj->SendLogMessage(i, 0, big.c_str(), 1, 2, 3, "v", writer, 0, 0);
    if (status != 0) {
      std::printf("send %d failed: %d\n", i, status);
      return 4;
    }
  }
  DestroyExportObj(obj);
  return 0;
}
