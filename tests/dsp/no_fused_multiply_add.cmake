# Fails when the disassembly of any given binary holds a fused multiply-add.
#
# Every signal result is fixed to the bit, which needs every double product
# rounded on its own. -ffp-contract=off and the x86-64-v2 baseline should keep
# FMA out of the build; this check proves it on what was actually built, so a
# changed flag, preset or toolchain cannot slip it in unnoticed.
#
# Usage: cmake -DOBJDUMP=<objdump> -DBINARIES=<file;file;...> -P no_fused_multiply_add.cmake
foreach(binary IN LISTS BINARIES)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${binary}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "objdump failed on ${binary}: ${errors}")
  endif()
  if(NOT listing MATCHES "Disassembly of section \\.text")
    message(FATAL_ERROR "${binary}: no code in the disassembly; is this the right file?")
  endif()
  # vfmadd*, vfmsub*, vfnmadd*, vfnmsub*, vfmaddsub*, vfmsubadd* (FMA3 and FMA4).
  string(REGEX MATCHALL "[^\n]*[ \t]vfn?m(add|sub)[a-z0-9]*[ \t][^\n]*" hits "${listing}")
  if(hits)
    list(LENGTH hits count)
    list(GET hits 0 first)
    message(FATAL_ERROR "${binary}: ${count} fused multiply-add instruction(s), first:\n${first}")
  endif()
  message(STATUS "${binary}: no fused multiply-add")
endforeach()
