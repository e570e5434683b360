# Build helpers shared by the source, test, fuzz and bench trees.

set(ZOR_COMMON_FLAGS -Wall -Wextra)
if(ZOR_WERROR)
  list(APPEND ZOR_COMMON_FLAGS -Werror)
endif()
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  list(APPEND ZOR_COMMON_FLAGS -Wthread-safety)
endif()

if(ZOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(ZOR_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(ZOR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZOR_FUZZ needs clang")
  endif()
  # Instrument everything for coverage; only the fuzz targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
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
