#include "core/platform.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#if defined(__linux__) && !defined(__GLIBC__)
#include <sys/prctl.h>
#endif
#endif

#include <cstring>

namespace brindle::platform {

#if defined(_WIN32)

bool thread_stack(std::uintptr_t& lowest, std::size_t& size) noexcept {
    // Windows 8 and newer; the reserved stack, not only the pages committed so far.
    ULONG_PTR low = 0;
    ULONG_PTR high = 0;
    GetCurrentThreadStackLimits(&low, &high);
    if (low == 0 || high <= low) return false;
    lowest = static_cast<std::uintptr_t>(low);
    size = static_cast<std::size_t>(high - low);
    return true;
}

namespace {

// The name in `full` (of kFullName bytes), empty when unknown.
constexpr std::size_t kFullName = 256;

void full_thread_name(char* full) noexcept {
    full[0] = '\0';
    // GetThreadDescription exists from Windows 10 1607 on: looked up, not linked.
    using Describe = HRESULT(WINAPI*)(HANDLE, PWSTR*);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    FARPROC found = GetProcAddress(kernel, "GetThreadDescription");
    if (found == nullptr) return;
    Describe describe;
    static_assert(sizeof describe == sizeof found);
    std::memcpy(&describe, &found, sizeof describe);
    PWSTR wide = nullptr;
    if (FAILED(describe(GetCurrentThread(), &wide)) || wide == nullptr) return;
    int written = WideCharToMultiByte(CP_UTF8, 0, wide, -1, full, static_cast<int>(kFullName),
                                      nullptr, nullptr);
    if (written <= 0) full[0] = '\0';
    full[kFullName - 1] = '\0';
    LocalFree(wide);
}

}  // namespace

#else

bool thread_stack(std::uintptr_t& lowest, std::size_t& size) noexcept {
#if defined(__APPLE__)
    // macOS gives the stack's top (it grows down) and its size.
    pthread_t self = pthread_self();
    auto top = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));
    std::size_t length = pthread_get_stacksize_np(self);
    if (top == 0 || length == 0 || length > top) return false;
    lowest = top - length;
    size = length;
    return true;
#elif defined(__linux__)
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
    void* low = nullptr;
    std::size_t length = 0;
    int status = pthread_attr_getstack(&attributes, &low, &length);
    pthread_attr_destroy(&attributes);
    if (status != 0 || low == nullptr || length == 0) return false;
    lowest = reinterpret_cast<std::uintptr_t>(low);
    size = length;
    return true;
#else
    (void)lowest;
    (void)size;
    return false;
#endif
}

namespace {

// The name in `full` (of kFullName bytes), empty when unknown. glibc refuses a
// buffer shorter than its 16-byte limit, so the name is read whole, then cut.
constexpr std::size_t kFullName = 64;

void full_thread_name(char* full) noexcept {
    full[0] = '\0';
#if defined(__GLIBC__) || defined(__APPLE__)
    if (pthread_getname_np(pthread_self(), full, kFullName) != 0) full[0] = '\0';
#elif defined(__linux__)
    // Other C libraries: the kernel keeps the name, at most 16 bytes with its NUL.
    if (prctl(PR_GET_NAME, full, 0, 0, 0) != 0) full[0] = '\0';
#endif
    full[kFullName - 1] = '\0';
}

}  // namespace

#endif

void thread_name(char* name, std::size_t size) noexcept {
    char full[kFullName];
    full_thread_name(full);
    std::size_t length = std::strlen(full);
    if (length >= size) length = size - 1;
    std::memcpy(name, full, length);
    name[length] = '\0';
}

}  // namespace brindle::platform
