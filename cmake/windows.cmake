# The Windows build (cross-built with MinGW-w64 by scripts/windows): programs that need no DLLs
# beside them, each with the application icon and a version resource, and the window as a GUI
# program. Included from the top CMakeLists.txt before any target is made.

if(MINGW)
    # Without it the programs need libstdc++-6.dll, libgcc_s_seh-1.dll and libwinpthread-1.dll.
    add_link_options(-static)
endif()
enable_language(RC)

# The icon, drawn from the same picture as the Linux desktop icon, in the sizes Explorer and the
# taskbar ask for.
find_program(QUARVEL_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(QUARVEL_IM_CONVERT convert REQUIRED)
set(_quarvel_svg ${PROJECT_SOURCE_DIR}/packaging/quarvel-config.svg)
set(_quarvel_ico ${PROJECT_BINARY_DIR}/quarvel-config.ico)
set(_quarvel_pngs)
foreach(size 16 24 32 48 256)
    set(png ${PROJECT_BINARY_DIR}/icon/${size}.png)
    add_custom_command(
        OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/icon
        COMMAND ${QUARVEL_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${_quarvel_svg}
        DEPENDS ${_quarvel_svg} VERBATIM)
    list(APPEND _quarvel_pngs ${png})
endforeach()
add_custom_command(OUTPUT ${_quarvel_ico} COMMAND ${QUARVEL_IM_CONVERT} ${_quarvel_pngs} ${_quarvel_ico}
                   DEPENDS ${_quarvel_pngs} VERBATIM)
add_custom_target(quarvel_icon DEPENDS ${_quarvel_ico})

# The window tests run on Qt's windows platform (under Wine on Xvfb here): it draws with the
# system's fonts, which the layout tests are about. The offscreen platform of a Windows Qt finds
# no fonts at all.
set(QUARVEL_TEST_PLATFORM windows)

# What Explorer shows under Properties > Details for each program.
set(_quarvel_programs
    "quarvel-config|Configuration window for GPS-referenced clock generators"
    "quarvel-demo|The configuration window on two simulated clock generators"
    "quarvel-ctl|Command-line control of GPS-referenced clock generators"
    "quarvel-plan|Frequency plan search for a clock generator output"
    "quarvel-probe|Lists attached clock generators and why one cannot be opened")

# Runs when the whole tree is read, so that the programs of tools/ exist.
function(quarvel_windows_finish)
    foreach(entry ${_quarvel_programs})
        string(REPLACE "|" ";" entry "${entry}")
        list(GET entry 0 QUARVEL_RC_PROGRAM)
        list(GET entry 1 QUARVEL_RC_DESCRIPTION)
        set(QUARVEL_RC_ICON ${_quarvel_ico})
        set(rc ${PROJECT_BINARY_DIR}/${QUARVEL_RC_PROGRAM}.rc)
        configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${rc} @ONLY)
        target_sources(${QUARVEL_RC_PROGRAM} PRIVATE ${rc})
        set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${_quarvel_ico})
        add_dependencies(${QUARVEL_RC_PROGRAM} quarvel_icon)
    endforeach()
    # The window opens no console of its own.
    set_target_properties(quarvel-config PROPERTIES WIN32_EXECUTABLE ON)

    if(QUARVEL_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR)
        add_test(NAME windows_programs_under_wine
                 COMMAND bash ${PROJECT_SOURCE_DIR}/tests/windows/programs_under_wine.sh
                         ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:quarvel-ctl>
                         $<TARGET_FILE:quarvel-probe> $<TARGET_FILE:quarvel-plan>)
    endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL quarvel_windows_finish)
