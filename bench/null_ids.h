// Identities of the benchmark's do-nothing servers.
#ifndef KESTOR_BENCH_NULL_IDS_H
#define KESTOR_BENCH_NULL_IDS_H

#include <windows.h>

static const CLSID CLSID_KestorNullServer = {
    0x76D46E4F, 0x49A6, 0x4E44, {0x97, 0x4D, 0x62, 0xBA, 0x1B, 0xCB, 0x6B, 0xF8}};
#define KESTOR_NULL_SERVER_CLSID_TEXT "{76D46E4F-49A6-4E44-974D-62BA1BCB6BF8}"

#endif  // KESTOR_BENCH_NULL_IDS_H
