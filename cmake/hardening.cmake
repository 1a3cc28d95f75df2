# Hardening of the Windows program, which runs with administrator rights, often as SYSTEM:
#  - a canary on the stack of every function with a local array or a local whose address is
#    taken (-fstack-protector-strong), checked before it returns;
#  - the C library's checked string and memory functions wherever the compiler knows the size of
#    the destination (_FORTIFY_SOURCE=2);
#  - PE flags pinned rather than left to the linker's defaults: the image may be placed anywhere
#    (dynamic base), anywhere in the 64-bit address space (high-entropy VA), and its data is
#    never run (NX).
# MinGW keeps both runtime parts in libssp. The program links statically, so libssp.a goes into
# the image and the import table gains no DLL (scripts/check-windows-exe.sh checks both).

# The code of a target: every object file of the program is compiled this way.
function(fwu_harden_code target)
  target_compile_options(${target} PRIVATE -fstack-protector-strong)
  target_compile_definitions(${target} PRIVATE _FORTIFY_SOURCE=2)
endfunction()

# An executable: its code, libssp, and the PE flags.
function(fwu_harden_image target)
  fwu_harden_code(${target})
  target_link_options(${target} PRIVATE -fstack-protector-strong
                      -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
endfunction()
