# Helpers shared by the folder CMakeLists files.

# Adds each listed folder that has a CMakeLists.txt; "platform" and "tools"
# add every sub-folder that has one.
function(varno_add_subdirs)
    foreach(dir IN LISTS ARGN)
        if(dir STREQUAL "platform" OR dir STREQUAL "tools")
            file(GLOB children LIST_DIRECTORIES true ${CMAKE_SOURCE_DIR}/${dir}/*)
            list(SORT children)
            foreach(child IN LISTS children)
                if(EXISTS ${child}/CMakeLists.txt)
                    add_subdirectory(${child})
                endif()
            endforeach()
        elseif(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
            add_subdirectory(${CMAKE_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
        endif()
    endforeach()
endfunction()

# varno_add_library(<target> [LIBS <libs>...])
# One static library made of every source, header and form of the current
# folder (not of its sub-folders).
function(varno_add_library target)
    cmake_parse_arguments(ARG "" "" "LIBS;PRIVATE_LIBS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/*.c
        ${CMAKE_CURRENT_SOURCE_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/*.ui)
    add_library(${target} STATIC ${sources})
    target_link_libraries(${target} PUBLIC varno_options ${ARG_LIBS})
    if(ARG_PRIVATE_LIBS)
        target_link_libraries(${target} PRIVATE ${ARG_PRIVATE_LIBS})
    endif()
    set_target_properties(${target} PROPERTIES AUTOUIC_SEARCH_PATHS ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# Library target of a source folder: common -> varno_common,
# common/ui -> varno_common_ui, platform/p2p -> varno_p2p, tools/camsim -> varno_camsim.
function(varno_target_for_dir out rel)
    string(REGEX REPLACE "^(platform|tools)/" "" name "${rel}")
    string(REPLACE "/" "_" name "${name}")
    set(${out} varno_${name} PARENT_SCOPE)
endfunction()

# varno_add_tests(DIR <tests sub-folder>)
# One test executable per tst_*.cpp of the folder, linked against the library
# of the mirrored source folder. A file <name>.cmake beside a test is included
# after the target exists, for extra sources, libraries or properties (the
# target is ${test_target}, the ctest name ${test_name}).
# Every test runs in its own temporary home directory, offscreen.
function(varno_add_tests)
    cmake_parse_arguments(ARG "" "DIR" "" ${ARGN})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/tests ${ARG_DIR})
    string(REPLACE "/" "_" prefix ${rel})
    varno_target_for_dir(lib ${rel})
    file(GLOB tests CONFIGURE_DEPENDS ${ARG_DIR}/tst_*.cpp)
    foreach(src IN LISTS tests)
        get_filename_component(name ${src} NAME_WE)
        set(test_target ${prefix}_${name})
        set(test_name ${rel}/${name})
        add_executable(${test_target} ${src})
        target_link_libraries(${test_target} PRIVATE varno_options varno_testsupport Qt6::Test)
        if(TARGET ${lib})
            target_link_libraries(${test_target} PRIVATE ${lib})
        endif()
        add_test(NAME ${test_name}
                 COMMAND ${CMAKE_SOURCE_DIR}/tests/run-isolated $<TARGET_FILE:${test_target}>)
        set_tests_properties(${test_name} PROPERTIES TIMEOUT 300
            ENVIRONMENT "VARNO_BUILD_DIR=${CMAKE_BINARY_DIR};VARNO_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
        if(EXISTS ${ARG_DIR}/${name}.cmake)
            include(${ARG_DIR}/${name}.cmake)
        endif()
    endforeach()
endfunction()

# Installation: a rule without COMPONENT belongs to the client, the Debian
# package varno-pc (cmake/Packaging.cmake); the demo's pieces say
# COMPONENT camsim themselves.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME client)
# The day the version of project() was released: the AppStream release, the
# manual pages and the Debian changelog carry it. Change it with the version.
set(VARNO_RELEASE_DATE 2026-12-07)

# varno_gzip(<target> <file>): <file>.gz (gzip -9n: no name or time stamp,
# so that the same file always compresses the same), built with ALL by the
# custom target <target>. Manual pages and changelogs are installed so.
function(varno_gzip target file)
    add_custom_command(OUTPUT ${file}.gz
        COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${file} ${file}.gz
        DEPENDS ${file}
        VERBATIM)
    add_custom_target(${target} ALL DEPENDS ${file}.gz ${ARGN})
endfunction()
