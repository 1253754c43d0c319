# ksn_warnings(<target>): the warning set every target of the project builds with.
function(ksn_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
    -Wcast-align -Wunused -Woverloaded-virtual -Wconversion -Wsign-conversion
    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
  if(KSN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# ksn_c_warnings(<target>): the same idea for C sources.
function(ksn_c_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
  if(KSN_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
