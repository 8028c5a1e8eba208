#include "registrar/reg_object.h"

#include <cstring>
#include <new>

#include "base/handle_owner.h"
#include "base/hresult.h"
#include "registrar/reg_script_parser.h"
#include "registrar/script_text.h"

namespace {

// The NUL-terminated copy of a resource script; short scripts stay on the
// stack.
class CScriptCopy
{
public:
    CScriptCopy() : m_heap(NULL) {}
    ~CScriptCopy() { delete[] m_heap; }
    CScriptCopy(const CScriptCopy &) = delete;
    CScriptCopy &operator=(const CScriptCopy &) = delete;

    LPCSTR Copy(const void *bytes, DWORD count)
    {
        char *target = m_local;
        if (count >= sizeof m_local)
        {
            m_heap = new (std::nothrow) char[static_cast<size_t>(count) + 1];
            if (m_heap == NULL)
                return NULL;
            target = m_heap;
        }
        if (count > 0)
            std::memcpy(target, bytes, count);
        target[count] = '\0';
        return target;
    }

private:
    char m_local[kLocalTextSize];
    char *m_heap;
};

}  // namespace

CRegObject::CRegObject()
{}

CRegObject::~CRegObject()
{
    m_replacements.RemoveAll();
}

HRESULT STDMETHODCALLTYPE CRegObject::QueryInterface(REFIID, void **)
{
    return E_NOTIMPL;
}

ULONG STDMETHODCALLTYPE CRegObject::AddRef()
{
    return 1;
}

ULONG STDMETHODCALLTYPE CRegObject::Release()
{
    return 0;
}

HRESULT STDMETHODCALLTYPE CRegObject::DefineReplacement(LPCOLESTR name, LPCOLESTR value)
{
    if (name == NULL || value == NULL)
        return E_INVALIDARG;
    CNarrowText narrowName;
    if (!narrowName.Convert(name))
        return E_OUTOFMEMORY;
    if (!m_replacements.Add(narrowName.Text(), value))
        return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRegObject::ResetReplacements()
{
    m_replacements.RemoveAll();
    return S_OK;
}

LPCWSTR CRegObject::FindReplacement(LPCSTR name) const
{
    return m_replacements.Find(name);
}

HRESULT CRegObject::RegisterResourceScript(LPCOLESTR moduleFile, UINT resourceId,
                                           LPCOLESTR resourceType)
{
    return ApplyResourceScriptWide(moduleFile, MAKEINTRESOURCEA(resourceId), resourceType, TRUE);
}

HRESULT CRegObject::RegisterResourceScriptByName(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                                 LPCOLESTR resourceType)
{
    return ApplyResourceScriptByNameWide(moduleFile, resourceName, resourceType, TRUE);
}

HRESULT CRegObject::UnregisterResourceScript(LPCOLESTR moduleFile, UINT resourceId,
                                             LPCOLESTR resourceType)
{
    return ApplyResourceScriptWide(moduleFile, MAKEINTRESOURCEA(resourceId), resourceType, FALSE);
}

HRESULT CRegObject::UnregisterResourceScriptByName(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                                   LPCOLESTR resourceType)
{
    return ApplyResourceScriptByNameWide(moduleFile, resourceName, resourceType, FALSE);
}

HRESULT CRegObject::ApplyScriptText(LPCSTR script, BOOL registerScript)
{
    CRegScriptParser parser(*this);
    return parser.ApplyScript(script, registerScript);
}

HRESULT CRegObject::ApplyResourceScriptWide(LPCOLESTR moduleFile, LPCSTR resourceName,
                                            LPCOLESTR resourceType, BOOL registerScript)
{
    CNarrowText type;
    if (!type.Convert(resourceType))
        return E_OUTOFMEMORY;
    return ApplyResourceScript(moduleFile, resourceName, type.Text(), registerScript);
}

HRESULT CRegObject::ApplyResourceScriptByNameWide(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                                  LPCOLESTR resourceType, BOOL registerScript)
{
    if (resourceName == NULL || resourceType == NULL)
        return E_INVALIDARG;
    CNarrowText name;
    CNarrowText type;
    if (!name.Convert(resourceName) || !type.Convert(resourceType))
        return E_OUTOFMEMORY;
    return ApplyResourceScript(moduleFile, name.Text(), type.Text(), registerScript);
}

HRESULT CRegObject::ApplyResourceScript(LPCOLESTR moduleFile, LPCSTR resourceName,
                                        LPCSTR resourceType, BOOL registerScript)
{
    // A missing name counts as one that cannot be converted.
    if (moduleFile == NULL)
        return E_OUTOFMEMORY;

    // By the wide name as given: a narrow copy would lose what the code page
    // cannot spell, and name no file or another one.
    LibraryHandle module(LoadLibraryExW(moduleFile, NULL, LOAD_LIBRARY_AS_DATAFILE));
    if (module == NULL)
        return HresultFromLastError();

    HRSRC found = FindResourceA(module, resourceName, resourceType);
    if (found == NULL)
        return HresultFromLastError();
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == NULL)
        return HresultFromLastError();
    const void *bytes = LockResource(loaded);
    const DWORD size = SizeofResource(module, found);
    if (bytes == NULL && size > 0)
        return HresultFromLastError();

    // The script is the stored bytes up to the first NUL, taken as they are.
    CScriptCopy copy;
    LPCSTR script = copy.Copy(bytes, size);
    if (script == NULL)
        return E_OUTOFMEMORY;

    CRegScriptParser parser(*this);
    return parser.ApplyScript(script, registerScript);
}
