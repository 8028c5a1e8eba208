#include "registrar/replacement_table.h"

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

LPSTR CopyNarrow(LPCSTR text)
{
    size_t bytes = std::strlen(text) + 1;
    LPSTR copy = static_cast<LPSTR>(std::malloc(bytes));
    if (copy != NULL)
        std::memcpy(copy, text, bytes);
    return copy;
}

LPWSTR CopyWide(LPCWSTR text)
{
    size_t units = static_cast<size_t>(lstrlenW(text)) + 1;
    LPWSTR copy = static_cast<LPWSTR>(std::malloc(units * sizeof(WCHAR)));
    if (copy != NULL)
        std::memcpy(copy, text, units * sizeof(WCHAR));
    return copy;
}

}  // namespace

CReplacementTable::CReplacementTable() : m_names(NULL), m_values(NULL), m_count(0)
{}

CReplacementTable::~CReplacementTable()
{
    RemoveAll();
}

bool CReplacementTable::Add(LPCSTR name, LPCWSTR value)
{
    if (name == NULL || value == NULL || m_count == INT_MAX)
        return false;

    LPSTR nameCopy = CopyNarrow(name);
    LPWSTR valueCopy = CopyWide(value);
    if (nameCopy == NULL || valueCopy == NULL)
    {
        std::free(nameCopy);
        std::free(valueCopy);
        return false;
    }

    const size_t newCount = static_cast<size_t>(m_count) + 1;
    // Each array is replaced only once it has grown, so a failure of the
    // second leaves the first merely larger than needed and the count alone.
    LPSTR *names = static_cast<LPSTR *>(std::realloc(m_names, newCount * sizeof(LPSTR)));
    if (names == NULL)
    {
        std::free(nameCopy);
        std::free(valueCopy);
        return false;
    }
    m_names = names;
    LPWSTR *values = static_cast<LPWSTR *>(std::realloc(m_values, newCount * sizeof(LPWSTR)));
    if (values == NULL)
    {
        std::free(nameCopy);
        std::free(valueCopy);
        return false;
    }
    m_values = values;

    m_names[m_count] = nameCopy;
    m_values[m_count] = valueCopy;
    ++m_count;
    return true;
}

LPCWSTR CReplacementTable::Find(LPCSTR name) const
{
    if (name == NULL)
        return NULL;
    for (int i = 0; i < m_count; ++i)
    {
        if (lstrcmpiA(m_names[i], name) == 0)
            return m_values[i];
    }
    return NULL;
}

void CReplacementTable::RemoveAll()
{
    for (int i = 0; i < m_count; ++i)
    {
        std::free(m_names[i]);
        std::free(m_values[i]);
    }
    std::free(m_names);
    std::free(m_values);
    m_names = NULL;
    m_values = NULL;
    m_count = 0;
}
