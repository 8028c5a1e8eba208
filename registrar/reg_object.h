// CRegObject: the registration-script interpreter. Its user creates it as a
// local value for one registration, defines the replacement variables and
// runs scripts from resources or from memory in register or unregister mode.
// It is not reference-counted: AddRef and Release only answer.
#ifndef KESTOR_REGISTRAR_REG_OBJECT_H
#define KESTOR_REGISTRAR_REG_OBJECT_H

#include <windows.h>

#include "registrar/registrar_base.h"
#include "registrar/replacement_table.h"

class CRegObject : public IRegistrarBase
{
public:
    CRegObject();
    virtual ~CRegObject();  // empties the table

    CRegObject(const CRegObject &) = delete;
    CRegObject &operator=(const CRegObject &) = delete;

    // E_NOTIMPL; the out pointer is left untouched.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **result) override;
    ULONG STDMETHODCALLTYPE AddRef() override;   // 1
    ULONG STDMETHODCALLTYPE Release() override;  // 0, destroys nothing

    // E_INVALIDARG for a null name or value, E_OUTOFMEMORY when the name
    // cannot be converted or the entry cannot be stored.
    HRESULT STDMETHODCALLTYPE DefineReplacement(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE ResetReplacements() override;

    // The wide value of the first variable of that name (any case), or NULL.
    LPCWSTR FindReplacement(LPCSTR name) const;

    // Scripts stored as resources of moduleFile (loaded by that wide name as
    // given), by 16-bit number or by name.
    // A null type (or a null name for the by-name forms) is refused before
    // the module is loaded.
    HRESULT RegisterResourceScript(LPCOLESTR moduleFile, UINT resourceId, LPCOLESTR resourceType);
    HRESULT RegisterResourceScriptByName(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                         LPCOLESTR resourceType);
    HRESULT UnregisterResourceScript(LPCOLESTR moduleFile, UINT resourceId, LPCOLESTR resourceType);
    HRESULT UnregisterResourceScriptByName(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                           LPCOLESTR resourceType);

    // Runs a script held in memory (narrow text) in register or unregister mode.
    HRESULT ApplyScriptText(LPCSTR script, BOOL registerScript);

    const CReplacementTable &Replacements() const { return m_replacements; }

private:
    // resourceName is a narrow name or a MAKEINTRESOURCEA number.
    HRESULT ApplyResourceScript(LPCOLESTR moduleFile, LPCSTR resourceName, LPCSTR resourceType,
                                BOOL registerScript);
    HRESULT ApplyResourceScriptWide(LPCOLESTR moduleFile, LPCSTR resourceName,
                                    LPCOLESTR resourceType, BOOL registerScript);
    HRESULT ApplyResourceScriptByNameWide(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                          LPCOLESTR resourceType, BOOL registerScript);

    CReplacementTable m_replacements;
};

#endif  // KESTOR_REGISTRAR_REG_OBJECT_H
