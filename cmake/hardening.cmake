# Hardening of the Windows program, which runs with administrator rights, often as SYSTEM:
#  - a canary on the stack of every function with a local array or a local whose address is
#    taken (-fstack-protector-strong), checked before it returns;
#  - the C library's checked string and memory functions wherever the compiler knows the size of
#    the destination (_FORTIFY_SOURCE=2);
#  - PE flags pinned rather than left to the linker's defaults: the image may be placed anywhere
#    (dynamic base), anywhere in the 64-bit address space (high-entropy VA), and its data is
#    never run (NX).
# The stack protector's runtime is the program's own (platform/win32/entry/stack_guard.cpp): the
# canary is seeded at the image's entry point, before the C runtime starts, from values kernel32
# hands out without loading a DLL. MinGW's libssp would seed it from CryptoAPI in a constructor,
# loading a cryptographic provider before WinMain limits where DLLs come from. libssp is still
# linked for the checked string and memory functions (__memcpy_chk and the like): they call only
# __chk_fail, which stack_guard.cpp defines too, so libssp's own runtime never enters the image.
# The program links statically, so the import table gains no DLL (scripts/check-windows-exe.sh
# checks that, and that no CryptoAPI function is imported).

# The code of a target: every object file of the program is compiled this way.
function(fwu_harden_code target)
  target_compile_options(${target} PRIVATE -fstack-protector-strong)
  target_compile_definitions(${target} PRIVATE _FORTIFY_SOURCE=2)
endfunction()

# An executable: its code, the entry point that seeds the canary, libssp's checked functions, and
# the PE flags. stack_guard.cpp is one of the executable's own objects, which the linker takes
# before any library: its definitions are the ones every reference finds.
function(fwu_harden_image target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/platform/win32/entry/stack_guard.cpp)
  fwu_harden_code(${target})
  get_target_property(windowed ${target} WIN32_EXECUTABLE)
  if(windowed)
    set(entry fwu_start_windowed)
  else()
    set(entry fwu_start_console)
  endif()
  # libssp by name: -fstack-protector-strong at the link would add libssp_nonshared too, which
  # nothing here needs.
  target_link_libraries(${target} PRIVATE ssp)
  target_link_options(${target} PRIVATE -Wl,--entry=${entry}
                      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
endfunction()
