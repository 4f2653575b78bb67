#pragma once

#include "support/TestSync.h"

// The former names of support/TestSync.h, for the tests not yet moved to them.
namespace platform_tests {
using testing_support::Counter;
using testing_support::Gate;
}  // namespace platform_tests
