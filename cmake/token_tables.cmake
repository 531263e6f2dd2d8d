# The tokenizers' tables of src/tokens/. src/tokens/gen_tables.cc writes them
# into the build tree (generated/token_classes.h, generated/token_vocab.h)
# from the vocabularies in third_party/tiktoken and the Unicode tables in
# third_party/regex-syntax, so that the library builds nothing at run time.
#
# quendra_token_tables(TARGET ROOT) makes TARGET, which compiles ROOT's
# src/tokens/*.cc, generate the tables first and find them.
function(quendra_token_tables target root)
  set(classes ${CMAKE_BINARY_DIR}/generated/token_classes.h)
  set(vocab ${CMAKE_BINARY_DIR}/generated/token_vocab.h)
  if(NOT TARGET quendra_token_gen)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
    add_executable(quendra_token_gen ${root}/src/tokens/gen_tables.cc)
    # A build tool: plain and optimized, without the sanitizers and runtime
    # options of the library's build.
    set_target_properties(quendra_token_gen PROPERTIES
      COMPILE_OPTIONS "-Wall;-Wextra;-Wpedantic;-O2" LINK_OPTIONS "")
    set(inputs
      ${root}/third_party/tiktoken/o200k_base.tokens
      ${root}/third_party/tiktoken/cl100k_base.tokens
      ${root}/third_party/regex-syntax/general_category.rs
      ${root}/third_party/regex-syntax/perl_space.rs)
    add_custom_command(OUTPUT ${classes} ${vocab}
      COMMAND quendra_token_gen ${root}/third_party ${classes} ${vocab}
      DEPENDS quendra_token_gen ${inputs}
      COMMENT "Generating the tokenizers' tables"
      VERBATIM)
  endif()
  target_sources(${target} PRIVATE ${classes} ${vocab})
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
