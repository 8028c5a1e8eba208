#include "registrar/reg_object.h"

#include <new>

CRegObject::CRegObject()
{
}

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

HRESULT STDMETHODCALLTYPE CRegObject::DefineReplacement(LPCOLESTR, LPCOLESTR)
{
    return E_NOTIMPL;
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

HRESULT CRegObject::RegisterResourceScript(LPCOLESTR, UINT, LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT CRegObject::RegisterResourceScriptByName(LPCOLESTR, LPCOLESTR, LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT CRegObject::UnregisterResourceScript(LPCOLESTR, UINT, LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT CRegObject::UnregisterResourceScriptByName(LPCOLESTR, LPCOLESTR, LPCOLESTR)
{
    return E_NOTIMPL;
}

HRESULT CRegObject::ApplyScriptText(LPCSTR, BOOL)
{
    return E_NOTIMPL;
}
