/*
 * The IKestor contract shared by ZovKestor.exe, KestorPr.dll and every client.
 *
 * Usable from C and C++. Exactly one translation unit of each binary
 * includes <initguid.h> before this header (see kestor_ids.c) so that the
 * identifiers below are defined once; everywhere else they are declared.
 *
 * Wire form: method 3 carries a 32-bit enumeration and three BSTRs, all
 * input-only; only the HRESULT comes back. KestorPr's format strings
 * describe exactly this layout, so the slot order must never change.
 */
#ifndef KESTOR_INTERFACE_H
#define KESTOR_INTERFACE_H

#include <objbase.h>
#include <oaidl.h>

/* Class, interface, AppID and type-library identities. */
/* Each identity keeps its fields on one line of their own. */
/* clang-format off */
DEFINE_GUID(CLSID_KestorObj,
            0x2D564390, 0x2E15, 0x400B, 0xBF, 0xB5, 0x64, 0x4C, 0x86, 0xEB, 0xEF, 0xD0);
DEFINE_GUID(IID_IKestor,
            0xEA74EC34, 0x38E4, 0x4FFB, 0xA7, 0xB0, 0xBB, 0xC9, 0xA9, 0xDE, 0x39, 0x70);
DEFINE_GUID(APPID_ZovKestor,
            0x48110F26, 0xA676, 0x4995, 0x85, 0x22, 0xC7, 0x47, 0xFF, 0xF9, 0x40, 0x74);
DEFINE_GUID(LIBID_ZovKestorLib,
            0xA5F3A260, 0xCB89, 0x4B7C, 0xAC, 0x3A, 0x37, 0xED, 0xBB, 0xE5, 0x45, 0x9B);
/* clang-format on */

#define KESTOR_CLSID_TEXT "{2D564390-2E15-400B-BFB5-644C86EBEFD0}"
#define KESTOR_IID_TEXT "{EA74EC34-38E4-4FFB-A7B0-BBC9A9DE3970}"
#define KESTOR_APPID_TEXT "{48110F26-A676-4995-8522-C747FFF94074}"
#define KESTOR_LIBID_TEXT "{A5F3A260-CB89-4B7C-AC3A-37EDBBE5459B}"
#define KESTOR_PROGID "ZovKestor.KestorObj.1"
#define KESTOR_PROGID_INDEPENDENT "ZovKestor.KestorObj"

/* The only key the broker writes, below HKEY_CLASSES_ROOT. */
#define KESTOR_SETTINGS_KEY_W L"GPI\\Settings"

/*
 * Bounds on what the broker stores, so that no caller can fill the machine's
 * registry through it. A value's size is its data in bytes as stored: for a
 * string, (characters + 1) * 2, embedded NULs and the terminator included.
 * The key's size is the sum over all its values, of every type and whoever
 * wrote them, the default value included, of the name's length in bytes
 * (UTF-16, no terminator) and the data's size.
 *
 *   KESTOR_MAX_VALUE_BYTES  one value's data: 1 MiB, so at most 524,287
 *                           characters
 *   KESTOR_MAX_VALUES       values in the key
 *   KESTOR_MAX_KEY_BYTES    size of the key: 64 MiB
 *
 * A write that would take the key past a bound is refused with
 * KESTOR_E_QUOTA before anything is written (the key is not even created).
 * Overwriting a value never adds to the count, and an overwrite that does
 * not grow the value is accepted even when the key is at or over a bound,
 * so a full key can always be updated in place.
 */
#define KESTOR_MAX_VALUE_BYTES 0x100000UL
#define KESTOR_MAX_VALUES 65536UL
#define KESTOR_MAX_KEY_BYTES 0x4000000UL

/* HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_QUOTA): "Not enough quota is
   available to process this command." */
#define KESTOR_E_QUOTA ((HRESULT)0x80070718L)

/*
 * Kind of value to store. Every 32-bit value crosses the wire unchanged and
 * reaches the object, which accepts only SettingValueString. In C++ the
 * underlying type is fixed so that out-of-range values stay well defined.
 */
#ifdef __cplusplus
enum SettingValueType : int
#else
typedef enum SettingValueType
#endif
{
    SettingValueString = 1
}
#ifndef __cplusplus
SettingValueType
#endif
;

#ifdef __cplusplus

MIDL_INTERFACE("EA74EC34-38E4-4FFB-A7B0-BBC9A9DE3970")
IKestor : public IUnknown
{
public:
    /* Slot 3. Stores valueData as a REG_SZ value named valueName under
       HKEY_CLASSES_ROOT\GPI\Settings; keyPath only decides whether the call
       is refused. Returns S_OK; E_INVALIDARG for a null name or data, a type
       other than SettingValueString or a key path that does not agree with
       "GPI\Settings"; KESTOR_E_QUOTA past a bound above; otherwise the
       registry's own error as an HRESULT. */
    virtual HRESULT STDMETHODCALLTYPE SetSettingValue(SettingValueType valueType, BSTR keyPath,
                                                      BSTR valueName, BSTR valueData) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IKestor, 0xEA74EC34, 0x38E4, 0x4FFB, 0xA7, 0xB0, 0xBB, 0xC9, 0xA9, 0xDE, 0x39, 0x70)
#endif

#else /* C */

typedef struct IKestor IKestor;

typedef struct IKestorVtbl
{
    BEGIN_INTERFACE
    HRESULT(STDMETHODCALLTYPE *QueryInterface)(IKestor *This, REFIID riid, void **ppvObject);
    ULONG(STDMETHODCALLTYPE *AddRef)(IKestor *This);
    ULONG(STDMETHODCALLTYPE *Release)(IKestor *This);
    HRESULT(STDMETHODCALLTYPE *SetSettingValue)
    (IKestor *This, SettingValueType valueType, BSTR keyPath, BSTR valueName, BSTR valueData);
    END_INTERFACE
} IKestorVtbl;

struct IKestor
{
    CONST_VTBL IKestorVtbl *lpVtbl;
};

#define IKestor_QueryInterface(This, riid, ppv) ((This)->lpVtbl->QueryInterface(This, riid, ppv))
#define IKestor_AddRef(This) ((This)->lpVtbl->AddRef(This))
#define IKestor_Release(This) ((This)->lpVtbl->Release(This))
#define IKestor_SetSettingValue(This, type, path, name, data) \
    ((This)->lpVtbl->SetSettingValue(This, type, path, name, data))

#endif /* __cplusplus */

/* Number of methods, IUnknown's three included. */
#define IKESTOR_METHOD_COUNT 4

#endif /* KESTOR_INTERFACE_H */
