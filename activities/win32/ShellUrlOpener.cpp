#include "activities/win32/ShellUrlOpener.h"

// windows.h first: the other Windows headers rely on its definitions.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "core/Log.h"

namespace {

// The shell may hand an address to a handler that is a COM object, which
// needs an apartment on the calling thread. Only an initialisation that
// succeeded is balanced; a thread already in another apartment keeps it.
class ScopedComApartment {
  public:
    ScopedComApartment()
        : initialised_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ScopedComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }
    ScopedComApartment(const ScopedComApartment&) = delete;
    ScopedComApartment& operator=(const ScopedComApartment&) = delete;

  private:
    bool initialised_;
};

}  // namespace

void ShellUrlOpener::open(const std::string& url) {
    const ScopedComApartment apartment;
    const HINSTANCE result =
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Not a real handle: values up to 32 are error codes, anything above
    // means the shell started something.
    const INT_PTR code = reinterpret_cast<INT_PTR>(result);
    if (code <= 32) {
        log("[ShellUrlOpener::open] ShellExecuteA failed for " + url + ", result=",
            static_cast<int64_t>(code));
    }
}
