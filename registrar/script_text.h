// The text layer of registration scripts: the replacement pass over a whole
// script, tokens, blanks, and the code-page conversions the interpreter
// needs. Every step through narrow text goes by CharNextA, so the trail
// byte of a double-byte character is never taken for a quote, brace,
// percent sign, backslash or blank.
#ifndef KESTOR_REGISTRAR_SCRIPT_TEXT_H
#define KESTOR_REGISTRAR_SCRIPT_TEXT_H

#include <windows.h>

class CReplacementTable;

// Token buffer: 4094 bytes of content, the NUL, and one spare byte.
const int kTokenBufferSize = 4096;
const int kLongestToken = kTokenBufferSize - 2;
// Name of a replacement variable: up to 31 bytes and the NUL.
const int kReplacementNameSize = 32;
// Conversions and copies up to this many bytes stay on the stack.
const int kLocalTextSize = 1024;

// Resolves %name% and %% over the whole script. On success *result is a new
// text the caller frees with CoTaskMemFree; on failure it is NULL.
// E_POINTER for a null script or result, DISP_E_EXCEPTION for an unclosed
// percent sign or an undefined name, E_FAIL for a name over 31 bytes,
// E_OUTOFMEMORY when the text cannot grow or a value cannot be converted.
HRESULT ExpandReplacements(LPCSTR script, const CReplacementTable &table, LPSTR *result);

// Reads one token at position into token (kTokenBufferSize bytes) and moves
// position past it. DISP_E_EXCEPTION at the end of the text, for a quoted
// token without its closing quote, or for a token over kLongestToken bytes.
HRESULT ReadToken(LPCSTR &position, LPSTR token);

// Moves position over tab, line feed, carriage return and space.
void SkipBlanks(LPCSTR &position);

bool IsBlank(char c);

// True when text holds the single-byte character c as a character of its
// own (not as the trail byte of a double-byte character).
bool ContainsCharacter(LPCSTR text, char c);

// Narrow copy of a wide text in the thread's ANSI code page; short texts
// stay in the object, longer ones go to the heap.
class CNarrowText
{
public:
    CNarrowText();
    ~CNarrowText();
    CNarrowText(const CNarrowText &) = delete;
    CNarrowText &operator=(const CNarrowText &) = delete;

    // False for a null text, a failed conversion or a failed allocation.
    bool Convert(LPCWSTR text);
    LPCSTR Text() const { return m_text; }
    // Bytes without the NUL.
    int Length() const { return m_length; }

private:
    char m_local[kLocalTextSize];
    char *m_heap;
    LPSTR m_text;
    int m_length;
};

// Wide copy of a narrow text in the thread's ANSI code page.
class CWideText
{
public:
    CWideText();
    ~CWideText();
    CWideText(const CWideText &) = delete;
    CWideText &operator=(const CWideText &) = delete;

    bool Convert(LPCSTR text);
    LPCWSTR Text() const { return m_text; }

private:
    WCHAR m_local[kLocalTextSize / sizeof(WCHAR)];
    WCHAR *m_heap;
    LPWSTR m_text;
};

#endif  // KESTOR_REGISTRAR_SCRIPT_TEXT_H
