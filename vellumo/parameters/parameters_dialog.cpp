#include "parameters_dialog.h"

#include <array>
#include <string>

#include "common/control_ids.h"
#include "common/ui_kit.h"
#include "settings.h"

namespace vellumo {

namespace {

constexpr int BitrateCount = 14;

// Positions that cmdDefault selects; also what a stored value that a list
// cannot show falls back to.
constexpr int DefaultFrequency = 0;
constexpr int DefaultChannels = 1;  // "Stereo"
constexpr int DefaultBitrate = 8;
constexpr int DefaultMin = 3;
constexpr int DefaultMax = 9;
constexpr int DefaultBits = 1;

class ParametersWindow {
public:
    explicit ParametersWindow(const HalvexDispatch& store) : store_(store) {}

    HWND Create(HWND owner)
    {
        ui::RegisterWindowClass(VELLUMO_PARA_CLASS, Proc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
        const SIZE size = ui::WindowSizeForClient(7230, 4800, ui::ModalStyle, ui::ModalExStyle);
        window_ = CreateWindowExW(ui::ModalExStyle, VELLUMO_PARA_CLASS, L"MP3 WAV Parameters", ui::ModalStyle, 0, 0,
                                  size.cx, size.cy, owner, nullptr, GetModuleHandleW(nullptr), this);
        if (!window_) return nullptr;
        ui::CentreWindow(window_, nullptr);
        FormLoad();
        return window_;
    }

private:
    HWND Combo(HWND parent, const ui::TwipRect& where, int id)
    {
        // The height given is the dropped-down list's; the field itself is sized by its font.
        ui::TwipRect dropped = where;
        dropped.height = where.height * 8;
        return ui::CreateChild(parent, L"ComboBox", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, dropped, id,
                               font_.Get());
    }

    HWND Label(HWND parent, const wchar_t* text, const ui::TwipRect& where, int index)
    {
        HWND label = ui::CreateChild(parent, L"Static", text, SS_LEFTNOWORDWRAP, where, ids::Label1_0 + index,
                                     font_.Get());
        ui::WidenToText(label);
        labels_[static_cast<std::size_t>(index)] = label;
        return label;
    }

    void CreateControls()
    {
        font_ = ui::MakeDefaultFont();
        const HFONT font = font_.Get();
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        // Created in tab order.
        ui::CreateChild(window_, L"Button", L"&OK", BS_PUSHBUTTON | WS_TABSTOP, {3600, 4080, 1575, 375},
                        ids::ParaOKButton, font);
        ui::CreateChild(window_, L"Button", L"&Cancel", BS_PUSHBUTTON | WS_TABSTOP, {5400, 4080, 1575, 375},
                        ids::ParaCancelButton, font);

        frame1_ = ui::FramePanel::Create(window_, L"MP3 Parameters", {240, 240, 6735, 1935}, ids::ParaFrame1, font,
                                         face);
        Label(frame1_, L"Frequency:", {240, 360, 795, 195}, 0);
        mp3Frequency_ = Combo(frame1_, {1200, 360, 2055, 315}, ids::cboMP3Frequency);
        Label(frame1_, L"Channels:", {240, 840, 705, 195}, 1);
        mp3Channels_ = Combo(frame1_, {1200, 840, 2055, 315}, ids::cboMP3Channels);
        vbr_ = ui::CreateChild(frame1_, L"Button", L"Support &VBR", BS_AUTOCHECKBOX | WS_TABSTOP,
                               {4440, 360, 1935, 255}, ids::chkMP3VBR, font);
        Label(frame1_, L"Bitrates:", {240, 1320, 570, 195}, 2);
        bitrates_ = Combo(frame1_, {1200, 1320, 2055, 315}, ids::cboMP3Bitrates);
        Label(frame1_, L"Min Bitrate:", {3480, 840, 795, 195}, 3);
        min_ = Combo(frame1_, {4440, 840, 2055, 315}, ids::cboMP3Min);
        Label(frame1_, L"Max Bitrate", {3480, 1320, 795, 195}, 4);
        max_ = Combo(frame1_, {4440, 1320, 2055, 315}, ids::cboMP3Max);

        frame2_ = ui::FramePanel::Create(window_, L"WAV Parameters", {240, 2400, 6735, 1455}, ids::ParaFrame2, font,
                                         face);
        Label(frame2_, L"Frequency:", {240, 360, 795, 195}, 5);
        wavFrequency_ = Combo(frame2_, {1200, 360, 2055, 315}, ids::cboWAVFrequency);
        Label(frame2_, L"Channels:", {240, 840, 705, 195}, 6);
        wavChannels_ = Combo(frame2_, {1200, 840, 2055, 315}, ids::cboWAVChannels);
        Label(frame2_, L"Sample Bits:", {3480, 360, 870, 195}, 7);
        wavBits_ = Combo(frame2_, {4440, 360, 2055, 315}, ids::cboWAVBits);

        ui::CreateChild(window_, L"Button", L"&Default", BS_PUSHBUTTON | WS_TABSTOP, {1800, 4080, 1575, 375},
                        ids::cmdDefault, font);
    }

    // List helpers.
    static void Clear(HWND list) { SendMessageW(list, CB_RESETCONTENT, 0, 0); }
    static void Add(HWND list, const wchar_t* item) { SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item)); }
    static int Position(HWND list) { return static_cast<int>(SendMessageW(list, CB_GETCURSEL, 0, 0)); }
    static int Count(HWND list) { return static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0)); }
    // Selects position; one the list cannot show selects the fallback instead.
    static void Select(HWND list, LONG position, int fallback)
    {
        if (position < 0 || position >= Count(list)) position = fallback;
        SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(position), 0);
    }

    LONG Stored(DISPID id, LONG fallback) const
    {
        LONG value = fallback;
        if (FAILED(store_.GetLong(id, &value))) value = fallback;
        return value;
    }

    void FillBitrateLabels()
    {
        static const wchar_t* const Mpeg2[BitrateCount] = {L"8 kbps",  L"16 kbps", L"24 kbps",  L"32 kbps",  L"40 kbps",
                                                           L"48 kbps", L"56 kbps", L"64 kbps",  L"80 kbps",  L"96 kbps",
                                                           L"112 kbps", L"128 kbps", L"144 kbps", L"160 kbps"};
        static const wchar_t* const Mpeg1[BitrateCount] = {
            L"32 kbps",  L"40 kbps",  L"48 kbps",  L"56 kbps",  L"64 kbps",  L"80 kbps",  L"96 kbps",
            L"112 kbps", L"128 kbps", L"160 kbps", L"192 kbps", L"224 kbps", L"256 kbps", L"320 kbps"};
        for (int i = 0; i < BitrateCount; ++i) {
            bitrateLabels_[0][static_cast<std::size_t>(i)] = Mpeg2[i];
            bitrateLabels_[1][static_cast<std::size_t>(i)] = Mpeg1[i];
        }
    }

    static void FillFrequencies(HWND list)
    {
        Clear(list);
        Add(list, L"44,100 Hz");
        Add(list, L"22,050 Hz");
        Add(list, L"11,025 Hz");
    }

    static void FillChannels(HWND list)
    {
        Clear(list);
        Add(list, L"Mono");
        Add(list, L"Stereo");
    }

    void FillBitrates(HWND list)
    {
        const std::size_t row = Position(mp3Frequency_) == 0 ? 1 : 0;
        Clear(list);
        for (const std::wstring& caption : bitrateLabels_[row]) Add(list, caption.c_str());
    }

    void UpdateVbrControls()
    {
        const BOOL enabled = SendMessageW(vbr_, BM_GETCHECK, 0, 0) == BST_CHECKED;
        EnableWindow(min_, enabled);
        EnableWindow(max_, enabled);
        EnableWindow(labels_[3], enabled);
        EnableWindow(labels_[4], enabled);
    }

    void SelectFrequency(int position, int fallback)
    {
        Select(mp3Frequency_, position, fallback);
        FrequencyClicked();
    }

    void FrequencyClicked()
    {
        FillBitrates(bitrates_);
        FillBitrates(min_);
        FillBitrates(max_);
        Select(bitrates_, Stored(DispMP3Bitrate, DefaultBitrate), DefaultBitrate);
        Select(min_, Stored(DispMP3VBRMinBitrate, DefaultMin), DefaultMin);
        Select(max_, Stored(DispMP3VBRMaxBitrate, DefaultMax), DefaultMax);
    }

    void FormLoad()
    {
        FillBitrateLabels();
        FillFrequencies(mp3Frequency_);
        FillFrequencies(wavFrequency_);
        FillBitrates(bitrates_);
        FillBitrates(min_);
        FillBitrates(max_);
        FillChannels(mp3Channels_);
        FillChannels(wavChannels_);
        Add(wavBits_, L"8 Bits");
        Add(wavBits_, L"16 Bits");

        SelectFrequency(Stored(DispMP3Frequency, DefaultFrequency), DefaultFrequency);
        Select(mp3Channels_, Stored(DispMP3Channels, 0) == 3 ? 0 : 1, DefaultChannels);
        Select(bitrates_, Stored(DispMP3Bitrate, DefaultBitrate), DefaultBitrate);
        SendMessageW(vbr_, BM_SETCHECK, Stored(DispMP3VBR, 0) != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
        Select(min_, Stored(DispMP3VBRMinBitrate, DefaultMin), DefaultMin);
        Select(max_, Stored(DispMP3VBRMaxBitrate, DefaultMax), DefaultMax);
        Select(wavFrequency_, Stored(DispWAVFrequency, DefaultFrequency), DefaultFrequency);
        Select(wavChannels_, Stored(DispWAVChannels, 2) == 1 ? 0 : 1, DefaultChannels);
        Select(wavBits_, Stored(DispWAVBits, DefaultBits), DefaultBits);
        UpdateVbrControls();
    }

    void DefaultClicked()
    {
        SelectFrequency(DefaultFrequency, DefaultFrequency);
        Select(mp3Channels_, DefaultChannels, DefaultChannels);
        Select(bitrates_, DefaultBitrate, DefaultBitrate);
        SendMessageW(vbr_, BM_SETCHECK, BST_UNCHECKED, 0);
        UpdateVbrControls();
        Select(min_, DefaultMin, DefaultMin);
        Select(max_, DefaultMax, DefaultMax);
        Select(wavFrequency_, DefaultFrequency, DefaultFrequency);
        Select(wavChannels_, DefaultChannels, DefaultChannels);
        Select(wavBits_, DefaultBits, DefaultBits);
    }

    void ApplyParameters()
    {
        store_.PutShort(DispMP3Frequency, static_cast<SHORT>(Position(mp3Frequency_)));
        store_.PutShort(DispMP3Channels, static_cast<SHORT>(Position(mp3Channels_) == 0 ? 3 : 0));
        store_.PutShort(DispMP3Bitrate, static_cast<SHORT>(Position(bitrates_)));
        store_.PutLong(DispMP3VBR, SendMessageW(vbr_, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        store_.PutShort(DispMP3VBRMinBitrate, static_cast<SHORT>(Position(min_)));
        store_.PutShort(DispMP3VBRMaxBitrate, static_cast<SHORT>(Position(max_)));
        store_.PutShort(DispWAVFrequency, static_cast<SHORT>(Position(wavFrequency_)));
        store_.PutShort(DispWAVChannels, static_cast<SHORT>(Position(wavChannels_) + 1));
        store_.PutShort(DispWAVBits, static_cast<SHORT>(Position(wavBits_)));
    }

    void OkClicked()
    {
        if (SendMessageW(vbr_, BM_GETCHECK, 0, 0) == BST_CHECKED && !(Position(max_) > Position(min_))) {
            MessageBoxW(window_, L"The MP3 Max bitrate must be larger than Min bitrate value.", L"Vellumo",
                        MB_OK | MB_ICONINFORMATION);
            return;
        }
        ApplyParameters();
        const std::vector<std::wstring> unsaved = SaveSettings(store_);
        if (!unsaved.empty()) {
            // The store keeps the values for this run; the user learns that
            // the next start will not have them, and where they could not go.
            std::wstring text = L"The parameters could not be saved in:\r\n";
            for (const std::wstring& path : unsaved) text += L"\r\n" + path;
            text += L"\r\n\r\nThey apply only until Vellumo is closed.";
            MessageBoxW(window_, text.c_str(), L"Vellumo", MB_OK | MB_ICONSTOP);
        }
        ui::CloseModal(window_);
    }

    void OnCommand(int id, int code)
    {
        switch (id) {
        case ids::ParaOKButton:
        case IDOK:
            if (code == BN_CLICKED) OkClicked();
            break;
        case ids::ParaCancelButton:
        case IDCANCEL:
            if (code == BN_CLICKED) ui::CloseModal(window_);
            break;
        case ids::cmdDefault:
            if (code == BN_CLICKED) DefaultClicked();
            break;
        case ids::chkMP3VBR:
            if (code == BN_CLICKED) UpdateVbrControls();
            break;
        case ids::cboMP3Frequency:
            if (code == CBN_SELCHANGE) FrequencyClicked();
            break;
        default:
            break;
        }
    }

    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = ui::WindowObject(window, message, lParam, &ParametersWindow::window_);
        if (!self) return DefWindowProcW(window, message, wParam, lParam);
        switch (message) {
        case WM_CREATE:
            self->CreateControls();
            return 0;
        case WM_COMMAND:
            self->OnCommand(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case DM_GETDEFID:
            return MAKELRESULT(ids::ParaOKButton, DC_HASDEFID);
        case WM_CLOSE:
            ui::CloseModal(window);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(window, GWLP_USERDATA, 0);
            self->window_ = nullptr;
            break;
        default:
            break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    const HalvexDispatch& store_;
    HWND window_ = nullptr;
    HWND frame1_ = nullptr, frame2_ = nullptr;
    HWND mp3Frequency_ = nullptr, mp3Channels_ = nullptr, bitrates_ = nullptr, vbr_ = nullptr, min_ = nullptr,
         max_ = nullptr, wavFrequency_ = nullptr, wavChannels_ = nullptr, wavBits_ = nullptr;
    std::array<HWND, 8> labels_ = {};  // Label1(0) .. Label1(7)
    std::array<std::array<std::wstring, BitrateCount>, 2> bitrateLabels_;
    ui::Font font_;
};

}  // namespace

void ParametersDialog::ShowModal(HWND owner, const HalvexDispatch& store)
{
    ParametersWindow frmPara(store);
    HWND window = frmPara.Create(owner);
    if (window) ui::RunModal(window, owner);
}

}  // namespace vellumo
