# Compiles small sources with the configuration's C++ compiler and the
# project's warning flags: a clean source must build (so a failure below is
# the warning's doing, not a broken command line), and each faulty one must
# fail with its warning named.
#   cmake -DCXX=compiler -DFLAGS="flags" -DWINDOWS=ON|OFF -DWORK=dir -P warning_gate_test.cmake
separate_arguments(flags UNIX_COMMAND "${FLAGS}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(failures 0)

# name, whether it must build, what the compiler must say, source text.
function(check name must_build expect text)
  file(WRITE "${WORK}/${name}.cpp" "${text}")
  execute_process(COMMAND "${CXX}" -std=c++17 ${flags} -c "${WORK}/${name}.cpp" -o "${WORK}/${name}.o"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(must_build AND NOT rc EQUAL 0)
    message(SEND_ERROR "${name}: expected to build, failed:\n${out}")
  elseif(NOT must_build AND rc EQUAL 0)
    message(SEND_ERROR "${name}: expected the build to fail, it succeeded:\n${out}")
  elseif(NOT must_build AND NOT out MATCHES "${expect}")
    message(SEND_ERROR "${name}: failed without naming ${expect}:\n${out}")
  else()
    message(STATUS "${name}: as expected")
  endif()
endfunction()

# %lld is C99: the runtime C++ code links (MinGW's own printf under Windows)
# takes it, so the checks must too.
check(clean ON "" [[
#include <cstdio>
int main() { long long n = 1; std::printf("%lld %s\n", n, "ok"); return 0; }
]])
check(unused_variable OFF "unused-variable" [[
int main() { int unused = 0; return 0; }
]])
check(printf_argument OFF "Werror[=,]-?W?format" [[
#include <cstdio>
int main() { std::printf("%d\n", "text"); return 0; }
]])
check(printf_nonliteral OFF "format-(security|nonliteral)" [[
#include <cstdio>
void Say(const char* text) { std::printf(text); }
int main() { Say("x"); return 0; }
]])
if(WINDOWS)
  # The Microsoft runtime's own functions carry their own format checks.
  check(ms_printf_argument OFF "Werror[=,]-?W?format" [[
#include <stdio.h>
int main() { char text[16]; _snprintf(text, sizeof text, "%d", "text"); return text[0]; }
]])
endif()
