// Control identifiers of the program's windows. The test driver finds the
// controls by these numbers, so they are part of what the windows promise.
#pragma once

namespace vellumo::ids {

// frmMain
enum MainWindow : int {
    Frame3 = 100,
    optMP3 = 101,
    optWAV = 102,
    cmdPara = 103,
    Frame1 = 110,
    List1 = 111,
    cmdOpenRM = 112,
    cmdDel = 113,
    LFile = 114,
    Frame2 = 120,
    txtSaveAs = 121,
    cmdSaveAs = 122,
    cmdHelp = 130,
    cmdAbout = 131,
    cmdConvert = 132,
    cmdExit = 133,
    Atlqzt = 140,
};

// frmAbout
enum AboutBox : int {
    Image1 = 200,
    AppTitle = 201,
    AppVersion = 202,
    AboutOKButton = 203,
};

// frmPara
enum ParametersDialog : int {
    ParaFrame1 = 300,
    Label1_0 = 301,  // Label1(0) .. Label1(7) are 301 .. 308
    cboMP3Frequency = 310,
    cboMP3Channels = 311,
    cboMP3Bitrates = 312,
    chkMP3VBR = 313,
    cboMP3Min = 314,
    cboMP3Max = 315,
    ParaFrame2 = 320,
    cboWAVFrequency = 321,
    cboWAVChannels = 322,
    cboWAVBits = 323,
    ParaOKButton = 330,
    ParaCancelButton = 331,
    cmdDefault = 332,
};

// frmConvert
enum ConvertWindow : int {
    ConvertCancel = 400,
};

}  // namespace vellumo::ids

// Window class names, for finding the program's windows.
#define VELLUMO_MAIN_CLASS L"VellumoMainWindow"
#define VELLUMO_ABOUT_CLASS L"VellumoAboutBox"
#define VELLUMO_PARA_CLASS L"VellumoParameters"
#define VELLUMO_CONVERT_CLASS L"VellumoConvert"
