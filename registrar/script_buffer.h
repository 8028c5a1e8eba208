// CScriptBuffer: the growing output text of the replacement pass. The block
// comes from the COM task allocator so the finished text can be handed to a
// caller that frees it with CoTaskMemFree.
#ifndef KESTOR_REGISTRAR_SCRIPT_BUFFER_H
#define KESTOR_REGISTRAR_SCRIPT_BUFFER_H

#include <windows.h>

class CScriptBuffer
{
public:
    CScriptBuffer();
    ~CScriptBuffer();  // frees a text that was not detached

    CScriptBuffer(const CScriptBuffer &) = delete;
    CScriptBuffer &operator=(const CScriptBuffer &) = delete;

    // Allocates the first block: requestedSize bytes, or 1000 when fewer
    // than 100 are asked for. False when it cannot be had.
    bool Start(int requestedSize);

    // Appends count bytes and keeps the text NUL-terminated. The block
    // doubles until it is larger than the needed size; false on overflow
    // of the size or of the doubling, or when the allocator refuses.
    bool Append(const char *bytes, int count);

    // Hands the text over to the caller (CoTaskMemFree) and forgets it.
    LPSTR Detach();

    LPCSTR Text() const { return m_data; }
    int Length() const { return m_length; }
    int Capacity() const { return m_capacity; }

private:
    int m_length;
    int m_capacity;
    LPSTR m_data;
};

#endif  // KESTOR_REGISTRAR_SCRIPT_BUFFER_H
