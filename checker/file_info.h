// What the check reads from the files an installation names: whether they
// are there, their width and their version. Paths read from the 64-bit
// registry view name files as 64-bit programs see them; a 32-bit check on
// 64-bit Windows reads those with the file system's redirection off.
#ifndef KESTOR_CHECKER_FILE_INFO_H
#define KESTOR_CHECKER_FILE_INFO_H

#include <windows.h>

#include <string>

// A file named by the registry: its path and the view that named it.
struct InstalledFile
{
    std::string path;
    bool native64 = false;
};

// Turns off WOW64 file-system redirection for its lifetime when the file is
// a 64-bit view's and this is a 32-bit process on 64-bit Windows.
class FileSystemView
{
public:
    explicit FileSystemView(bool native64);
    ~FileSystemView();
    FileSystemView(const FileSystemView &) = delete;
    FileSystemView &operator=(const FileSystemView &) = delete;

private:
    PVOID m_previous = NULL;
    bool m_disabled = false;
};

bool FileExists(const InstalledFile &file);

// IMAGE_FILE_MACHINE_I386, IMAGE_FILE_MACHINE_AMD64, ..., or 0 when the file
// is not a Windows program or library.
WORD ImageMachine(const InstalledFile &file);

// "a.b.c.d" from the file's version resource; false when it has none.
bool FileVersion(const InstalledFile &file, std::string *version);

// The program of a command line: the quoted part, or the line up to the
// first ".exe" (COM and the SCM accept a program path without quotes).
std::string ProgramOfCommandLine(const std::string &commandLine);

// "C:\a\b.exe" -> "C:\a\" and "b.exe".
std::string FolderOf(const std::string &path);
std::string FileNameOf(const std::string &path);

// Whether two paths name the same file (case, short names and "..\" aside).
bool SamePath(const std::string &a, const std::string &b);

#endif  // KESTOR_CHECKER_FILE_INFO_H
