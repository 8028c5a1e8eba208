// The registration-script interpreter as a module sees it: what a module
// adds to every script of its own before it runs.
#ifndef KESTOR_REGISTRAR_REGISTRAR_BASE_H
#define KESTOR_REGISTRAR_REGISTRAR_BASE_H

#include <objbase.h>

struct IRegistrarBase : public IUnknown
{
    virtual HRESULT STDMETHODCALLTYPE DefineReplacement(LPCOLESTR name, LPCOLESTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ResetReplacements() = 0;
};

// One extra replacement variable for a module's script; a null name ends
// the list.
struct ReplacementEntry
{
    LPCOLESTR name;
    LPCOLESTR value;
};

#endif  // KESTOR_REGISTRAR_REGISTRAR_BASE_H
