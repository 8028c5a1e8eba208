// Helpers of the registrar tests: scripts that reach a scratch key through
// nested blocks, and dumps of registry trees for comparison.
#ifndef KESTOR_TESTS_REGISTRAR_TEST_UTIL_H
#define KESTOR_TESTS_REGISTRAR_TEST_UTIL_H

#include <windows.h>

#include <map>
#include <string>

// "HKCU { NoRemove 'Software' { ... NoRemove '<leaf>' { body } ... } }":
// the scratch path split on its backslashes into nested blocks, each kept on
// unregister so only the body's keys come and go.
std::string ScriptUnder(const std::string &scratchPath, const std::string &body);

// Keys and values below a key: "\\a\\b" for a key (mapped to ""), and
// "\\a\\b [name]" for a value (mapped to its type and hex bytes); "[]" is
// the default value. Map order puts a key's values right after the key.
typedef std::map<std::string, std::string> RegistrySnapshot;
RegistrySnapshot TakeSnapshot(HKEY root, const std::string &path);
std::string ValueLine(DWORD type, const std::string &bytes);
// "(root)" and one line per entry; empty when the key is missing.
std::string RenderSnapshot(const RegistrySnapshot &snapshot);
std::string DumpTree(HKEY root, const std::string &path);

// Creates root\path (and the keys above it) and optionally sets a REG_SZ
// value; a null name is the default value.
void CreateKey(HKEY root, const std::string &path);
void SetStringValue(HKEY root, const std::string &path, const char *name, const char *text);

bool KeyExists(const std::string &hkcuPath);
// The raw bytes and type of a value below HKEY_CURRENT_USER; false if missing.
bool ReadValue(const std::string &hkcuPath, const char *name, DWORD *type, std::string *bytes);

#endif  // KESTOR_TESTS_REGISTRAR_TEST_UTIL_H
