#include "registrar/script_buffer.h"

#include <objbase.h>

#include <climits>
#include <cstring>

namespace {

// A capacity above this cannot double within a signed 32-bit size.
const int kLargestDoublableCapacity = 0x3FFFFFFF;

}  // namespace

CScriptBuffer::CScriptBuffer() : m_length(0), m_capacity(0), m_data(NULL)
{}

CScriptBuffer::~CScriptBuffer()
{
    CoTaskMemFree(m_data);
}

bool CScriptBuffer::Start(int requestedSize)
{
    CoTaskMemFree(m_data);
    m_data = NULL;
    m_length = 0;
    m_capacity = 0;

    int capacity = requestedSize < 100 ? 1000 : requestedSize;
    LPSTR data = static_cast<LPSTR>(CoTaskMemAlloc(static_cast<SIZE_T>(capacity)));
    if (data == NULL)
        return false;
    data[0] = '\0';
    m_data = data;
    m_capacity = capacity;
    return true;
}

bool CScriptBuffer::Append(const char *bytes, int count)
{
    if (m_data == NULL || count < 0)
        return false;

    // Computed wide so an overflow shows instead of wrapping.
    const long long needed = static_cast<long long>(m_length) + count + 1;
    if (needed > INT_MAX)
        return false;

    int capacity = m_capacity;
    while (capacity <= needed)
    {
        if (capacity > kLargestDoublableCapacity)
            return false;
        capacity *= 2;
    }
    if (capacity != m_capacity)
    {
        LPSTR grown = static_cast<LPSTR>(CoTaskMemRealloc(m_data, static_cast<SIZE_T>(capacity)));
        if (grown == NULL)
            return false;
        m_data = grown;
        m_capacity = capacity;
    }

    if (count > 0)
        std::memcpy(m_data + m_length, bytes, static_cast<size_t>(count));
    m_length += count;
    m_data[m_length] = '\0';
    return true;
}

LPSTR CScriptBuffer::Detach()
{
    LPSTR data = m_data;
    m_data = NULL;
    m_length = 0;
    m_capacity = 0;
    return data;
}
