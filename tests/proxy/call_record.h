// What the recording server saw of one SetSettingValue call, as it writes
// it to a file for the test client: valueType, then per string a presence
// byte, the byte length and the bytes.
#ifndef KESTOR_TESTS_PROXY_CALL_RECORD_H
#define KESTOR_TESTS_PROXY_CALL_RECORD_H

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct RecordedString
{
    bool present = false;
    std::string bytes;  // UTF-16 units as stored, embedded NULs included

    bool operator==(const RecordedString &o) const
    {
        return present == o.present && bytes == o.bytes;
    }
};

struct CallRecord
{
    int32_t valueType = 0;
    RecordedString strings[3];
};

inline RecordedString RecordString(BSTR s)
{
    RecordedString r;
    r.present = s != nullptr;
    if (s)
        r.bytes.assign(reinterpret_cast<const char *>(s), SysStringByteLen(s));
    return r;
}

inline std::string EncodeRecord(const CallRecord &record)
{
    std::string out(reinterpret_cast<const char *>(&record.valueType), 4);
    for (const RecordedString &s : record.strings)
    {
        out.push_back(s.present ? 1 : 0);
        uint32_t size = static_cast<uint32_t>(s.bytes.size());
        out.append(reinterpret_cast<const char *>(&size), 4);
        out += s.bytes;
    }
    return out;
}

inline bool DecodeRecord(const std::string &in, CallRecord *record)
{
    size_t at = 0;
    auto take = [&](void *to, size_t n) {
        if (in.size() - at < n)
            return false;
        memcpy(to, in.data() + at, n);
        at += n;
        return true;
    };
    if (!take(&record->valueType, 4))
        return false;
    for (RecordedString &s : record->strings)
    {
        char present = 0;
        uint32_t size = 0;
        if (!take(&present, 1) || !take(&size, 4) || in.size() - at < size)
            return false;
        s.present = present != 0;
        s.bytes.assign(in.data() + at, size);
        at += size;
    }
    return at == in.size();
}

inline bool ReadWholeFile(const std::string &path, std::string *content)
{
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    content->clear();
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        content->append(buffer, n);
    fclose(f);
    return true;
}

inline bool WriteWholeFile(const std::string &path, const std::string &content)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(content.data(), 1, content.size(), f) == content.size();
    return fclose(f) == 0 && ok;
}

#endif  // KESTOR_TESTS_PROXY_CALL_RECORD_H
