#include <malloc.h>

#include "appkit/Application.h"

int main(int argc, char** argv) {
  // The agent's few threads are idle almost always: one heap arena serves them all without
  // contention, where one per thread would each keep pages resident.
  mallopt(M_ARENA_MAX, 1);
  return appkit::applicationMain(argc, argv);
}
