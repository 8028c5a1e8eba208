#include "checker/file_info.h"

#include <vector>

#include "base/handle_owner.h"
#include "base/system_library.h"
#include "checker/registry_reader.h"

FileSystemView::FileSystemView(bool native64)
{
#ifndef _WIN64
    if (native64 && OnWin64())
        m_disabled = Wow64DisableWow64FsRedirection(&m_previous) != FALSE;
#else
    (void)native64;
#endif
}

FileSystemView::~FileSystemView()
{
#ifndef _WIN64
    if (m_disabled)
        Wow64RevertWow64FsRedirection(m_previous);
#endif
}

namespace {

bool ReadAt(HANDLE file, LONG offset, void *buffer, DWORD size)
{
    DWORD read = 0;
    return SetFilePointer(file, offset, NULL, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           ReadFile(file, buffer, size, &read, NULL) && read == size;
}

std::string FullLongPath(const std::string &path)
{
    char full[MAX_PATH * 2];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, NULL);
    std::string result = length > 0 && length < sizeof full ? std::string(full, length) : path;
    char longer[MAX_PATH * 2];
    length = GetLongPathNameA(result.c_str(), longer, sizeof longer);
    return length > 0 && length < sizeof longer ? std::string(longer, length) : result;
}

}  // namespace

bool FileExists(const InstalledFile &file)
{
    FileSystemView view(file.native64);
    DWORD attributes = GetFileAttributesA(file.path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

WORD ImageMachine(const InstalledFile &file)
{
    FileSystemView view(file.native64);
    const FileHandle handle(CreateFileA(file.path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        NULL, OPEN_EXISTING, 0, NULL));
    if (!handle.Valid())
        return 0;
    IMAGE_DOS_HEADER dos = {};
    DWORD signature = 0;
    IMAGE_FILE_HEADER header = {};
    if (!ReadAt(handle.Get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew <= 0 || !ReadAt(handle.Get(), dos.e_lfanew, &signature, sizeof signature) ||
        signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(handle.Get(), dos.e_lfanew + sizeof signature, &header, sizeof header))
        return 0;
    return header.Machine;
}

bool FileVersion(const InstalledFile &file, std::string *version)
{
    // version.dll is not one of Windows' known DLLs: it comes from System32,
    // and before the file system's view changes, at this program's width.
    const LibraryHandle library(LoadSystemLibrary(L"version.dll"));
    const auto infoSize =
        SystemFunction<decltype(&GetFileVersionInfoSizeA)>(library, "GetFileVersionInfoSizeA");
    const auto info =
        SystemFunction<decltype(&GetFileVersionInfoA)>(library, "GetFileVersionInfoA");
    const auto query = SystemFunction<decltype(&VerQueryValueA)>(library, "VerQueryValueA");
    if (infoSize == NULL || info == NULL || query == NULL)
        return false;

    FileSystemView view(file.native64);
    DWORD ignored = 0;
    DWORD size = infoSize(file.path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size);
    if (!info(file.path.c_str(), 0, size, block.data()))
        return false;
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    char root[] = "\\";
    if (!query(block.data(), root, reinterpret_cast<void **>(&fixed), &length) || fixed == NULL ||
        length < sizeof *fixed || fixed->dwSignature != VS_FFI_SIGNATURE)
        return false;
    *version = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
               std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
               std::to_string(LOWORD(fixed->dwFileVersionLS));
    return true;
}

std::string ProgramOfCommandLine(const std::string &commandLine)
{
    size_t start = commandLine.find_first_not_of(" \t");
    if (start == std::string::npos)
        return std::string();
    if (commandLine[start] == '"')
    {
        size_t end = commandLine.find('"', start + 1);
        return end == std::string::npos ? std::string()
                                        : commandLine.substr(start + 1, end - start - 1);
    }
    std::string lower = commandLine;
    CharLowerBuffA(&lower[0], static_cast<DWORD>(lower.size()));
    size_t exe = lower.find(".exe", start);
    if (exe == std::string::npos)
        return commandLine.substr(start);
    return commandLine.substr(start, exe + 4 - start);
}

std::string FolderOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SamePath(const std::string &a, const std::string &b)
{
    return SameText(a, b) || SameText(FullLongPath(a), FullLongPath(b));
}
