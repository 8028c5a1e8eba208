// Identities of the benchmark's do-nothing servers: one COM starts as a
// local server, one it starts through the Service Control Manager.
#ifndef KESTOR_BENCH_NULL_IDS_H
#define KESTOR_BENCH_NULL_IDS_H

#include <windows.h>

static const CLSID CLSID_KestorNullServer = {
    0x76D46E4F, 0x49A6, 0x4E44, {0x97, 0x4D, 0x62, 0xBA, 0x1B, 0xCB, 0x6B, 0xF8}};
#define KESTOR_NULL_SERVER_CLSID_TEXT "{76D46E4F-49A6-4E44-974D-62BA1BCB6BF8}"

static const CLSID CLSID_KestorNullService = {
    0x9F41E165, 0x48A3, 0x40B1, {0x8E, 0xAF, 0x05, 0x50, 0x6A, 0xD7, 0xCF, 0x42}};
#define KESTOR_NULL_SERVICE_CLSID_TEXT "{9F41E165-48A3-40B1-8EAF-05506AD7CF42}"
#define KESTOR_NULL_SERVICE_APPID_TEXT "{39B68DD5-146E-4397-9FAC-35364B913872}"
#define KESTOR_NULL_SERVICE_NAME "KestorNullService"

#endif  // KESTOR_BENCH_NULL_IDS_H
