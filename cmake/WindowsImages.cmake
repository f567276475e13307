# Link rules shared by the Windows images: kernel drivers (OrvLED and the test-only drivers) and the
# host-built pe-finish step that marks INIT discardable and writes the checksum.
include_guard(GLOBAL)
include(ExternalProject)

# pe-finish runs on the build machine, so it is built with the host compiler, outside the cross toolchain.
# Included once per build (include_guard): functions below use only global paths, not this file's variables.
ExternalProject_Add(led_host_tools
  SOURCE_DIR ${PROJECT_SOURCE_DIR}/Tools/PeImage
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools/build
  INSTALL_DIR ${CMAKE_BINARY_DIR}/host-tools
  CMAKE_ARGS -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR> -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=c++
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CMAKE_BINARY_DIR}/host-tools/bin/pe-finish)

# The binutils of the cross toolchain, found beside its compiler.
string(REGEX REPLACE "g\\+\\+$" "" LED_CROSS_PREFIX "${CMAKE_CXX_COMPILER}")
find_program(LED_DLLTOOL NAMES ${LED_CROSS_PREFIX}dlltool REQUIRED)

# Kernel code: no C++ runtime, no exceptions, no unwind tables that would need one, no stack protector.
function(led_kernel_code target)
  target_compile_options(${target} PRIVATE
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-stack-protector -ffreestanding)
endfunction()

# An import library for kernel routines mingw-w64's libntoskrnl.a lacks, made from a .def file.
function(led_import_library target def_file machine)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/lib${target}.a)
  add_custom_command(OUTPUT ${output}
    COMMAND ${LED_DLLTOOL} -m ${machine} -d ${def_file} -l ${output}
    DEPENDS ${def_file}
    COMMENT "Import library ${target} from ${def_file}")
  add_custom_target(${target}_build DEPENDS ${output})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${output})
  add_dependencies(${target} ${target}_build)
endfunction()

# led_kernel_driver(TARGET OUTPUT_NAME name SOURCES ... [LIBRARIES ...] [DISCARDABLE section...])
# A native-subsystem .sys entered at DriverEntry that links against ntoskrnl.exe and hal.dll only.
function(led_kernel_driver target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "OUTPUT_NAME" "SOURCES;LIBRARIES;DISCARDABLE")
  # Linked as an executable image, as drivers are: no DLL flag, no export table; --dynamicbase keeps
  # the relocations the loader needs.
  add_executable(${target} ${ARG_SOURCES})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${ARG_OUTPUT_NAME} SUFFIX ".sys"
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  led_kernel_code(${target})
  target_link_options(${target} PRIVATE
    -nostdlib -s
    -Wl,--subsystem,native -Wl,--entry,DriverEntry
    # The usual base of x86-64 drivers; the loader relocates them anyway.
    -Wl,--image-base,0x140000000
    -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat)
  # libgcc only for compiler helpers (stack probes); it imports nothing.
  target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} ntoskrnl hal gcc)
  add_dependencies(${target} led_host_tools)
  set(discardable)
  foreach(section IN LISTS ARG_DISCARDABLE)
    list(APPEND discardable --discardable ${section})
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_BINARY_DIR}/host-tools/bin/pe-finish $<TARGET_FILE:${target}> ${discardable}
    VERBATIM)
endfunction()
