#pragma once

// MENDKIT_X86 is 1 where the x86 vector instructions may be used (each function that uses more
// than SSE2 says so with a target attribute and is called only after __builtin_cpu_supports).
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MENDKIT_X86 1
#else
#define MENDKIT_X86 0
#endif
