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

// frmConvert (its Label1, Label2, List1 and Atlqzt carry a prefix here, to
// keep them apart from the main window's controls of the same names)
enum ConvertWindow : int {
    cmdCancel = 400,
    ConvertCancel = cmdCancel,
    cmdStart = 401,
    ConvertLabel1 = 402,
    ConvertLabel2 = 403,
    LabelTotal = 404,
    LabelCurrent = 405,
    picPercent = 406,
    LabelPercent = 407,
    LabelFile = 408,
    picPercent2 = 409,
    LabelPercent2 = 410,
    ConvertList1 = 411,
    ConvertAtlqzt = 412,
    // Added for batches left to run on their own.
    LabelTimeLeft = 413,
    LabelExisting = 414,
    cboExisting = 415,
    LabelStatus = 416,
};

}  // namespace vellumo::ids

// Window class names, for finding the program's windows.
#define VELLUMO_MAIN_CLASS L"VellumoMainWindow"
#define VELLUMO_ABOUT_CLASS L"VellumoAboutBox"
#define VELLUMO_PARA_CLASS L"VellumoParameters"
#define VELLUMO_CONVERT_CLASS L"VellumoConvert"
