// Linked into every Windows test program: a crash on any thread ends the
// process with the exception code, so the test fails. (Wine's default hands
// the crash to its debugger, after which the exit status can read 0.)
#include <windows.h>

#include <cstdio>

namespace {

LONG WINAPI ExitOnCrash(EXCEPTION_POINTERS* info) {
    DWORD code = info->ExceptionRecord->ExceptionCode;
    std::fprintf(stderr, "\nunhandled exception 0x%08lx at %p: test program ends\n",
                 static_cast<unsigned long>(code), info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    ::TerminateProcess(::GetCurrentProcess(), code != 0 ? code : 1);
    return EXCEPTION_EXECUTE_HANDLER;
}

const bool installed = (::SetUnhandledExceptionFilter(ExitOnCrash), true);

}  // namespace
