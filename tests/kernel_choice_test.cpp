// The kernel table a name chooses, directly and through VELMORA_ISA: the table of that name
// where the processor has it, the best table for any other name or none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "kernels/kernel_set.h"

namespace {

// VELMORA_ISA set to `value` (unset for null) while the object lives, then as it was.
class IsaVariable {
public:
    explicit IsaVariable(const char* value) {
        if (const char* was = std::getenv("VELMORA_ISA")) saved_ = was;
        set(value);
    }
    ~IsaVariable() { set(saved_ ? saved_->c_str() : nullptr); }
    IsaVariable(const IsaVariable&) = delete;
    IsaVariable& operator=(const IsaVariable&) = delete;

private:
    static void set(const char* value) {
        if (value)
            ::setenv("VELMORA_ISA", value, 1);
        else
            ::unsetenv("VELMORA_ISA");
    }
    std::optional<std::string> saved_;
};

TEST(KernelChoice, ANameChoosesItsTableWhereTheProcessorHasIt) {
    for (const KernelSet* table : {&scalar_kernels, &sse41_kernels, &avx2_kernels}) {
        SCOPED_TRACE(table->name);
        const KernelSet* want = kernels_for(table->isa) ? table : &best_kernels();
        EXPECT_EQ(&kernels_named(table->name), want);
        const IsaVariable isa(table->name);
        EXPECT_EQ(&preferred_kernels(), want);
    }
}

TEST(KernelChoice, AnyOtherNameOrNoneChoosesTheBest) {
    const char* const others[] = {"", "SSE41", "avx", "avx2 ", "sse4.1", "avx512", nullptr};
    for (const char* name : others) {
        SCOPED_TRACE(name ? name : "(none)");
        EXPECT_EQ(&kernels_named(name), &best_kernels());
        const IsaVariable isa(name);
        EXPECT_EQ(&preferred_kernels(), &best_kernels());
    }
}

}  // namespace
