// CSettingsInterface: the program's ini settings file.
//
// One file per machine in "\CORVANE\Tools" under the common program-data folder, named after the
// program's own file with the extension ".ini". Missing keys and empty values give the caller's
// default, and defaults are never written back.
#pragma once

#include "foundation/MfxString.h"

// A key of the settings file and the default its readers use.
struct CSettingsKey
{
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* defaultValue;
};

// The keys of the whole program. The gateway's keys are read at start-up and never written; the
// dialog's keys (WindowState, ButtonCheckState) are read when it opens and written when it closes.
namespace SettingsKey {
constexpr CSettingsKey kLogDirectory{L"Logging", L"Directory", L""};
constexpr CSettingsKey kLogFilename{L"Logging", L"Filename", L""};
constexpr CSettingsKey kLogDeleteOld{L"Logging", L"DeleteOld", L"1"};
constexpr CSettingsKey kLogDeleteKeepDays{L"Logging", L"DeleteKeepDays", L"3"};
constexpr CSettingsKey kInterface{L"Network", L"Interface", L""};
constexpr CSettingsKey kRtspPort{L"Network", L"RTSPPort", L"8080"};
constexpr CSettingsKey kUseBonjour{L"Network", L"UseBonjour", L"DSA"};
constexpr CSettingsKey kDoSdpSort{L"Settings", L"DoSDPSort", L"TRUE"};
constexpr CSettingsKey kListCorvane{L"WindowState", L"ListCorvane", L""};
constexpr CSettingsKey kListSap{L"WindowState", L"ListSap", L""};
constexpr CSettingsKey kListLocal{L"WindowState", L"ListLocal", L""};
constexpr CSettingsKey kWindowPlacement{L"WindowState", L"WindowPlacement", L""};
constexpr CSettingsKey kAutoVelmora{L"ButtonCheckState", L"AutoVelmora", L"0"};
constexpr CSettingsKey kAutoLocal{L"ButtonCheckState", L"AutoLocal", L"0"};
constexpr CSettingsKey kAutoLocalCor{L"ButtonCheckState", L"AutoLocalCor", L"0"};
constexpr CSettingsKey kAutoLocalSap{L"ButtonCheckState", L"AutoLocalSap", L"0"};
} // namespace SettingsKey

class CSettingsInterface
{
public:
    // The store number of the local settings file; every call passes it.
    static const int kLocalStore = 2;

    CSettingsInterface();
    virtual ~CSettingsInterface();

    // Picks (and creates when missing) the settings file that belongs to the given program file.
    // True when a settings file is in use.
    bool InitLocal(CMfxString modulePath);

    CMfxString GetString(int store, CMfxString section, CMfxString key, CMfxString defaultValue);
    int GetInt(int defaultValue, int store, CMfxString section, CMfxString key);
    bool WriteString(int store, CMfxString section, CMfxString key, CMfxString value);
    bool WriteInt(int value, int store, CMfxString section, CMfxString key);

    // The same on the local settings file, with the key's own default.
    CMfxString GetString(const CSettingsKey& key);
    int GetInt(const CSettingsKey& key);
    bool WriteString(const CSettingsKey& key, CMfxString value);
    bool WriteInt(const CSettingsKey& key, int value);

    // Full path of the settings file in use; empty when there is none.
    CMfxString GetLocalSettingsFile() const { return m_LocalSettingsFile; }

private:
    bool HasFile(int store) const;

    CMfxString m_LocalSettingsFile;
};
