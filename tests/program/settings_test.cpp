// LoadSettings and SaveSettings between real settings files and a real
// converter (the registered AtlHalvex, created by its ProgID and driven
// late-bound), which is the program's parameter store.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <fstream>
#include <string>

#include "common/halvex_dispatch.h"
#include "common/halvex_host.h"
#include "common/paths.h"
#include "parameters/settings.h"
#include "test_platform.h"

using namespace vellumo;
using Values = std::vector<LONG>;

namespace {

constexpr DISPID StoreOrder[] = {DispMP3Frequency, DispMP3Channels, DispMP3Bitrate, DispMP3VBR, DispMP3VBRMinBitrate,
                                 DispMP3VBRMaxBitrate, DispWAVFrequency, DispWAVChannels, DispWAVBits};
const Values Defaults = {0, 0, 8, 0, 3, 9, 0, 2, 1};

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

    Values Get() const
    {
        Values values;
        for (DISPID id : StoreOrder) {
            LONG v = -12345;
            EXPECT_EQ(store.GetLong(id, &v), S_OK) << id;
            values.push_back(v);
        }
        return values;
    }
    // VBR is a Long in the store, the others are Integers.
    void Put(const Values& values) const
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            StoreOrder[i] == DispMP3VBR ? store.PutLong(StoreOrder[i], values[i])
                                        : store.PutShort(StoreOrder[i], static_cast<SHORT>(values[i]));
    }
    void Write(const std::string& content) const { std::ofstream(file.c_str(), std::ios::binary) << content; }
    std::string Read() const { return testing_support::ReadText(file); }
    bool FileExists() const { return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES; }

    testing_support::ComApartment apartment;
    HalvexDispatch store;
    std::wstring folder, file;
};

}  // namespace

TEST_F(SettingsTest, LoadingTakesTheKeysByTheirSpellingsAndDefaultsForTheRest)
{
    const struct {
        const char* content;
        Values values;
    } cases[] = {
        {nullptr, Defaults},
        {"[WAV]\r\nWAV_Bits=0\r\n", {0, 0, 8, 0, 3, 9, 0, 2, 0}},
        {"[MP3]\r\nMP3_Frequency=1\r\nMP3_Channels=3\r\nMP3_Bitrates=  12  \r\nVBR=1\r\nMP3_VBRMin=2\r\nMP3_VBRMax=13\r\n"
         "[WAV]\r\nWAV_Frequency=2\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n",
         {1, 3, 12, 1, 2, 13, 2, 1, 0}},
        // The property's name is not the key.
        {"[MP3]\r\nMP3_Bitrate=3\r\nMP3_VBR=1\r\n", Defaults},
        // What is not a whole number that fits falls back; out-of-range whole numbers pass unchanged.
        {"[MP3]\r\nMP3_Frequency=\r\nMP3_Channels=abc\r\nMP3_Bitrates=3.5\r\nVBR=99999999999\r\nMP3_VBRMin=40000\r\n"
         "MP3_VBRMax=-1\r\n[WAV]\r\nWAV_Frequency=7\r\nWAV_Channels=0\r\nWAV_Bits=1x\r\n",
         {0, 0, 8, 0, 3, -1, 7, 0, 1}},
        // Beyond an Integer: the Integers fall back, the Long takes it.
        {"[MP3]\r\nMP3_Frequency=40000\r\nMP3_Channels=-40000\r\nMP3_Bitrates=40000\r\nVBR=40000\r\nMP3_VBRMax=40000\r\n"
         "[WAV]\r\nWAV_Frequency=40000\r\nWAV_Channels=40000\r\nWAV_Bits=-40000\r\n", {0, 0, 8, 40000, 3, 9, 0, 2, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content ? c.content : "no file");
        DeleteFileW(file.c_str());
        if (c.content) Write(c.content);
        Put({77, 77, 77, 77, 77, 77, 77, 77, 77});
        LoadSettings(store, file);
        EXPECT_EQ(Get(), c.values);
        EXPECT_EQ(FileExists(), c.content != nullptr) << "loading writes no file";
    }
}

TEST_F(SettingsTest, SavingWritesEveryKeyAndKeepsAnExistingFilesOrder)
{
    // A fresh file: both sections in their order, negative values as plain decimals; read back as saved.
    const Values saved = {1, 3, -3, -70000, 2, 11, 2, 1, 0};
    Put(saved);
    SaveSettings(store, file);
    EXPECT_EQ(Read(), "[MP3]\r\nMP3_Frequency=1\r\nMP3_Channels=3\r\nMP3_Bitrates=-3\r\nVBR=-70000\r\nMP3_VBRMax=11\r\n"
                      "MP3_VBRMin=2\r\n[WAV]\r\nWAV_Frequency=2\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n");
    Put(Defaults);
    LoadSettings(store, file);
    EXPECT_EQ(Get(), saved);

    // An existing file keeps its key order and its other content.
    Write("[WAV]\r\nWAV_Bits=0\r\n[Other]\r\nkeep=me\r\n[MP3]\r\nMP3_VBRMin=1\r\nVBR=0\r\n");
    LoadSettings(store, file);
    SaveSettings(store, file);
    EXPECT_EQ(Read(), "[WAV]\r\nWAV_Bits=0\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\n[Other]\r\nkeep=me\r\n"
                      "[MP3]\r\nMP3_VBRMin=1\r\nVBR=0\r\nMP3_Frequency=0\r\nMP3_Channels=0\r\nMP3_Bitrates=8\r\n"
                      "MP3_VBRMax=9\r\n");

    // A store that cannot be reached writes nothing, and reading into it does not fail.
    DeleteFileW(file.c_str());
    SaveSettings(HalvexDispatch(), file);
    EXPECT_FALSE(FileExists());
    LoadSettings(HalvexDispatch(), file);
}

// A save cut short once its copy is written (the process ending there) leaves
// the earlier file as it was; the next save starts from that file, not from
// the leftover copy, and replaces it whole.
TEST_F(SettingsTest, ASaveCutShortLeavesTheEarlierFileWhole)
{
    const std::string earlier = "[MP3]\r\nMP3_Frequency=2\r\nMP3_Bitrates=5\r\n";
    const std::wstring copy = SettingsSavingPath(file);
    EXPECT_EQ(copy, file + L".saving-" + std::to_wstring(GetCurrentProcessId())) << "each process saves through a copy of its own";
    Write(earlier);
    Put({1, 3, 12, 1, 2, 13, 2, 1, 0});
    ASSERT_TRUE(WriteSettingsCopy(store, file));
    EXPECT_EQ(Read(), earlier);
    EXPECT_NE(testing_support::ReadText(copy).find("MP3_Bitrates=12"), std::string::npos);
    LoadSettings(store, file);
    EXPECT_EQ(Get(), (Values{2, 0, 5, 0, 3, 9, 0, 2, 1}));

    EXPECT_TRUE(SaveSettings(store, file));
    EXPECT_EQ(Read(), "[MP3]\r\nMP3_Frequency=2\r\nMP3_Bitrates=5\r\nMP3_Channels=0\r\nVBR=0\r\nMP3_VBRMax=9\r\n"
                      "MP3_VBRMin=3\r\n[WAV]\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\nWAV_Bits=1\r\n");
    EXPECT_EQ(GetFileAttributesW(copy.c_str()), INVALID_FILE_ATTRIBUTES);
}
