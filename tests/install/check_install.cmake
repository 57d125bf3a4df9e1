# Installs the build into a scratch prefix and checks what a desktop user
# gets: the program, its menu entry with icons, its AppStream description and
# manual page, the translations, and the command-line export beside the
# program.
# cmake -DBUILD_DIR=<build> -DPREFIX=<scratch dir> -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${rc}): ${out}${err}")
endif()

set(expected bin/varno-pc
             bin/varno-export
             share/applications/varno-pc.desktop
             share/metainfo/net.varno.pc.metainfo.xml
             share/man/man1/varno-pc.1.gz
             share/icons/hicolor/scalable/apps/varno-pc.svg
             share/varno/translations/translate_en.qm
             share/varno/translations/translate_en2gm.qm)
foreach(size 16 22 24 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/varno-pc.png)
endforeach()
foreach(f IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${f}")
        message(FATAL_ERROR "not installed: ${f}")
    endif()
endforeach()
if(NOT IS_DIRECTORY "${PREFIX}/bin" OR IS_SYMLINK "${PREFIX}/bin/varno-pc")
    message(FATAL_ERROR "bin/varno-pc is not a program file")
endif()
foreach(program varno-pc varno-export)
    execute_process(COMMAND test -x "${PREFIX}/bin/${program}" RESULT_VARIABLE notexec)
    if(NOT notexec EQUAL 0)
        message(FATAL_ERROR "bin/${program} is not executable")
    endif()
endforeach()

# The menu entry starts the installed program with the installed icon.
file(STRINGS "${PREFIX}/share/applications/varno-pc.desktop" entry)
foreach(line "Exec=varno-pc" "Icon=varno-pc" "Type=Application")
    list(FIND entry "${line}" found)
    if(found LESS 0)
        message(FATAL_ERROR "varno-pc.desktop lacks ${line}")
    endif()
endforeach()
find_program(VALIDATE desktop-file-validate)
if(VALIDATE)
    execute_process(COMMAND "${VALIDATE}" "${PREFIX}/share/applications/varno-pc.desktop"
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
        message(FATAL_ERROR "desktop-file-validate: ${out}${err}")
    endif()
endif()

# Nothing of the tests, benchmarks, build tools or the demo (the package
# varno-camsim, never a plain install) is installed, nor Debian's own files.
file(GLOB_RECURSE everything RELATIVE "${PREFIX}" "${PREFIX}/*")
set(unexpected ${everything})
list(FILTER unexpected INCLUDE REGEX "(^|/)(tst_|bench_|fuzz_)|varno-camsim|varno-demo|svgrender|\\.a$|^share/doc/|^include/|^lib")
if(unexpected)
    message(FATAL_ERROR "unexpected files installed: ${unexpected}")
endif()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "install layout ok")
