// CReplacementTable: the replacement variables of one interpreter, in the
// order they were defined. Names are narrow, values wide; a second
// definition of a name adds a second entry and lookups find the first.
#ifndef KESTOR_REGISTRAR_REPLACEMENT_TABLE_H
#define KESTOR_REGISTRAR_REPLACEMENT_TABLE_H

#include <windows.h>

class CReplacementTable
{
public:
    CReplacementTable();
    ~CReplacementTable();

    CReplacementTable(const CReplacementTable &) = delete;
    CReplacementTable &operator=(const CReplacementTable &) = delete;

    // Copies both texts. False when an allocation fails; the table is then
    // as it was.
    bool Add(LPCSTR name, LPCWSTR value);

    // The value of the first entry whose name matches without regard to
    // case, or NULL.
    LPCWSTR Find(LPCSTR name) const;

    // Frees every name and value and both arrays.
    void RemoveAll();

    int Count() const { return m_count; }

private:
    LPSTR *m_names;
    LPWSTR *m_values;
    int m_count;
};

#endif  // KESTOR_REGISTRAR_REPLACEMENT_TABLE_H
