#include "afx/afxplatform.h"
#include "foundation/SettingsInterface.h"

#include "afx/afxfile.h"
#include "foundation/PathHelpers.h"

#include <cstdlib>
#include <knownfolders.h>
#include <shlobj.h>

namespace {

const int kValueBufferChars = 0x800;

} // namespace

CSettingsInterface::CSettingsInterface() = default;

CSettingsInterface::~CSettingsInterface() = default;

bool CSettingsInterface::InitLocal(CMfxString modulePath)
{
    CMfxString fileName = GetFileNameFromPath(modulePath);
    int dot = fileName.ReverseFind(L'.');
    if (dot >= 0) {
        fileName = CMfxString(fileName.Left(dot)) + L".ini";
    }

    PWSTR programData = nullptr;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData))) {
        CoTaskMemFree(programData);
        return !m_LocalSettingsFile.IsEmpty();
    }
    CMfxString folder = RemoveTrailingPathSeparator(programData) + L"\\CORVANE\\Tools";
    CreateDirectoryPath(folder);
    CMfxString path = folder + L"\\" + fileName;
    try {
        CFile file;
        if (OpenOrCreateFile(file, path)) {
            file.Close();
            m_LocalSettingsFile = path;
        }
    } catch (...) {
        // A class-library failure while opening: no settings file from this path.
    }
    CoTaskMemFree(programData);
    return !m_LocalSettingsFile.IsEmpty();
}

bool CSettingsInterface::HasFile(int store) const
{
    return store == kLocalStore && !m_LocalSettingsFile.IsEmpty();
}

CMfxString CSettingsInterface::GetString(int store, CMfxString section, CMfxString key,
                                         CMfxString defaultValue)
{
    CMfxString result = defaultValue;
    if (HasFile(store)) {
        wchar_t buffer[kValueBufferChars] = {};
        DWORD count = GetPrivateProfileStringW(section.GetString(), key.GetString(), defaultValue.GetString(),
                                               buffer, kValueBufferChars, m_LocalSettingsFile.GetString());
        if (count != 0) {
            result = buffer;
        }
    }
    return result;
}

int CSettingsInterface::GetInt(int defaultValue, int store, CMfxString section, CMfxString key)
{
    CMfxString defaultText;
    defaultText.Format(L"%d", defaultValue);
    return _wtoi(GetString(store, section, key, defaultText).GetString());
}

bool CSettingsInterface::WriteString(int store, CMfxString section, CMfxString key, CMfxString value)
{
    if (!HasFile(store)) {
        return false;
    }
    return WritePrivateProfileStringW(section.GetString(), key.GetString(), value.GetString(),
                                      m_LocalSettingsFile.GetString()) != FALSE;
}

bool CSettingsInterface::WriteInt(int value, int store, CMfxString section, CMfxString key)
{
    CMfxString text;
    text.Format(L"%d", value);
    return WriteString(store, section, key, text);
}

CMfxString CSettingsInterface::GetString(const CSettingsKey& key)
{
    return GetString(kLocalStore, key.section, key.key, key.defaultValue);
}

int CSettingsInterface::GetInt(const CSettingsKey& key)
{
    return GetInt(_wtoi(key.defaultValue), kLocalStore, key.section, key.key);
}

bool CSettingsInterface::WriteString(const CSettingsKey& key, CMfxString value)
{
    return WriteString(kLocalStore, key.section, key.key, value);
}

bool CSettingsInterface::WriteInt(const CSettingsKey& key, int value)
{
    return WriteInt(value, kLocalStore, key.section, key.key);
}
