// Module registration: placeholder bodies until the registration scripts
// are wired in; every operation refuses with E_NOTIMPL.
#include "broker/com_module.h"

HRESULT CComModule::AddStandardReplacements(IRegistrarBase *)
{
    return E_NOTIMPL;
}

HRESULT CComModule::ApplyRegistryScript(UINT, BOOL, const ReplacementEntry *)
{
    return E_NOTIMPL;
}

HRESULT CComModule::ApplyRegistryScriptByName(LPCSTR, BOOL, const ReplacementEntry *)
{
    return E_NOTIMPL;
}

HRESULT CComModule::RegisterServerObjects(BOOL, const CLSID *)
{
    return E_NOTIMPL;
}

HRESULT CComModule::UnregisterServerObjects(BOOL, const CLSID *)
{
    return E_NOTIMPL;
}
