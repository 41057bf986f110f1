# Build helpers shared by every subsystem: one place for warnings and sanitizers.

if(NORV_SANITIZE)
  add_compile_options(-fsanitize=${NORV_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${NORV_SANITIZE})
endif()

# Applies the project's warning flags to a target.
function(norv_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2 -Wno-format-nonliteral)
  # g++ 12 at -O3 reports std::string concatenations as overlapping copies (a known false
  # positive of its -Wrestrict).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(NORV_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Declares a subsystem library rooted at the repository root for includes.
function(norv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  norv_warnings(${name})
endfunction()
