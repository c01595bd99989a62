#pragma once

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A property every input must keep. Unlike assert() it holds in optimised builds too, and
// libFuzzer keeps the input that broke it as a crash.
#define FUZZ_REQUIRE(condition)                                                                              \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #condition);     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

namespace fuzz {

using TargetFunction = void (*)(QByteArrayView input);

// Makes a target known to the replay program under its corpus name; true, for a static initialiser.
bool registerTarget(const char *name, TargetFunction function);

} // namespace fuzz

// Under libFuzzer each target is its own program with the fuzzer's entry point; otherwise all
// targets register with the one replay program, which feeds them their corpus as a test.
#ifdef SENTREL_LIBFUZZER
#define SENTREL_FUZZ_TARGET(name, function)                                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)                                  \
    {                                                                                                        \
        function(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));                     \
        return 0;                                                                                            \
    }
#else
#define SENTREL_FUZZ_TARGET(name, function)                                                                  \
    [[maybe_unused]] static const bool registered_##name = fuzz::registerTarget(#name, function);
#endif
