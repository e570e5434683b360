# Build helpers shared by the source, test, fuzz and bench trees.

set(ZOR_COMMON_FLAGS -Wall -Wextra)
if(ZOR_WERROR)
  list(APPEND ZOR_COMMON_FLAGS -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  list(APPEND ZOR_COMMON_FLAGS -Wthread-safety)
endif()

if(ZOR_SANITIZE)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=address,undefined;-fno-omit-frame-pointer;-fno-sanitize-recover=undefined>")
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZOR_TSAN)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=thread;-fno-omit-frame-pointer>")
  add_link_options(-fsanitize=thread)
endif()
if(ZOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZOR_FUZZ needs clang")
  endif()
  # Instrument everything for coverage; only the fuzz targets link libFuzzer's main.
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fsanitize=fuzzer-no-link,address,undefined;-fno-omit-frame-pointer>")
  add_link_options(-fsanitize=address,undefined)
endif()

add_compile_definitions(
  ZOR_VERSION="${PROJECT_VERSION}"
  ZOR_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  ZOR_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  ZOR_VERSION_PATCH=${PROJECT_VERSION_PATCH})

# zor_folder_library(NAME DEPS ...) builds src/NAME/*.cpp into the static library
# zor_NAME. A folder without sources yet becomes an interface library.
function(zor_folder_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  list(FILTER sources EXCLUDE REGEX ".*/main\\.cpp$")
  if(sources)
    add_library(zor_${name} STATIC ${sources})
    target_include_directories(zor_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zor_${name} PUBLIC ${ARG_DEPS})
    target_compile_options(zor_${name} PRIVATE ${ZOR_COMMON_FLAGS})
  else()
    add_library(zor_${name} INTERFACE)
    target_include_directories(zor_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(zor_${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# zor_lazy_library(NAME SONAME IMPORTED_TARGET [NEEDS OTHER] [WHOLE]) makes zor_lazy_NAME:
# stubs for every function of the shared library IMPORTED_TARGET names, which
# load it (SONAME) on the first call of one of them (src/platform/LazyLibrary.h).
# Linking zor_lazy_NAME instead of IMPORTED_TARGET keeps the library out of the
# program's start. WHOLE: the stubs come as an object, not an archive member, so
# a link that takes zor_lazy_NAME gets every stub whatever part of it calls the
# library (also the archives linked after it, such as the C++ run-time).
# x86-64 Linux only; elsewhere zor_lazy_NAME links the library.
function(zor_lazy_library name soname imported)
  cmake_parse_arguments(ARG "WHOLE" "NEEDS" "" ${ARGN})
  add_library(zor_lazy_${name} INTERFACE)
  target_include_directories(zor_lazy_${name} INTERFACE
    $<TARGET_PROPERTY:${imported},INTERFACE_INCLUDE_DIRECTORIES>)
  if(NOT (CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64"))
    target_link_libraries(zor_lazy_${name} INTERFACE ${imported})
    return()
  endif()
  get_target_property(file ${imported} IMPORTED_LOCATION)
  if(NOT file)
    get_target_property(file ${imported} IMPORTED_LOCATION_RELEASE)
  endif()
  set(needs "-")
  if(ARG_NEEDS)
    set(needs ${ARG_NEEDS})
  endif()
  set(stubs ${CMAKE_BINARY_DIR}/lazy/${name}.S)
  add_custom_command(OUTPUT ${stubs}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/lazy
    COMMAND bash ${PROJECT_SOURCE_DIR}/cmake/lazy-stubs.sh ${name} ${soname} ${file} ${needs} ${stubs}
    DEPENDS ${PROJECT_SOURCE_DIR}/cmake/lazy-stubs.sh ${file}
    COMMENT "Stubs that load ${soname} on first use")
  if(ARG_WHOLE)
    add_library(zor_lazy_${name}_stubs OBJECT ${stubs})
  else()
    add_library(zor_lazy_${name}_stubs STATIC ${stubs})
  endif()
  target_link_libraries(zor_lazy_${name}_stubs PUBLIC zor_platform ${CMAKE_DL_LIBS})
  if(ARG_NEEDS)
    target_link_libraries(zor_lazy_${name}_stubs PUBLIC zor_lazy_${ARG_NEEDS})
  endif()
  target_link_libraries(zor_lazy_${name} INTERFACE zor_lazy_${name}_stubs)
  if(ARG_WHOLE)
    # An object library gives its objects to direct links only: pass them on.
    target_link_libraries(zor_lazy_${name} INTERFACE $<TARGET_OBJECTS:zor_lazy_${name}_stubs>)
  endif()
endfunction()
