#include "registrar/script_text.h"

#include <objbase.h>

#include <climits>
#include <cstring>
#include <new>

#include "registrar/replacement_table.h"
#include "registrar/script_buffer.h"

bool IsBlank(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

void SkipBlanks(LPCSTR &position)
{
    while (IsBlank(*position))
        position = CharNextA(position);
}

bool ContainsCharacter(LPCSTR text, char c)
{
    for (LPCSTR p = text; *p != '\0'; p = CharNextA(p))
    {
        if (*p == c)
            return true;
    }
    return false;
}

namespace {

// Copies the character at position (one or two bytes) to the token and
// steps over it; false when the token would pass its longest content.
bool CopyCharacter(LPCSTR &position, LPSTR token, int &length)
{
    LPCSTR next = CharNextA(position);
    const int bytes = static_cast<int>(next - position);
    if (length + bytes > kLongestToken)
        return false;
    std::memcpy(token + length, position, static_cast<size_t>(bytes));
    length += bytes;
    position = next;
    return true;
}

}  // namespace

HRESULT ReadToken(LPCSTR &position, LPSTR token)
{
    SkipBlanks(position);
    if (*position == '\0')
        return DISP_E_EXCEPTION;

    int length = 0;
    if (*position == '\'')
    {
        position = CharNextA(position);
        for (;;)
        {
            if (*position == '\0')
                return DISP_E_EXCEPTION;  // no closing quote
            if (*position == '\'')
            {
                LPCSTR next = CharNextA(position);
                if (*next != '\'')
                    break;        // the closing quote
                position = next;  // the first of a doubled pair stands for nothing
            }
            if (!CopyCharacter(position, token, length))
                return DISP_E_EXCEPTION;
        }
        token[length] = '\0';
        position = CharNextA(position);
        return S_OK;
    }

    while (*position != '\0' && !IsBlank(*position))
    {
        if (!CopyCharacter(position, token, length))
            return DISP_E_EXCEPTION;
    }
    token[length] = '\0';
    return S_OK;
}

HRESULT ExpandReplacements(LPCSTR script, const CReplacementTable &table, LPSTR *result)
{
    if (result == NULL)
        return E_POINTER;
    *result = NULL;
    if (script == NULL)
        return E_POINTER;

    const size_t scriptLength = std::strlen(script);
    if (scriptLength > static_cast<size_t>(INT_MAX / 2))
        return E_OUTOFMEMORY;
    CScriptBuffer buffer;
    if (!buffer.Start(static_cast<int>(scriptLength * 2)))
        return E_OUTOFMEMORY;

    LPCSTR position = script;
    while (*position != '\0')
    {
        if (*position != '%')
        {
            // Ordinary characters go over in one piece up to the next
            // percent sign of its own.
            LPCSTR runEnd = position;
            while (*runEnd != '\0' && *runEnd != '%')
                runEnd = CharNextA(runEnd);
            if (!buffer.Append(position, static_cast<int>(runEnd - position)))
                return E_OUTOFMEMORY;
            position = runEnd;
            continue;
        }

        LPCSTR nameStart = CharNextA(position);
        if (*nameStart == '%')
        {
            if (!buffer.Append("%", 1))
                return E_OUTOFMEMORY;
            position = CharNextA(nameStart);
            continue;
        }

        LPCSTR nameEnd = nameStart;
        while (*nameEnd != '\0' && *nameEnd != '%')
            nameEnd = CharNextA(nameEnd);
        if (*nameEnd == '\0')
            return DISP_E_EXCEPTION;

        const ptrdiff_t nameLength = nameEnd - nameStart;
        if (nameLength > kReplacementNameSize - 1)
            return E_FAIL;
        char name[kReplacementNameSize];
        std::memcpy(name, nameStart, static_cast<size_t>(nameLength));
        name[nameLength] = '\0';

        LPCWSTR value = table.Find(name);
        if (value == NULL)
            return DISP_E_EXCEPTION;
        CNarrowText narrow;
        if (!narrow.Convert(value))
            return E_OUTOFMEMORY;
        if (!buffer.Append(narrow.Text(), narrow.Length()))
            return E_OUTOFMEMORY;
        position = CharNextA(nameEnd);
    }

    *result = buffer.Detach();
    return S_OK;
}

CNarrowText::CNarrowText() : m_heap(NULL), m_text(NULL), m_length(0)
{
    m_local[0] = '\0';
}

CNarrowText::~CNarrowText()
{
    delete[] m_heap;
}

bool CNarrowText::Convert(LPCWSTR text)
{
    delete[] m_heap;
    m_heap = NULL;
    m_text = NULL;
    m_length = 0;
    if (text == NULL)
        return false;

    int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, NULL, 0, NULL, NULL);
    if (bytes <= 0)
        return false;
    LPSTR target = m_local;
    if (bytes > kLocalTextSize)
    {
        m_heap = new (std::nothrow) char[static_cast<size_t>(bytes)];
        if (m_heap == NULL)
            return false;
        target = m_heap;
    }
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, target, bytes, NULL, NULL) != bytes)
        return false;
    m_text = target;
    m_length = bytes - 1;
    return true;
}

CWideText::CWideText() : m_heap(NULL), m_text(NULL)
{
    m_local[0] = L'\0';
}

CWideText::~CWideText()
{
    delete[] m_heap;
}

bool CWideText::Convert(LPCSTR text)
{
    delete[] m_heap;
    m_heap = NULL;
    m_text = NULL;
    if (text == NULL)
        return false;

    const int localUnits = static_cast<int>(sizeof m_local / sizeof m_local[0]);
    int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, NULL, 0);
    if (units <= 0)
        return false;
    LPWSTR target = m_local;
    if (units > localUnits)
    {
        m_heap = new (std::nothrow) WCHAR[static_cast<size_t>(units)];
        if (m_heap == NULL)
            return false;
        target = m_heap;
    }
    if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, target, units) != units)
        return false;
    m_text = target;
    return true;
}
