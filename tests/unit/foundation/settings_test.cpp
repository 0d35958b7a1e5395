// The settings file in the program-data folder.
#include "afx/afxplatform.h"
#include "foundation/PathHelpers.h"
#include "foundation/SettingsInterface.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <string>

namespace {

CMfxString SettingsFolder()
{
    PWSTR folder = nullptr;
    EXPECT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &folder)));
    CMfxString path = RemoveTrailingPathSeparator(folder) + L"\\CORVANE\\Tools";
    CoTaskMemFree(folder);
    return path;
}

const CSettingsKey kAllKeys[] = {
    SettingsKey::kLogDirectory,      SettingsKey::kLogFilename, SettingsKey::kLogDeleteOld,
    SettingsKey::kLogDeleteKeepDays, SettingsKey::kInterface,   SettingsKey::kRtspPort,
    SettingsKey::kUseBonjour,        SettingsKey::kDoSdpSort,   SettingsKey::kListCorvane,
    SettingsKey::kListSap,           SettingsKey::kListLocal,   SettingsKey::kWindowPlacement,
    SettingsKey::kAutoVelmora,       SettingsKey::kAutoLocal,   SettingsKey::kAutoLocalCor,
    SettingsKey::kAutoLocalSap,
};

// A settings object on a fresh file named after a program file of this test.
class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Path = SettingsFolder() + L"\\settings_test.ini";
        DeleteFileW(m_Path.GetString());
    }
    void TearDown() override { DeleteFileW(m_Path.GetString()); }

    bool Init() { return m_Settings.InitLocal(L"C:\\Program Files\\Velmora\\settings_test.exe"); }

    CMfxString m_Path;
    CSettingsInterface m_Settings;
};

} // namespace

TEST(SettingsPath, NamedAfterTheProgramInTheProgramDataFolder)
{
    struct Case
    {
        const wchar_t* program;
        const wchar_t* settings;
    };
    const Case cases[] = {{L"C:\\any\\folder\\gateway.exe", L"gateway.ini"},
                          {L"D:/other/a.b.exe", L"a.b.ini"},
                          {L"C:\\tools\\noextension", L"noextension"}};
    for (const Case& c : cases) {
        CMfxString expected = SettingsFolder() + L"\\" + c.settings;
        DeleteFileW(expected.GetString());
        CSettingsInterface settings;
        EXPECT_TRUE(settings.InitLocal(c.program));
        EXPECT_EQ(Text(settings.GetLocalSettingsFile()), Text(expected));
        EXPECT_EQ(ReadBytes(expected), "") << "created empty";
        DeleteFileW(expected.GetString());
    }
}

TEST_F(SettingsFile, EveryKeyGivesItsDefaultWhenMissingOrEmpty)
{
    ASSERT_TRUE(Init());
    for (const CSettingsKey& key : kAllKeys) {
        EXPECT_EQ(Text(m_Settings.GetString(key)), key.defaultValue) << CMfxString(key.key).GetAnsi();
        EXPECT_EQ(m_Settings.GetInt(key), _wtoi(key.defaultValue));
    }
    EXPECT_EQ(m_Settings.GetInt(SettingsKey::kLogDeleteOld), 1);
    EXPECT_EQ(m_Settings.GetInt(SettingsKey::kLogDeleteKeepDays), 3);
    EXPECT_EQ(ReadBytes(m_Path), "") << "no default is written back";

    std::string emptyValues;
    for (const CSettingsKey& key : kAllKeys) {
        emptyValues += "[" + std::string(CMfxString(key.section).GetAnsi()) + "]\r\n" +
                       CMfxString(key.key).GetAnsi() + "=\r\n";
    }
    WriteBytes(m_Path, emptyValues);
    for (const CSettingsKey& key : kAllKeys) {
        EXPECT_EQ(Text(m_Settings.GetString(key)), key.defaultValue) << CMfxString(key.key).GetAnsi();
    }
    EXPECT_EQ(ReadBytes(m_Path), emptyValues);
}

TEST_F(SettingsFile, AnExistingFileKeepsItsBytes)
{
    const std::string content =
        "; hand-written\r\n[Logging]\r\nDirectory=C:\\velmora-logs\r\nFilename=gw\r\n";
    WriteBytes(m_Path, content);
    ASSERT_TRUE(Init());
    EXPECT_EQ(ReadBytes(m_Path), content);
    EXPECT_EQ(Text(m_Settings.GetString(SettingsKey::kLogDirectory)), L"C:\\velmora-logs");
    EXPECT_EQ(Text(m_Settings.GetString(SettingsKey::kLogFilename)), L"gw");
    EXPECT_EQ(ReadBytes(m_Path), content);
}

TEST_F(SettingsFile, WritesReadBack)
{
    ASSERT_TRUE(Init());
    EXPECT_TRUE(m_Settings.WriteString(SettingsKey::kWindowPlacement, L"44,0,1,-1,-1,-1,-1,10,20,300,400"));
    EXPECT_TRUE(m_Settings.WriteInt(SettingsKey::kAutoLocal, 1));
    EXPECT_TRUE(m_Settings.WriteInt(-12, 2, L"ButtonCheckState", L"AutoLocalSap"));
    EXPECT_TRUE(m_Settings.WriteString(2, L"WindowState", L"ListSap", L"first"));
    EXPECT_TRUE(m_Settings.WriteString(2, L"WindowState", L"ListSap", L"second"));
    EXPECT_EQ(Text(m_Settings.GetString(SettingsKey::kWindowPlacement)), L"44,0,1,-1,-1,-1,-1,10,20,300,400");
    EXPECT_EQ(m_Settings.GetInt(SettingsKey::kAutoLocal), 1);
    EXPECT_EQ(m_Settings.GetInt(SettingsKey::kAutoLocalSap), -12);
    EXPECT_EQ(Text(m_Settings.GetString(SettingsKey::kListSap)), L"second");
    std::string bytes = ReadBytes(m_Path);
    EXPECT_NE(bytes.find("AutoLocalSap=-12"), std::string::npos);
    EXPECT_NE(bytes.find("[WindowState]"), std::string::npos);
    EXPECT_EQ(bytes.find("\xef\xbb\xbf"), std::string::npos) << "no byte-order mark";
    EXPECT_EQ(bytes.find("AutoVelmora"), std::string::npos) << "unwritten keys stay out";
}

TEST_F(SettingsFile, LongValuesAreCutAt2047Characters)
{
    ASSERT_TRUE(Init());
    std::wstring value(3000, L'v');
    value[2046] = L'L';
    EXPECT_TRUE(m_Settings.WriteString(2, L"WindowState", L"ListLocal", value.c_str()));
    EXPECT_EQ(Text(m_Settings.GetString(SettingsKey::kListLocal)), value.substr(0, 2047));
}

TEST(SettingsWithoutFile, DefaultsAndNoWrites)
{
    CSettingsInterface settings;
    EXPECT_EQ(Text(settings.GetString(SettingsKey::kUseBonjour)), L"DSA");
    EXPECT_EQ(settings.GetInt(SettingsKey::kLogDeleteKeepDays), 3);
    EXPECT_FALSE(settings.WriteInt(SettingsKey::kAutoLocal, 1));
    EXPECT_TRUE(settings.GetLocalSettingsFile().IsEmpty());
}
