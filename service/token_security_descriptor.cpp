#include "token_security_descriptor.h"

#include <cstdlib>

#include "base/handle_owner.h"
#include "base/hresult.h"

namespace {

// A copy of the SID one token-information class points to (TokenUser and
// TokenPrimaryGroup both start with that pointer).
HRESULT ReadTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, PSID *sid)
{
    DWORD size = 0;
    if (!GetTokenInformation(token, kind, NULL, 0, &size) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return HresultFromLastError();
    if (size < sizeof(PSID))
        return E_FAIL;
    void *record = std::malloc(size);
    if (record == NULL)
        return E_OUTOFMEMORY;
    HRESULT hr;
    if (!GetTokenInformation(token, kind, record, size, &size))
        hr = HresultFromLastError();
    else
        hr = CTokenSecurityDescriptor::CopySidTo(sid, *static_cast<PSID *>(record));
    std::free(record);
    return hr;
}

}  // namespace

void CTokenSecurityDescriptor::FreeSidCopy(PSID sid)
{
    std::free(sid);
}

HRESULT CTokenSecurityDescriptor::CopySidTo(PSID *destination, PSID sid)
{
    if (destination == NULL)
        return E_POINTER;
    if (*destination != NULL)
        return E_INVALIDARG;
    if (sid == NULL || !IsValidSid(sid))
        return E_INVALIDARG;
    DWORD length = GetLengthSid(sid);
    PSID copy = std::malloc(length);
    if (copy == NULL)
        return E_OUTOFMEMORY;
    if (!CopySid(length, copy, sid))
    {
        HRESULT hr = HresultFromLastError();
        std::free(copy);
        return hr;
    }
    *destination = copy;
    return S_OK;
}

HRESULT CTokenSecurityDescriptor::ReadTokenSids(HANDLE token, PSID *user, PSID *group)
{
    *user = NULL;
    *group = NULL;
    HRESULT hr = ReadTokenSid(token, TokenUser, user);
    if (SUCCEEDED(hr))
        hr = ReadTokenSid(token, TokenPrimaryGroup, group);
    if (FAILED(hr))
    {
        FreeSidCopy(*user);
        FreeSidCopy(*group);
        *user = NULL;
        *group = NULL;
    }
    return hr;
}

void CTokenSecurityDescriptor::Free()
{
    std::free(m_descriptor);
    FreeSidCopy(m_owner);
    FreeSidCopy(m_group);
    m_descriptor = NULL;
    m_owner = NULL;
    m_group = NULL;
}

HRESULT CTokenSecurityDescriptor::Reset()
{
    Free();
    m_descriptor = static_cast<SECURITY_DESCRIPTOR *>(std::malloc(sizeof(SECURITY_DESCRIPTOR)));
    if (m_descriptor == NULL)
        return E_OUTOFMEMORY;
    if (!InitializeSecurityDescriptor(m_descriptor, SECURITY_DESCRIPTOR_REVISION))
    {
        HRESULT hr = HresultFromLastError();
        std::free(m_descriptor);
        m_descriptor = NULL;
        return hr;
    }
    return S_OK;
}

HRESULT CTokenSecurityDescriptor::BuildFromToken(BOOL defaulted, BOOL fallBackToProcess)
{
    HRESULT hr = Reset();
    if (FAILED(hr))
        return hr;

    PSID user = NULL;
    PSID group = NULL;
    {
        KernelHandle token;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.Place()))
            hr = ReadTokenSids(token.Get(), &user, &group);
        else
            hr = HresultFromLastError();
    }
    if (FAILED(hr) && HRESULT_CODE(hr) == ERROR_NO_TOKEN && fallBackToProcess)
    {
        KernelHandle token;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Place()))
            hr = ReadTokenSids(token.Get(), &user, &group);
        else
            hr = HresultFromLastError();
    }
    if (FAILED(hr))
        return hr;

    hr = AssignOwner(user, defaulted);
    if (SUCCEEDED(hr))
        hr = AssignGroup(group, defaulted);
    FreeSidCopy(user);
    FreeSidCopy(group);
    if (FAILED(hr))
        Reset();
    return hr;
}

HRESULT CTokenSecurityDescriptor::Assign(SetSidFunction setSid, PSID *held, PSID sid,
                                         BOOL defaulted)
{
    // Without a descriptor there is nothing to write into (Reset first).
    if (m_descriptor == NULL)
        return E_UNEXPECTED;
    if (!setSid(m_descriptor, NULL, FALSE))
        return HresultFromLastError();
    FreeSidCopy(*held);
    *held = NULL;
    if (sid == NULL)
        return S_OK;

    PSID copy = NULL;
    HRESULT hr = CopySidTo(&copy, sid);
    if (FAILED(hr))
        return hr;
    if (!setSid(m_descriptor, copy, defaulted))
    {
        hr = HresultFromLastError();
        FreeSidCopy(copy);
        return hr;
    }
    *held = copy;
    return S_OK;
}

HRESULT CTokenSecurityDescriptor::AssignOwner(PSID sid, BOOL defaulted)
{
    return Assign(SetSecurityDescriptorOwner, &m_owner, sid, defaulted);
}

HRESULT CTokenSecurityDescriptor::AssignGroup(PSID sid, BOOL defaulted)
{
    return Assign(SetSecurityDescriptorGroup, &m_group, sid, defaulted);
}
