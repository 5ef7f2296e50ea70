# Floating point exactly as the engine's results require: every operation rounded to single
# precision, no contraction into fused multiply-add, no value-changing optimisation.
set(VELMORA_FP_FLAGS -ffp-contract=off -fno-fast-math)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  # SSE arithmetic, never x87; the host promises only 4-byte stack alignment on entry.
  list(APPEND VELMORA_FP_FLAGS -msse4.1 -mfpmath=sse -mstackrealign)
endif()
set(VELMORA_WARNING_FLAGS -Wall -Wextra -Werror)

function(velmora_target_flags target)
  target_compile_options(${target} PRIVATE ${VELMORA_FP_FLAGS} ${VELMORA_WARNING_FLAGS})
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()
