#include "afx/afxplatform.h"
#include "foundation/PathHelpers.h"

#include "afx/afxfile.h"

#include <shlobj.h>

CMfxString GetFileNameFromPath(CMfxString path)
{
    int separator = path.ReverseFind(L'\\');
    if (separator < 0) {
        separator = path.ReverseFind(L'/');
    }
    return separator < 0 ? path : CMfxString(path.Mid(separator + 1));
}

CMfxString GetFileExtension(CMfxString path)
{
    int dot = path.ReverseFind(L'.');
    return dot < 0 ? CMfxString() : CMfxString(path.Mid(dot + 1));
}

CMfxString RemoveTrailingPathSeparator(CMfxString path)
{
    int length = path.GetLength();
    if (length > 0 && (path[length - 1] == L'\\' || path[length - 1] == L'/')) {
        return CMfxString(path.Left(length - 1));
    }
    return path;
}

BOOL FileExists(CMfxString path)
{
    return GetFileAttributesW(path.GetString()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(CMfxString path)
{
    DWORD attributes = GetFileAttributesW(path.GetString());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateDirectoryPath(CMfxString path)
{
    if (DirectoryExists(path)) {
        return true;
    }
    return SHCreateDirectoryExW(nullptr, path.GetString(), nullptr) == ERROR_SUCCESS;
}

bool OpenOrCreateFile(CFile& file, CMfxString path)
{
    // modeNoTruncate: a file that appears between a look and a create is never emptied.
    return file.Open(path.GetString(),
                     CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareDenyNone);
}
