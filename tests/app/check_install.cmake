# Installs the build into PREFIX and checks what a desktop needs to find and
# start the program. Run by CTest: cmake -DBUILD_DIR=... -DPREFIX=...
# -DVALIDATE=<desktop-file-validate> -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${output}")
endif()

set(desktop "${PREFIX}/share/applications/vostrel.desktop")
foreach(file "${PREFIX}/bin/vostrel" "${desktop}"
             "${PREFIX}/share/icons/hicolor/scalable/apps/vostrel.svg")
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
if(IS_DIRECTORY "${PREFIX}/bin/vostrel")
  message(FATAL_ERROR "bin/vostrel is a folder")
endif()

execute_process(COMMAND "${VALIDATE}" "${desktop}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate rejects the entry:\n${output}")
endif()

# The entry starts the installed program and names the installed icon.
file(STRINGS "${desktop}" lines)
foreach(expected "Exec=vostrel" "Icon=vostrel" "Type=Application" "Name=Vostrel")
  list(FIND lines "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the desktop entry lacks ${expected}")
  endif()
endforeach()

# The icon is an SVG picture with a size.
file(READ "${PREFIX}/share/icons/hicolor/scalable/apps/vostrel.svg" svg)
if(NOT svg MATCHES "<svg[^>]*viewBox=\"0 0 128 128\"" OR NOT svg MATCHES "</svg>[ \n]*$")
  message(FATAL_ERROR "the icon is not a complete SVG picture")
endif()
file(REMOVE_RECURSE "${PREFIX}")
