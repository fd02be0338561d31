// The parameters dialog of the real vellumo.exe: what it shows from the
// parameter store, the bitrate lists, VBR, the Min/Max rule, Default, Cancel
// and OK with the settings.ini it writes.
#include <gtest/gtest.h>

#include "common/control_ids.h"
#include "gui_driver.h"

using namespace vellumo;
using gui::BoxIcon;
using gui::MessageBoxInfo;

namespace {

const std::vector<std::wstring> Frequencies = {L"44,100 Hz", L"22,050 Hz", L"11,025 Hz"};
const std::vector<std::wstring> Channels = {L"Mono", L"Stereo"};
const std::vector<std::wstring> Mpeg1Rates = {L"32 kbps",  L"40 kbps",  L"48 kbps",  L"56 kbps",  L"64 kbps",
                                              L"80 kbps",  L"96 kbps",  L"112 kbps", L"128 kbps", L"160 kbps",
                                              L"192 kbps", L"224 kbps", L"256 kbps", L"320 kbps"};
const std::vector<std::wstring> Mpeg2Rates = {L"8 kbps",  L"16 kbps", L"24 kbps",  L"32 kbps",  L"40 kbps",
                                              L"48 kbps", L"56 kbps", L"64 kbps",  L"80 kbps",  L"96 kbps",
                                              L"112 kbps", L"128 kbps", L"144 kbps", L"160 kbps"};

const char DefaultFile[] =
    "[MP3]\r\nMP3_Frequency=0\r\nMP3_Channels=0\r\nMP3_Bitrates=8\r\nVBR=0\r\nMP3_VBRMax=9\r\nMP3_VBRMin=3\r\n"
    "[WAV]\r\nWAV_Frequency=0\r\nWAV_Channels=2\r\nWAV_Bits=1\r\n";

class ParametersTest : public ::testing::Test {
protected:
    explicit ParametersTest(const std::wstring& folder = L"vellumo para") : program(folder) {}

    void Start(const std::string& settings = std::string())
    {
        if (!settings.empty()) program.WriteSettings(settings);
        ASSERT_TRUE(program.Start());
        MessageBoxInfo box;
        ASSERT_FALSE(program.WaitForMessageBox(&box, 300)) << "start-up message: " << testing::PrintToString(box.text);
    }

    void Open()
    {
        gui::Click(program.MainControl(ids::cmdPara));
        dialog = program.WaitForWindow(VELLUMO_PARA_CLASS, L"MP3 WAV Parameters");
        ASSERT_NE(dialog, nullptr);
    }

    // Closes with a button and waits until the dialog is gone.
    void CloseWith(int id)
    {
        gui::Click(Ctl(id));
        ASSERT_TRUE(gui::WaitFor([&] { return !IsWindow(dialog); }));
        ASSERT_TRUE(gui::WaitFor([&] { return IsWindowEnabled(program.Main()) != FALSE; }));
    }

    HWND Ctl(int id) const { return gui::Control(dialog, id); }
    int Pos(int id) const { return gui::ComboPosition(Ctl(id)); }
    std::wstring Shown(int id) const
    {
        const auto items = gui::ComboItems(Ctl(id));
        const int p = Pos(id);
        return p >= 0 && p < static_cast<int>(items.size()) ? items[static_cast<std::size_t>(p)] : L"";
    }
    bool Checked(int id) const { return SendMessageW(Ctl(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Select(int id, int position)
    {
        gui::SelectCombo(Ctl(id), position);
        gui::WaitFor([] { return false; }, 150);
    }
    void ClickAndSettle(int id)
    {
        gui::Click(Ctl(id));
        gui::WaitFor([] { return false; }, 150);
    }

    gui::Program program;
    HWND dialog = nullptr;
};

class ParametersInUnicodeFolderTest : public ParametersTest {
protected:
    ParametersInUnicodeFolderTest() : ParametersTest(L"\x8f6c\x6362\x5668 \x8bbe\x7f6e") {}
};

}  // namespace

TEST_F(ParametersTest, OpensModallyWithTheStoresDefaultsAndTheListContents)
{
    Start();
    Open();
    EXPECT_FALSE(IsWindowEnabled(program.Main()));
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboMP3Frequency)), Frequencies);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboWAVFrequency)), Frequencies);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboMP3Channels)), Channels);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboWAVChannels)), Channels);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboWAVBits)), (std::vector<std::wstring>{L"8 Bits", L"16 Bits"}));
    for (int id : {ids::cboMP3Bitrates, ids::cboMP3Min, ids::cboMP3Max})
        EXPECT_EQ(gui::ComboItems(Ctl(id)), Mpeg1Rates) << id;

    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"44,100 Hz");
    EXPECT_EQ(Shown(ids::cboMP3Channels), L"Stereo");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"128 kbps");
    EXPECT_FALSE(Checked(ids::chkMP3VBR));
    EXPECT_EQ(Shown(ids::cboMP3Min), L"56 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Max), L"160 kbps");
    EXPECT_EQ(Shown(ids::cboWAVFrequency), L"44,100 Hz");
    EXPECT_EQ(Shown(ids::cboWAVChannels), L"Stereo");
    EXPECT_EQ(Shown(ids::cboWAVBits), L"16 Bits");

    EXPECT_EQ(gui::Text(Ctl(ids::chkMP3VBR)), L"Support &VBR");
    EXPECT_EQ(gui::Text(Ctl(ids::ParaOKButton)), L"&OK");
    EXPECT_EQ(gui::Text(Ctl(ids::ParaCancelButton)), L"&Cancel");
    EXPECT_EQ(gui::Text(Ctl(ids::cmdDefault)), L"&Default");
    EXPECT_EQ(gui::Text(Ctl(ids::ParaFrame1)), L"MP3 Parameters");
    EXPECT_EQ(gui::Text(Ctl(ids::ParaFrame2)), L"WAV Parameters");
    EXPECT_EQ(gui::Text(Ctl(ids::Label1_0 + 4)), L"Max Bitrate");
    EXPECT_EQ(gui::Text(Ctl(ids::Label1_0 + 7)), L"Sample Bits:");
    CloseWith(ids::ParaCancelButton);
    EXPECT_FALSE(program.SettingsExist());
}

TEST_F(ParametersTest, TabOrderFollowsTheDesign)
{
    Start();
    Open();
    const std::vector<int> expected = {ids::ParaOKButton,   ids::ParaCancelButton, ids::cboMP3Frequency,
                                       ids::cboMP3Channels, ids::chkMP3VBR,        ids::cboMP3Bitrates,
                                       ids::cboMP3Min,      ids::cboMP3Max,        ids::cboWAVFrequency,
                                       ids::cboWAVChannels, ids::cboWAVBits,       ids::cmdDefault};
    // With VBR on, every control takes the focus.
    ClickAndSettle(ids::chkMP3VBR);
    std::vector<int> order;
    HWND item = Ctl(ids::ParaOKButton);
    for (std::size_t i = 0; i < expected.size() && item; ++i) {
        order.push_back(GetDlgCtrlID(item));
        item = GetNextDlgTabItem(dialog, item, FALSE);
    }
    EXPECT_EQ(order, expected);
}

TEST_F(ParametersTest, AStoredLowSampleRateShowsTheMpeg2Rates)
{
    Start("[MP3]\r\nMP3_Frequency=1\r\n");
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"22,050 Hz");
    for (int id : {ids::cboMP3Bitrates, ids::cboMP3Min, ids::cboMP3Max})
        EXPECT_EQ(gui::ComboItems(Ctl(id)), Mpeg2Rates) << id;
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"80 kbps");
}

TEST_F(ParametersTest, SwitchingTheSampleRateShowsTheStoredPositionInTheNewList)
{
    Start();
    Open();
    Select(ids::cboMP3Bitrates, 2);
    Select(ids::cboMP3Min, 0);
    Select(ids::cboMP3Frequency, 1);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboMP3Bitrates)), Mpeg2Rates);
    EXPECT_EQ(Pos(ids::cboMP3Bitrates), 8);
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"80 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Min), L"32 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Max), L"96 kbps");
    Select(ids::cboMP3Frequency, 0);
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboMP3Max)), Mpeg1Rates);
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"128 kbps");
}

TEST_F(ParametersTest, VbrEnablesTheRangeControls)
{
    Start();
    Open();
    const int range[] = {ids::cboMP3Min, ids::cboMP3Max, ids::Label1_0 + 3, ids::Label1_0 + 4};
    for (int id : range) EXPECT_FALSE(IsWindowEnabled(Ctl(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(Ctl(ids::cboMP3Bitrates)));
    ClickAndSettle(ids::chkMP3VBR);
    EXPECT_TRUE(Checked(ids::chkMP3VBR));
    for (int id : range) EXPECT_TRUE(IsWindowEnabled(Ctl(id))) << id;
    EXPECT_TRUE(IsWindowEnabled(Ctl(ids::cboMP3Bitrates)));
    ClickAndSettle(ids::chkMP3VBR);
    for (int id : range) EXPECT_FALSE(IsWindowEnabled(Ctl(id))) << id;
}

TEST_F(ParametersTest, MaxNotAboveMinIsRefusedWhileVbrIsOn)
{
    Start();
    Open();
    ClickAndSettle(ids::chkMP3VBR);
    Select(ids::cboMP3Min, 8);
    Select(ids::cboMP3Max, 8);
    gui::Click(Ctl(ids::ParaOKButton));
    MessageBoxInfo box;
    ASSERT_TRUE(program.WaitForMessageBox(&box));
    EXPECT_EQ(box.title, L"Vellumo");
    EXPECT_EQ(box.text, L"The MP3 Max bitrate must be larger than Min bitrate value.");
    EXPECT_EQ(box.icon, BoxIcon::Information);
    EXPECT_EQ(box.buttons, std::vector<std::wstring>{L"OK"});
    gui::Program::Answer(box);
    EXPECT_TRUE(IsWindow(dialog)) << "the dialog stays open";
    EXPECT_FALSE(program.SettingsExist());

    // One position above is accepted.
    Select(ids::cboMP3Max, 9);
    CloseWith(ids::ParaOKButton);
    const std::string saved = program.ReadSettings();
    EXPECT_NE(saved.find("VBR=1\r\nMP3_VBRMax=9\r\nMP3_VBRMin=8\r\n"), std::string::npos) << saved;
}

TEST_F(ParametersTest, WithVbrOffAnyMinAndMaxAreAccepted)
{
    Start();
    Open();
    Select(ids::cboMP3Min, 10);
    Select(ids::cboMP3Max, 2);
    CloseWith(ids::ParaOKButton);
    const std::string saved = program.ReadSettings();
    EXPECT_NE(saved.find("VBR=0\r\nMP3_VBRMax=2\r\nMP3_VBRMin=10\r\n"), std::string::npos) << saved;
}

TEST_F(ParametersTest, DefaultThenCancelLeavesTheStoreAndTheFileAlone)
{
    const std::string stored =
        "[MP3]\r\nMP3_Frequency=2\r\nMP3_Channels=3\r\nMP3_Bitrates=4\r\nVBR=1\r\nMP3_VBRMax=12\r\nMP3_VBRMin=1\r\n"
        "[WAV]\r\nWAV_Frequency=1\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n";
    Start(stored);
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"11,025 Hz");
    EXPECT_EQ(Shown(ids::cboMP3Channels), L"Mono");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"40 kbps");
    EXPECT_TRUE(Checked(ids::chkMP3VBR));
    EXPECT_EQ(Shown(ids::cboWAVChannels), L"Mono");
    EXPECT_EQ(Shown(ids::cboWAVBits), L"8 Bits");

    ClickAndSettle(ids::cmdDefault);
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"44,100 Hz");
    EXPECT_EQ(gui::ComboItems(Ctl(ids::cboMP3Bitrates)), Mpeg1Rates);
    EXPECT_EQ(Shown(ids::cboMP3Channels), L"Stereo");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"128 kbps");
    EXPECT_FALSE(Checked(ids::chkMP3VBR));
    EXPECT_FALSE(IsWindowEnabled(Ctl(ids::cboMP3Min)));
    EXPECT_EQ(Shown(ids::cboMP3Min), L"56 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Max), L"160 kbps");
    EXPECT_EQ(Shown(ids::cboWAVFrequency), L"44,100 Hz");
    EXPECT_EQ(Shown(ids::cboWAVChannels), L"Stereo");
    EXPECT_EQ(Shown(ids::cboWAVBits), L"16 Bits");
    CloseWith(ids::ParaCancelButton);
    EXPECT_EQ(program.ReadSettings(), stored);

    // The store kept its values: the next opening shows them again.
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"11,025 Hz");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"40 kbps");
    EXPECT_TRUE(Checked(ids::chkMP3VBR));
    CloseWith(ids::ParaCancelButton);
}

TEST_F(ParametersTest, OkOnAFreshMachineWritesSettingsInTheDocumentedOrder)
{
    Start();
    Open();
    CloseWith(ids::ParaOKButton);
    EXPECT_EQ(program.ReadSettings(), DefaultFile);
}

TEST_F(ParametersTest, OkWritesTheChosenValuesAndTheStoreKeepsThem)
{
    Start();
    Open();
    Select(ids::cboMP3Frequency, 2);
    Select(ids::cboMP3Channels, 0);
    Select(ids::cboMP3Bitrates, 13);
    Select(ids::cboWAVFrequency, 1);
    Select(ids::cboWAVChannels, 0);
    Select(ids::cboWAVBits, 0);
    CloseWith(ids::ParaOKButton);
    EXPECT_EQ(program.ReadSettings(),
              "[MP3]\r\nMP3_Frequency=2\r\nMP3_Channels=3\r\nMP3_Bitrates=13\r\nVBR=0\r\nMP3_VBRMax=9\r\n"
              "MP3_VBRMin=3\r\n[WAV]\r\nWAV_Frequency=1\r\nWAV_Channels=1\r\nWAV_Bits=0\r\n");
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"11,025 Hz");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"160 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Channels), L"Mono");
    EXPECT_EQ(Shown(ids::cboWAVChannels), L"Mono");
    CloseWith(ids::ParaCancelButton);
}

TEST_F(ParametersTest, ChannelValuesOtherThanMonoShowAndSaveAsStereo)
{
    Start("[MP3]\r\nMP3_Channels=1\r\n[WAV]\r\nWAV_Channels=0\r\n");
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Channels), L"Stereo");
    EXPECT_EQ(Shown(ids::cboWAVChannels), L"Stereo");
    CloseWith(ids::ParaOKButton);
    const std::string saved = program.ReadSettings();
    EXPECT_NE(saved.find("MP3_Channels=0\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("WAV_Channels=2\r\n"), std::string::npos) << saved;
}

TEST_F(ParametersTest, HandEditedValuesTheListsCannotShowFallBackToTheDefaults)
{
    Start("[MP3]\r\nMP3_Frequency=3\r\nMP3_Bitrates=20\r\nMP3_VBRMin=-1\r\nVBR=5\r\n[WAV]\r\nWAV_Frequency=9\r\n"
          "WAV_Bits=abc\r\n");
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Frequency), L"44,100 Hz");
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"128 kbps");
    EXPECT_EQ(Shown(ids::cboMP3Min), L"56 kbps");
    EXPECT_TRUE(Checked(ids::chkMP3VBR)) << "a nonzero VBR means variable bitrate";
    EXPECT_EQ(Shown(ids::cboWAVFrequency), L"44,100 Hz");
    EXPECT_EQ(Shown(ids::cboWAVBits), L"16 Bits");
    CloseWith(ids::ParaOKButton);
    const std::string saved = program.ReadSettings();
    EXPECT_NE(saved.find("MP3_Frequency=0\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("VBR=1\r\n"), std::string::npos) << saved;
    EXPECT_EQ(program.WaitForExit(0), static_cast<DWORD>(STILL_ACTIVE));
}

TEST_F(ParametersInUnicodeFolderTest, SettingsAreSavedInAProgramFolderOutsideTheLegacyCodePage)
{
    // The profile functions take ANSI paths; the program's UTF-8 code page
    // spells this folder.
    Start("[MP3]\r\nMP3_Bitrates=5\r\n");
    Open();
    EXPECT_EQ(Shown(ids::cboMP3Bitrates), L"80 kbps") << "settings.ini was not read from " << testing::PrintToString(program.Folder());
    CloseWith(ids::ParaOKButton);
    const std::string saved = program.ReadSettings();
    EXPECT_NE(saved.find("MP3_Bitrates=5\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("WAV_Bits=1\r\n"), std::string::npos) << saved;
}
