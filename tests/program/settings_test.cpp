// LoadSettings and SaveSettings between real settings files and a real
// converter (the registered AtlHalvex, created by its ProgID and driven
// late-bound), which is the program's parameter store.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <fstream>
#include <iterator>
#include <string>

#include "common/halvex_dispatch.h"
#include "common/halvex_host.h"
#include "common/paths.h"
#include "parameters/settings.h"
#include "test_platform.h"

using namespace vellumo;

namespace {

constexpr DISPID StoreOrder[] = {DispMP3Frequency, DispMP3Channels, DispMP3Bitrate, DispMP3VBR, DispMP3VBRMinBitrate,
                                 DispMP3VBRMaxBitrate, DispWAVFrequency, DispWAVChannels, DispWAVBits};

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(apartment.Result()));
        CLSID clsid;
        ASSERT_EQ(CLSIDFromProgID(HalvexProgId, &clsid), S_OK) << "corvane.dll is not registered";
        corvane::ComPtr<IDispatch> dispatch;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, dispatch.PutVoid()), S_OK);
        store = HalvexDispatch(dispatch);

        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = JoinPath(temp, L"vellumo settings " + std::to_wstring(GetCurrentProcessId()));
        CreateDirectoryW(folder.c_str(), nullptr);
        file = JoinPath(folder, L"settings.ini");
        DeleteFileW(file.c_str());
    }
    void TearDown() override
    {
        DeleteFileW(file.c_str());
        RemoveDirectoryW(folder.c_str());
        store = HalvexDispatch();
    }

    std::vector<LONG> Values() const
    {
        std::vector<LONG> values;
        for (DISPID id : StoreOrder) {
            LONG v = -12345;
            EXPECT_EQ(store.GetLong(id, &v), S_OK) << id;
            values.push_back(v);
        }
        return values;
    }
    void Write(const std::string& content) const
    {
        std::ofstream out(file.c_str(), std::ios::binary);
        out << content;
    }
    std::string Read() const
    {
        std::ifstream in(file.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool FileExists() const { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }
    // Puts values that differ from every default into the store.
    void Scramble() const
    {
        for (DISPID id : StoreOrder) {
            if (id == DispMP3VBR) {
                store.PutLong(id, 77);
            } else {
                store.PutShort(id, 77);
            }
        }
    }

    testing_support::ComApartment apartment;
    HalvexDispatch store;
    std::wstring folder, file;
};

}  // namespace

TEST_F(SettingsTest, WithoutAFileTheStoreGetsTheDefaultsAndNoFileAppears)
{
    Scramble();
    LoadSettings(store, file);
    EXPECT_EQ(Values(), (std::vector<LONG>{0, 0, 8, 0, 3, 9, 0, 2, 1}));
    EXPECT_FALSE(FileExists());
}

TEST_F(SettingsTest, OneKeyOfOneSectionAndDefaultsForTheRest)
{
    Write("[WAV]\r\nWAV_Bits=0\r\n");
    Scramble();
    LoadSettings(store, file);
    EXPECT_EQ(Values(), (std::vector<LONG>{0, 0, 8, 0, 3, 9, 0, 2, 0}));
}

TEST_F(SettingsTest, KeysAreReadByTheirOwnSpellings)
{
    Write("[MP3]\r\nMP3_Frequency=1\r\nMP3_Channels=3\r\nMP3_Bitrates=  12  \r\nVBR=1\r\nMP3_VBRMin=2\r\n"
          "MP3_VBRMax=13\r\n[WAV]\r\nWAV_Frequency=2\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n");
    LoadSettings(store, file);
    EXPECT_EQ(Values(), (std::vector<LONG>{1, 3, 12, 1, 2, 13, 2, 1, 0}));
    // The property's name is not the key.
    Write("[MP3]\r\nMP3_Bitrate=3\r\nMP3_VBR=1\r\n");
    LoadSettings(store, file);
    EXPECT_EQ(Values(), (std::vector<LONG>{0, 0, 8, 0, 3, 9, 0, 2, 1}));
}

TEST_F(SettingsTest, ValuesThatAreNotWholeNumbersThatFitFallBackToTheDefault)
{
    Write("[MP3]\r\nMP3_Frequency=\r\nMP3_Channels=abc\r\nMP3_Bitrates=3.5\r\nVBR=99999999999\r\n"
          "MP3_VBRMin=40000\r\nMP3_VBRMax=-1\r\n[WAV]\r\nWAV_Frequency=7\r\nWAV_Channels=0\r\nWAV_Bits=1x\r\n");
    Scramble();
    LoadSettings(store, file);
    // Out-of-range whole numbers that fit are passed on unchanged.
    EXPECT_EQ(Values(), (std::vector<LONG>{0, 0, 8, 0, 3, -1, 7, 0, 1}));
}

TEST_F(SettingsTest, SavingOnAFreshMachineWritesBothSectionsInTheDocumentedOrder)
{
    LoadSettings(store, file);
    store.PutShort(DispMP3Frequency, 1);
    store.PutShort(DispMP3Channels, 3);
    store.PutShort(DispMP3Bitrate, 5);
    store.PutLong(DispMP3VBR, 1);
    store.PutShort(DispMP3VBRMinBitrate, 2);
    store.PutShort(DispMP3VBRMaxBitrate, 11);
    store.PutShort(DispWAVFrequency, 2);
    store.PutShort(DispWAVChannels, 1);
    store.PutShort(DispWAVBits, 0);
    SaveSettings(store, file);
    EXPECT_EQ(Read(),
              "[MP3]\r\nMP3_Frequency=1\r\nMP3_Channels=3\r\nMP3_Bitrates=5\r\nVBR=1\r\nMP3_VBRMax=11\r\n"
              "MP3_VBRMin=2\r\n[WAV]\r\nWAV_Frequency=2\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n");
    // And reads back as saved.
    Scramble();
    LoadSettings(store, file);
    EXPECT_EQ(Values(), (std::vector<LONG>{1, 3, 5, 1, 2, 11, 2, 1, 0}));
}

TEST_F(SettingsTest, AnExistingFileKeepsItsOwnKeyOrderAndOtherContent)
{
    Write("[WAV]\r\nWAV_Bits=0\r\n[Other]\r\nkeep=me\r\n[MP3]\r\nMP3_VBRMin=1\r\nVBR=0\r\n");
    LoadSettings(store, file);
    SaveSettings(store, file);
    EXPECT_EQ(Read(),
              "[WAV]\r\nWAV_Bits=0\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\n[Other]\r\nkeep=me\r\n"
              "[MP3]\r\nMP3_VBRMin=1\r\nVBR=0\r\nMP3_Frequency=0\r\nMP3_Channels=0\r\nMP3_Bitrates=8\r\n"
              "MP3_VBRMax=9\r\n");
}

TEST_F(SettingsTest, NegativeValuesAreWrittenAsPlainDecimals)
{
    LoadSettings(store, file);
    store.PutShort(DispMP3Bitrate, -3);
    store.PutLong(DispMP3VBR, -70000);
    SaveSettings(store, file);
    const std::string content = Read();
    EXPECT_NE(content.find("MP3_Bitrates=-3\r\n"), std::string::npos);
    EXPECT_NE(content.find("VBR=-70000\r\n"), std::string::npos);
}

TEST_F(SettingsTest, AStoreThatCannotBeReachedWritesNothing)
{
    SaveSettings(HalvexDispatch(), file);
    EXPECT_FALSE(FileExists());
    LoadSettings(HalvexDispatch(), file);  // and reading into it does not fail
}

TEST(SettingsLocation, SettingsIniLivesInTheProgramFolder)
{
    EXPECT_EQ(SettingsPath(), JoinPath(ProgramFolder(), L"settings.ini"));
}
