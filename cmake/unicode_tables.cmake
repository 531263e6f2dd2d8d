# The Unicode tables of src/unicode/unicode.cc. src/unicode/gen_tables.cc, linked
# with ICU, writes them into the build tree (generated/unicode_tables.h), so
# ICU is needed to build the library and never to run it.
#
# quendra_unicode_tables(TARGET ROOT) makes TARGET, which compiles ROOT's
# src/unicode/unicode.cc, generate the tables first and find them. The directory
# must have found ICU as PkgConfig::ICU.
function(quendra_unicode_tables target root)
  set(tables ${CMAKE_BINARY_DIR}/generated/unicode_tables.h)
  if(NOT TARGET quendra_unicode_gen)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
    add_executable(quendra_unicode_gen ${root}/src/unicode/gen_tables.cc)
    target_link_libraries(quendra_unicode_gen PRIVATE PkgConfig::ICU)
    # A build tool: plain, without the sanitizers and runtime options of the
    # library's build.
    set_target_properties(quendra_unicode_gen PROPERTIES
      COMPILE_OPTIONS "-Wall;-Wextra;-Wpedantic" LINK_OPTIONS "")
    add_custom_command(OUTPUT ${tables}
      COMMAND quendra_unicode_gen ${tables}
      DEPENDS quendra_unicode_gen
      COMMENT "Generating the Unicode tables from ICU"
      VERBATIM)
  endif()
  target_sources(${target} PRIVATE ${tables})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
