// The message pump: PumpOneMessage and DrainMessages on the thread's real
// queue, with and without the progress dialog.
#include "ui/MessagePump.h"
#include "ui/ProgressDialog.h"
#include "ui/tests/UiTestSupport.h"
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr UINT kFirst = WM_APP + 1;
constexpr UINT kSecond = WM_APP + 2;
constexpr UINT kThird = WM_APP + 3;

std::vector<UINT> Seen;  // messages of interest that reached a test window

bool OfInterest(UINT message)
{
    return (message >= WM_APP && message < WM_APP + 16) || message == WM_KEYDOWN ||
           message == WM_CHAR || message == WM_QUIT;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (OfInterest(message))
        Seen.push_back(message);
    return DefWindowProcA(window, message, wParam, lParam);
}

// A plain hidden top-level window that records what is dispatched to it.
class RecordingWindow {
public:
    RecordingWindow()
    {
        static ATOM atom = 0;
        if (atom == 0) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = RecordingProc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "UiPumpTestWindow";
            atom = RegisterClassA(&wc);
        }
        handle_ = CreateWindowExA(0, "UiPumpTestWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    ~RecordingWindow() { DestroyWindow(handle_); }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_;
};

// The cancel button's own procedure, wrapped to record what reaches it.
WNDPROC ButtonProc = nullptr;
LRESULT CALLBACK RecordingButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (OfInterest(message))
        Seen.push_back(message);
    return CallWindowProcA(ButtonProc, window, message, wParam, lParam);
}

// The next waiting message without removing it; 0 when none.
UINT NextWaiting()
{
    MSG message;
    return PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) ? message.message : 0;
}

bool QuitWaiting()
{
    MSG message;
    return PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

class MessagePump : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetRunFlags();
        ProgressDialog = nullptr;
        DiscardQueue();
        Seen.clear();
    }
    void TearDown() override
    {
        ProgressDialog = nullptr;
        DiscardQueue();
        ResetRunFlags();
    }
};

TEST_F(MessagePump, EmptyQueueGivesZeroAtOnce)
{
    RealDialog dialog;  // with the dialog set, too
    DiscardQueue();
    DWORD start = GetTickCount();
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(PumpOneMessage(), 0);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_LT(GetTickCount() - start, 1000u) << "a drain never waits";
    ProgressDialog = nullptr;
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(PumpOneMessage(), 0);
}

TEST_F(MessagePump, OneMessageTakenAndDispatched)
{
    RecordingWindow window;
    PostMessageA(window.Handle(), kFirst, 0, 0);
    PostMessageA(window.Handle(), kSecond, 0, 0);
    EXPECT_NE(PumpOneMessage(), 0);
    EXPECT_EQ(Seen, std::vector<UINT>{kFirst});
    EXPECT_EQ(NextWaiting(), kSecond);
    EXPECT_NE(PumpOneMessage(), 0);
    EXPECT_EQ(PumpOneMessage(), 0);
    EXPECT_EQ(Seen, (std::vector<UINT>{kFirst, kSecond}));
}

TEST_F(MessagePump, QuitRaisesTheIntegerZero)
{
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 7, 0);
    int caught = -1;
    bool raised = false;
    try {
        PumpOneMessage();
    } catch (int value) {
        raised = true;
        caught = value;
    }
    EXPECT_TRUE(raised);
    EXPECT_EQ(caught, 0) << "the signal carries 0, not the quit's exit code";
    EXPECT_FALSE(QuitWaiting()) << "the quit has left the queue";
    EXPECT_EQ(PumpOneMessage(), 0);
}

// WM_QUIT in the middle of the queue, with and without the dialog: 1, the
// quit gone, the messages behind it still queued and taken by the next drain.
TEST_F(MessagePump, QuitInTheMiddleOfTheQueue)
{
    for (bool withDialog : {false, true}) {
        SCOPED_TRACE(withDialog ? "dialog set" : "no dialog");
        Seen.clear();
        RealDialog dialog;
        if (!withDialog)
            ProgressDialog = nullptr;
        DiscardQueue();
        RecordingWindow window;
        PostMessageA(window.Handle(), kFirst, 0, 0);
        PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
        PostMessageA(window.Handle(), kSecond, 0, 0);
        PostMessageA(window.Handle(), kThird, 0, 0);
        EXPECT_EQ(DrainMessages(), 1);
        EXPECT_EQ(Seen, std::vector<UINT>{kFirst});
        EXPECT_FALSE(QuitWaiting());
        EXPECT_EQ(NextWaiting(), kSecond);
        EXPECT_EQ(CloseRequested, 0) << "the run, not the pump, sets the flag";
        if (withDialog) {
            EXPECT_TRUE(IsWindow(dialog.Handle())) << "the dialog still exists";
            EXPECT_EQ(ProgressDialog, dialog.Handle());
        }
        EXPECT_EQ(DrainMessages(), 0);
        EXPECT_EQ(Seen, (std::vector<UINT>{kFirst, kSecond, kThird}));
        EXPECT_EQ(NextWaiting(), 0u);
    }
}

// PostQuitMessage: the quit comes once the posted messages are taken.
TEST_F(MessagePump, PostQuitMessage)
{
    RecordingWindow window;
    PostMessageA(window.Handle(), kFirst, 0, 0);
    PostQuitMessage(3);
    EXPECT_EQ(DrainMessages(), 1);
    EXPECT_EQ(Seen, std::vector<UINT>{kFirst});
    EXPECT_FALSE(QuitWaiting());
    EXPECT_EQ(DrainMessages(), 0);
}

// A keyboard message for the dialog's button: while the dialog handle is set,
// IsDialogMessageA takes the Tab (focus navigation) and the button never sees
// it; with the handle empty (the dialog still exists) it is translated and
// dispatched to the button: WM_KEYDOWN, then the WM_CHAR that
// TranslateMessage made.
TEST_F(MessagePump, DialogMessagesOnlyWhileTheHandleIsSet)
{
    RealDialog dialog;
    ASSERT_NE(dialog.Handle(), nullptr);
    ButtonProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
        dialog.Button(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingButtonProc)));
    DiscardQueue();
    Seen.clear();

    PostMessageA(dialog.Button(), WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(Seen, std::vector<UINT>{}) << "taken by IsDialogMessageA";

    ProgressDialog = nullptr;
    PostMessageA(dialog.Button(), WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(Seen, (std::vector<UINT>{WM_KEYDOWN, WM_CHAR})) << "not offered to IsDialogMessageA";

    SetWindowLongPtrA(dialog.Button(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ButtonProc));
}

// Messages for another window are dispatched while the dialog is set.
TEST_F(MessagePump, OtherWindowsWhileTheDialogIsSet)
{
    RealDialog dialog;
    RecordingWindow window;
    DiscardQueue();
    PostMessageA(window.Handle(), kFirst, 0, 0);
    PostMessageA(window.Handle(), WM_KEYDOWN, VK_TAB, 0x000F0001);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(Seen, (std::vector<UINT>{kFirst, WM_KEYDOWN, WM_CHAR}));
}

// The catch-all of DrainMessages (any exception other than the quit signal)
// has no test: the only code that runs under PumpOneMessage besides its own
// is reached through DispatchMessageA and IsDialogMessageA, and under Wine a
// C++ exception cannot unwind through those frames (a window procedure that
// throws ends the process in std::terminate, tried and seen).

}  // namespace
