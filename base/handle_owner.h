// HandleOwner<Policy>: owner of one handle of the kind Policy describes,
// closed once on every path: by the destructor or by Close. "None" is never
// closed: null, unless the policy names another with a static None() (a file
// that CreateFile could not open is INVALID_HANDLE_VALUE). A policy names the
// type and the close function; what closing returns changes nothing for the
// owner's user.
#ifndef KESTOR_BASE_HANDLE_OWNER_H
#define KESTOR_BASE_HANDLE_OWNER_H

#include <windows.h>
#include <oleauto.h>

// The "none" of a policy: its None() when it has one, else null.
template <class Policy, class = void>
struct HandleNone
{
    static typename Policy::Handle Value() { return NULL; }
};
template <class Policy>
struct HandleNone<Policy, decltype(void(Policy::None()))>
{
    static typename Policy::Handle Value() { return Policy::None(); }
};

template <class Policy>
class HandleOwner
{
public:
    typedef typename Policy::Handle Handle;

    HandleOwner() : m_handle(HandleNone<Policy>::Value()) {}
    explicit HandleOwner(Handle handle) : m_handle(handle) {}
    ~HandleOwner() { Close(); }

    HandleOwner(const HandleOwner &) = delete;
    HandleOwner &operator=(const HandleOwner &) = delete;

    void Close()
    {
        if (Valid())
            Policy::Close(m_handle);
        m_handle = HandleNone<Policy>::Value();
    }

    // The out parameter of a function that opens one, for an empty owner.
    // The slot is written as it is: a function that fails may leave
    // something there that is no handle, which the caller sets back to none.
    Handle *Place() { return &m_handle; }

    bool Valid() const { return m_handle != HandleNone<Policy>::Value(); }
    Handle Get() const { return m_handle; }
    operator Handle() const { return m_handle; }
    // For interface pointers.
    Handle operator->() const { return m_handle; }

private:
    Handle m_handle;
};

struct KernelHandlePolicy
{
    typedef HANDLE Handle;
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

// A file, whose "none" is what CreateFile returns when it fails.
struct FileHandlePolicy
{
    typedef HANDLE Handle;
    static HANDLE None() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE handle) { CloseHandle(handle); }
};

struct ServiceHandlePolicy
{
    typedef SC_HANDLE Handle;
    static void Close(SC_HANDLE handle) { CloseServiceHandle(handle); }
};

struct RegistryKeyPolicy
{
    typedef HKEY Handle;
    static void Close(HKEY key) { RegCloseKey(key); }
};

struct LibraryPolicy
{
    typedef HMODULE Handle;
    static void Close(HMODULE module) { FreeLibrary(module); }
};

struct EventSourcePolicy
{
    typedef HANDLE Handle;
    static void Close(HANDLE source) { DeregisterEventSource(source); }
};

struct BstrPolicy
{
    typedef BSTR Handle;
    static void Close(BSTR text) { SysFreeString(text); }
};

// What the system allocated with LocalAlloc for the caller: security
// descriptors, SID strings, formatted messages.
struct LocalMemoryPolicy
{
    typedef HLOCAL Handle;
    static void Close(HLOCAL memory) { LocalFree(memory); }
};

template <class Interface>
struct ReleasePolicy
{
    typedef Interface *Handle;
    static void Close(Interface *object) { object->Release(); }
};

// Tokens, events, processes, threads: whatever CloseHandle closes.
typedef HandleOwner<KernelHandlePolicy> KernelHandle;
typedef HandleOwner<FileHandlePolicy> FileHandle;
// The service manager or one service.
typedef HandleOwner<ServiceHandlePolicy> ServiceHandle;
typedef HandleOwner<RegistryKeyPolicy> RegistryKeyHandle;
typedef HandleOwner<LibraryPolicy> LibraryHandle;
typedef HandleOwner<EventSourcePolicy> EventSourceHandle;
typedef HandleOwner<BstrPolicy> OwnedBstr;
typedef HandleOwner<LocalMemoryPolicy> LocalMemory;
template <class Interface>
using InterfaceReference = HandleOwner<ReleasePolicy<Interface>>;

#endif  // KESTOR_BASE_HANDLE_OWNER_H
