// Default options of the sanitizers, built into every program of a sanitized
// build (see KVR_SANITIZE in the top CMakeLists.txt). The runtimes ask for
// them before main(); ASAN_OPTIONS, UBSAN_OPTIONS, LSAN_OPTIONS and
// TSAN_OPTIONS in the environment still add to or override them.

#define KVR_SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used))

// Undefined behaviour fails the program at its first report, as memory
// errors do; a report that only printed would pass unnoticed in a test.
KVR_SANITIZER_HOOK const char* __ubsan_default_options()
{
    return "halt_on_error=1:print_stacktrace=1:suppressions=" KVR_SANITIZER_DIR "/ubsan.supp";
}

KVR_SANITIZER_HOOK const char* __asan_default_options()
{
    return "detect_leaks=1:check_initialization_order=1:strict_init_order=1";
}

KVR_SANITIZER_HOOK const char* __lsan_default_options()
{
    return "suppressions=" KVR_SANITIZER_DIR "/lsan.supp";
}

KVR_SANITIZER_HOOK const char* __tsan_default_options()
{
    // Test peers run as child processes (QProcess): the child only calls
    // exec, so forking while other threads run is safe here.
    return "second_deadlock_stack=1:die_after_fork=0:suppressions=" KVR_SANITIZER_DIR "/tsan.supp";
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KVR_LEAK_CHECKED 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define KVR_LEAK_CHECKED 1
#endif

#ifdef KVR_LEAK_CHECKED
#include <dlfcn.h>

// Mesa's software OpenGL driver keeps what it sets up once in its own
// globals, and is unloaded when Qt closes the display at exit: the leak check
// then finds that memory unreachable, with a stack it can no longer name
// (the driver is gone, and it has no frame pointers). Keeping the driver
// loaded until the end makes that memory reachable again, as it really is,
// without hiding any leak of ours. A process that never draws with OpenGL
// pays only the load.
__attribute__((constructor)) static void keepOpenGlDriverLoaded()
{
    dlopen("/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so", RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE);
}
#endif
