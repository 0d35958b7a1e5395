// Small helpers on file-system paths, shared by the settings file and the log file.
#pragma once

#include "foundation/MfxString.h"

class CFile;

// The part after the last "\" (without one, after the last "/"; without either, the whole text).
CMfxString GetFileNameFromPath(CMfxString path);
// The part after the last "."; empty when there is none.
CMfxString GetFileExtension(CMfxString path);
// A copy without one trailing "\", or, when the path does not end in "\", without one trailing "/".
CMfxString RemoveTrailingPathSeparator(CMfxString path);

// TRUE when the path names anything that exists (a folder counts).
BOOL FileExists(CMfxString path);
// True when the path exists and is a folder.
bool DirectoryExists(CMfxString path);
// Makes sure the folder exists, creating every missing folder of the path; true when it exists.
bool CreateDirectoryPath(CMfxString path);

// Opens a file for reading and writing with sharing allowed, creating it when it does not exist;
// an existing file keeps its content. True when the file is open.
bool OpenOrCreateFile(CFile& file, CMfxString path);
