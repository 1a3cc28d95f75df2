# How the Windows program becomes the file that ships: built reproducibly, stripped with its
# symbols kept in a file of their own, and signed.

if(FWU_BACKEND STREQUAL "win32")
  # The same commit gives the same bytes in any folder at any time: build folders are mapped to
  # fixed names in the debug information and in __FILE__, the PE header carries no link time, and
  # a __DATE__ or __TIME__ in our sources fails the build. -g only adds the symbols that go to the
  # separate file; the code is the same with or without it.
  # (C and C++ only: the resource compiler takes none of these.)
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:C,CXX>:-g;-Wdate-time;-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.>"
    # Tried before the one above (the last given is tried first), for a build folder inside the
    # sources.
    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=build>")
  add_link_options(-Wl,--no-insert-timestamp)
endif()

# fwu_ship_exe(TARGET): TARGET.exe in the target's binary folder becomes the shipped program,
# stripped and signed; the linker's output, with its debug information, moves to linked/. Beside
# it: TARGET.debug (the symbols, which the executable names in its .gnu_debuglink section, with
# their CRC), TARGET.unsigned.exe (the stripped image before signing: the reproducible bytes) and
# TARGET.signer.pem (the certificate it was signed with). Targets: TARGET_unsigned builds the
# stripped image and its symbols, TARGET_signed (part of all) the shipped program.
function(fwu_ship_exe target)
  set(dir ${CMAKE_CURRENT_BINARY_DIR})
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir}/linked)
  set(symbols ${target}.debug)
  # objcopy stamps the PE files it writes with the time, or with SOURCE_DATE_EPOCH when set: 0, as
  # the linker leaves it.
  set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
  add_custom_command(
    OUTPUT ${dir}/${target}.unsigned.exe ${dir}/${symbols}
    COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:${target}> ${symbols}
    # The debug link holds the symbols file's name and CRC, so it is made from the file itself.
    COMMAND ${objcopy} --strip-all --add-gnu-debuglink=${symbols} $<TARGET_FILE:${target}>
            ${target}.unsigned.exe
    DEPENDS ${target}
    WORKING_DIRECTORY ${dir}
    COMMENT "Stripping ${target}.exe, its symbols to ${symbols}"
    VERBATIM)
  add_custom_target(${target}_unsigned DEPENDS ${dir}/${target}.unsigned.exe ${dir}/${symbols})

  set(sign ${PROJECT_SOURCE_DIR}/scripts/sign-exe.sh)
  add_custom_command(
    OUTPUT ${dir}/${target}.exe ${dir}/${target}.signer.pem
    COMMAND ${sign} ${target}.unsigned.exe ${target}.exe ${target}.signer.pem
            ${PROJECT_BINARY_DIR}/test-certificate
    DEPENDS ${target}_unsigned ${dir}/${target}.unsigned.exe ${sign}
    WORKING_DIRECTORY ${dir}
    COMMENT "Signing ${target}.exe"
    VERBATIM)
  add_custom_target(${target}_signed ALL DEPENDS ${dir}/${target}.exe)
endfunction()
