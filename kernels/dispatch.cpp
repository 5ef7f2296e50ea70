// The kernel tables the processor and the operating system support. Nothing is chosen or kept
// here: every engine holds the table it was given.
#include <cpuid.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "kernels/kernel_set.h"

namespace {

bool has_sse41() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & bit_SSE4_1) != 0 && (c & bit_SSSE3) != 0;
}

// AVX2, and the operating system saving the YMM registers across context switches.
bool has_avx2() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool osxsave = (c & bit_OSXSAVE) != 0, avx = (c & bit_AVX) != 0;
    if (!osxsave || !avx) return false;
    unsigned xcr0_low, xcr0_high;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & 6) != 6) return false;
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX2) != 0 && has_sse41();
}

}  // namespace

const KernelSet* kernels_for(Isa isa) {
    switch (isa) {
    case Isa::scalar:
        return &scalar_kernels;
    case Isa::sse41:
        return has_sse41() ? &sse41_kernels : nullptr;
    case Isa::avx2:
        return has_avx2() ? &avx2_kernels : nullptr;
    }
    return nullptr;
}

const KernelSet& best_kernels() {
    for (Isa isa : {Isa::avx2, Isa::sse41})
        if (const KernelSet* set = kernels_for(isa)) return *set;
    return scalar_kernels;
}

const KernelSet& kernels_named(const char* name) {
    if (name) {
        for (Isa isa : kEveryIsa) {
            const KernelSet* set = kernels_for(isa);
            if (set && std::strcmp(set->name, name) == 0) return *set;
        }
    }
    return best_kernels();
}

const KernelSet& preferred_kernels() { return kernels_named(std::getenv("VELMORA_ISA")); }
