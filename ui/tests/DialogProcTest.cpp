// The progress dialog procedure on a real dialog created from template 102:
// its message table, the cancel click answered from the test, WM_CLOSE from
// outside.
#include "app/Texts.h"
#include "package/CaptionBlock.h"
#include "ui/MessagePump.h"
#include "ui/ProgressDialog.h"
#include "ui/tests/UiTestSupport.h"
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The caption that the tests give the cancel question: CP932 bytes.
constexpr char kTestCaption[] = "ヴェストリアル更新";

// What the answerer saw of one cancel question.
struct Question {
    HWND owner = nullptr;
    std::string title;      // GetWindowTextA of the box
    std::string text;       // the box's static text, 8-bit
    std::wstring wideText;  // the same, UTF-16
    bool ownerEnabled = true;
    bool hasYes = false, hasNo = false, hasOk = false, hasCancel = false;
    bool noIsDefault = false;   // BS_DEFPUSHBUTTON on No
    bool yesIsDefault = false;
    bool focusOnNo = false;
};

// Answers every cancel question from a thread timer that the question's own
// modal loop dispatches: finds the #32770 box owned by `owner`, records what
// it shows and posts the click of the chosen button.
class Answerer {
public:
    Answerer(HWND owner, int answer)
    {
        current_ = this;
        owner_ = owner;
        answer_ = answer;
        timer_ = SetTimer(nullptr, 0, 10, Tick);
    }
    ~Answerer()
    {
        KillTimer(nullptr, timer_);
        current_ = nullptr;
        DiscardQueue();
    }
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;
    const std::vector<Question>& Questions() const { return questions_; }
    // After each answer, also post this click to the dialog: it is queued
    // behind the answer, so the question's modal loop ends before it.
    void PostClickAfterAnswer() { clickAfterAnswer_ = true; }

private:
    static BOOL CALLBACK FindBox(HWND window, LPARAM data)
    {
        Answerer* self = reinterpret_cast<Answerer*>(data);
        char name[32] = {};
        GetClassNameA(window, name, sizeof(name));
        // After some 5 s without the expected box, any visible box of the
        // thread is answered, so that a wrong owner fails the case instead of
        // leaving the test waiting in the modal loop.
        const bool ownerMatches = GetWindow(window, GW_OWNER) == self->owner_ || self->ticks_ > 500;
        if (strcmp(name, "#32770") == 0 && ownerMatches && IsWindowVisible(window) &&
            window != self->owner_ && window != self->answered_) {
            self->box_ = window;
            return FALSE;
        }
        return TRUE;
    }
    static BOOL CALLBACK FindText(HWND child, LPARAM data)
    {
        Question* q = reinterpret_cast<Question*>(data);
        char name[32] = {};
        GetClassNameA(child, name, sizeof(name));
        char text[512] = {};
        GetWindowTextA(child, text, sizeof(text));
        if (_stricmp(name, "Static") == 0 && text[0] != '\0') {
            q->text = text;
            wchar_t wide[512] = {};
            GetWindowTextW(child, wide, 512);
            q->wideText = wide;
        }
        return TRUE;
    }
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        Answerer* self = current_;
        if (self == nullptr)
            return;
        ++self->ticks_;
        self->box_ = nullptr;
        EnumThreadWindows(GetCurrentThreadId(), FindBox, reinterpret_cast<LPARAM>(self));
        HWND box = self->box_;
        if (box == nullptr || box == self->answered_)
            return;
        self->answered_ = box;
        self->ticks_ = 0;
        Question q;
        q.owner = GetWindow(box, GW_OWNER);
        char title[4096] = {};
        GetWindowTextA(box, title, sizeof(title));
        q.title = title;
        EnumChildWindows(box, FindText, reinterpret_cast<LPARAM>(&q));
        q.ownerEnabled = IsWindowEnabled(self->owner_) != FALSE;
        q.hasYes = GetDlgItem(box, IDYES) != nullptr;
        q.hasNo = GetDlgItem(box, IDNO) != nullptr;
        q.hasOk = GetDlgItem(box, IDOK) != nullptr;
        q.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
        // Wine's box marks its default button by style and focus (it sends no
        // DM_SETDEFID, so DM_GETDEFID answers IDOK whatever the buttons).
        q.noIsDefault = (GetWindowLongA(GetDlgItem(box, IDNO), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
        q.yesIsDefault = (GetWindowLongA(GetDlgItem(box, IDYES), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
        q.focusOnNo = GetFocus() == GetDlgItem(box, IDNO);
        self->questions_.push_back(q);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(self->answer_, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, self->answer_)));
        if (self->clickAfterAnswer_) {
            self->clickAfterAnswer_ = false;
            PostMessageA(self->owner_, WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(self->owner_, kIdCancelButton)));
        }
    }

    static Answerer* current_;
    HWND owner_ = nullptr;
    HWND box_ = nullptr;
    HWND answered_ = nullptr;
    int answer_ = IDNO;
    bool clickAfterAnswer_ = false;
    int ticks_ = 0;
    UINT_PTR timer_ = 0;
    std::vector<Question> questions_;
};
Answerer* Answerer::current_ = nullptr;

class DialogProc : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetRunFlags();
        DiscardQueue();
        memset(CaptionBuffer, 0, sizeof(CaptionBuffer));
        strcpy(CaptionBuffer, kTestCaption);
    }
    void TearDown() override { ResetRunFlags(); }
};

void ExpectQuestion(const Question& q, HWND dialog)
{
    EXPECT_EQ(q.owner, dialog);
    EXPECT_EQ(q.title, std::string(kTestCaption));
    // The text's bytes in code page 932, the 12 ideographic spaces included.
    EXPECT_EQ(q.text, std::string(kTextCancelQuestion));
    EXPECT_EQ(q.text.size(), 52u);
    EXPECT_EQ(q.wideText, std::wstring(L"アップデートを中止しますか？") + std::wstring(12, L'\x3000'));
    EXPECT_FALSE(q.ownerEnabled) << "a box owned by the dialog disables it while open";
    EXPECT_TRUE(q.hasYes);
    EXPECT_TRUE(q.hasNo);
    EXPECT_FALSE(q.hasOk);
    EXPECT_FALSE(q.hasCancel);
    // MB_DEFBUTTON2: No is the default.
    EXPECT_TRUE(q.noIsDefault);
    EXPECT_FALSE(q.yesIsDefault);
    EXPECT_TRUE(q.focusOnNo);
}

TEST_F(DialogProc, TheRealDialogFromTemplate102)
{
    RealDialog dialog;
    ASSERT_NE(dialog.Handle(), nullptr);
    EXPECT_FALSE(IsWindowVisible(dialog.Handle())) << "created hidden";
    LONG style = GetWindowLongA(dialog.Handle(), GWL_STYLE);
    EXPECT_EQ(style & WS_SYSMENU, 0);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    char name[64] = {};
    GetClassNameA(GetDlgItem(dialog.Handle(), kIdFileBar), name, sizeof(name));
    EXPECT_STREQ(name, PROGRESS_CLASSA);
    GetClassNameA(GetDlgItem(dialog.Handle(), kIdOverallBar), name, sizeof(name));
    EXPECT_STREQ(name, "msctls_progress32");
    GetClassNameA(GetDlgItem(dialog.Handle(), kIdStatusText), name, sizeof(name));
    EXPECT_EQ(_stricmp(name, "Static"), 0) << name;
    GetClassNameA(dialog.Button(), name, sizeof(name));
    EXPECT_EQ(_stricmp(name, "Button"), 0) << name;
    wchar_t text[16] = {};
    GetWindowTextW(dialog.Button(), text, 16);
    EXPECT_EQ(std::wstring(text), L"中止");
    EXPECT_TRUE(IsWindowEnabled(dialog.Button()));
    WNDCLASSEXA info = {};
    info.cbSize = sizeof(info);
    EXPECT_TRUE(GetClassInfoExA(nullptr, PROGRESS_CLASSA, &info)) << "registered by RegisterProgressBarClass";
}

// How a case sets the stage before its message.
enum class Before {
    Nothing,
    YesClick,        // a first cancel click, answered Yes
    FlagAlreadySet,  // CancelRequested already 1, the button still enabled
};

struct Case {
    const char* what;
    UINT message;
    WPARAM wParam;
    bool buttonAsLParam;
    Before before;
    int answer;  // the answer to a question, should one appear
    INT_PTR result;
    size_t questions;  // asked during the message itself
    int32_t cancel, close;
    bool buttonEnabled;
    bool dialogAlive;
};

TEST_F(DialogProc, MessageTable)
{
    const WPARAM click = MAKEWPARAM(kIdCancelButton, BN_CLICKED);
    const Case cases[] = {
        {"WM_INITDIALOG", WM_INITDIALOG, 0, false, Before::Nothing, IDNO, TRUE, 0, 0, 0, true, true},
        {"WM_CLOSE", WM_CLOSE, 0, false, Before::Nothing, IDNO, TRUE, 0, 0, 1, true, false},
        {"WM_CLOSE after a Yes", WM_CLOSE, 0, false, Before::YesClick, IDNO, TRUE, 0, 1, 1, false, false},
        {"cancel click, No", WM_COMMAND, click, true, Before::Nothing, IDNO, TRUE, 1, 0, 0, true, true},
        {"cancel click, Yes", WM_COMMAND, click, true, Before::Nothing, IDYES, TRUE, 1, 1, 0, false, true},
        {"cancel click, Yes, lParam 0 (not examined)", WM_COMMAND, click, false, Before::Nothing, IDYES, TRUE, 1, 1, 0, false, true},
        {"second click after Yes", WM_COMMAND, click, true, Before::YesClick, IDYES, TRUE, 0, 1, 0, false, true},
        {"click with the flag already set", WM_COMMAND, click, true, Before::FlagAlreadySet, IDYES, TRUE, 0, 1, 0, true, true},
        {"id 1000, BN_DOUBLECLICKED", WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_DOUBLECLICKED), true, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"id 1000, notification 1", WM_COMMAND, MAKEWPARAM(kIdCancelButton, 1), true, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"id 1000, notification 0x8000", WM_COMMAND, MAKEWPARAM(kIdCancelButton, 0x8000), true, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"id 1001", WM_COMMAND, MAKEWPARAM(kIdStatusText, BN_CLICKED), false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"IDCANCEL", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"IDOK", WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE, false, Before::Nothing, IDYES, TRUE, 0, 0, 0, true, true},
        {"SC_CLOSE | 1", WM_SYSCOMMAND, SC_CLOSE | 1, false, Before::Nothing, IDYES, TRUE, 0, 0, 0, true, true},
        {"SC_CLOSE | 0xF", WM_SYSCOMMAND, SC_CLOSE | 0xF, false, Before::Nothing, IDYES, TRUE, 0, 0, 0, true, true},
        {"SC_CLOSE | 2 with high bits (masked away)", WM_SYSCOMMAND, 0x1000F062, false, Before::Nothing, IDYES, TRUE, 0, 0, 0, true, true},
        {"SC_MOVE", WM_SYSCOMMAND, SC_MOVE, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"SC_MINIMIZE", WM_SYSCOMMAND, SC_MINIMIZE, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"SC_KEYMENU", WM_SYSCOMMAND, SC_KEYMENU, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"SC_CLOSE - 0x10", WM_SYSCOMMAND, SC_CLOSE - 0x10, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"WM_CLOSE + 0x10000 (ids compared in 32 bits)", WM_CLOSE + 0x10000, 0, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"WM_COMMAND + 0x10000", WM_COMMAND + 0x10000, click, true, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"WM_TIMER", WM_TIMER, 1, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"WM_USER", WM_USER, click, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
        {"WM_NOTIFY", WM_NOTIFY, kIdCancelButton, false, Before::Nothing, IDYES, FALSE, 0, 0, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetRunFlags();
        RealDialog dialog;
        ASSERT_NE(dialog.Handle(), nullptr);
        if (c.before == Before::YesClick) {
            Answerer yes(dialog.Handle(), IDYES);
            EXPECT_EQ(ProgressDialogProc(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                                         reinterpret_cast<LPARAM>(dialog.Button())),
                      TRUE);
            ASSERT_EQ(yes.Questions().size(), 1u);
            ASSERT_EQ(CancelRequested, 1);
        } else if (c.before == Before::FlagAlreadySet) {
            CancelRequested = 1;
        }
        HWND button = dialog.Button();
        INT_PTR result;
        std::vector<Question> questions;
        {
            Answerer answerer(dialog.Handle(), c.answer);
            result = ProgressDialogProc(dialog.Handle(), c.message, c.wParam,
                                        c.buttonAsLParam ? reinterpret_cast<LPARAM>(button) : 0);
            questions = answerer.Questions();
        }
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(questions.size(), c.questions);
        for (const Question& q : questions)
            ExpectQuestion(q, dialog.Handle());
        EXPECT_EQ(CancelRequested, c.cancel);
        EXPECT_EQ(CloseRequested, c.close);
        EXPECT_EQ(IsWindow(dialog.Handle()) != FALSE, c.dialogAlive);
        if (c.dialogAlive) {
            EXPECT_EQ(ProgressDialog, dialog.Handle());
            EXPECT_EQ(IsWindowEnabled(button) != FALSE, c.buttonEnabled);
        } else {
            EXPECT_EQ(ProgressDialog, nullptr) << "the handle is emptied";
        }
    }
}

// A cancel question owned by a window without control 1000: Yes sets the flag
// all the same, and nothing is disabled.
TEST_F(DialogProc, YesWithoutTheButton)
{
    RealDialog dialog;
    HWND other = CreateWindowExA(0, "Static", "", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(other, nullptr);
    std::vector<Question> questions;
    {
        Answerer yes(other, IDYES);
        EXPECT_EQ(ProgressDialogProc(other, WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED), 0), TRUE);
        questions = yes.Questions();
    }
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].owner, other);
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_TRUE(IsWindowEnabled(dialog.Button())) << "the real dialog's button is not touched";
    DestroyWindow(other);
}

// The click through the pump, as during the run. A second click queued
// before the button was disabled, and taken after the Yes: TRUE, no second
// question.
TEST_F(DialogProc, SecondQueuedClickAfterYesThroughThePump)
{
    RealDialog dialog;
    PostMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.Button()));
    std::vector<Question> questions;
    int drained;
    {
        Answerer yes(dialog.Handle(), IDYES);
        yes.PostClickAfterAnswer();
        drained = DrainMessages();
        questions = yes.Questions();
    }
    EXPECT_EQ(drained, 0);
    ASSERT_EQ(questions.size(), 1u);
    ExpectQuestion(questions[0], dialog.Handle());
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_EQ(CloseRequested, 0);
    EXPECT_FALSE(IsWindowEnabled(dialog.Button()));
}

// Two clicks queued together: the second is dispatched by the first
// question's own modal loop, while CancelRequested is still 0. It must not
// open a second, nested question: one question, one flag, one disabled button.
TEST_F(DialogProc, ClickTakenInsideTheOpenQuestionDoesNotAskAgain)
{
    RealDialog dialog;
    for (int i = 0; i < 2; ++i)
        PostMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                     reinterpret_cast<LPARAM>(dialog.Button()));
    size_t asked;
    {
        Answerer yes(dialog.Handle(), IDYES);
        EXPECT_EQ(DrainMessages(), 0);
        asked = yes.Questions().size();
    }
    EXPECT_EQ(asked, 1u);
    EXPECT_EQ(CancelRequested, 1);
    EXPECT_FALSE(IsWindowEnabled(dialog.Button()));
}

TEST_F(DialogProc, ClickAnsweredNoThroughThePump)
{
    RealDialog dialog;
    PostMessageA(dialog.Handle(), WM_COMMAND, MAKEWPARAM(kIdCancelButton, BN_CLICKED),
                 reinterpret_cast<LPARAM>(dialog.Button()));
    std::vector<Question> questions;
    {
        Answerer no(dialog.Handle(), IDNO);
        EXPECT_EQ(DrainMessages(), 0);
        questions = no.Questions();
    }
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_TRUE(IsWindowEnabled(dialog.Button()));
}

// WM_CLOSE posted to the dialog, taken by a drain.
TEST_F(DialogProc, PostedCloseTakenByTheDrain)
{
    RealDialog dialog;
    HWND handle = dialog.Handle();
    PostMessageA(handle, WM_CLOSE, 0, 0);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_EQ(CloseRequested, 1);
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(ProgressDialog, nullptr);
}

DWORD WINAPI SendCloseFromOutside(void* dialog)
{
    SendMessageA(static_cast<HWND>(dialog), WM_CLOSE, 0, 0);
    return 0;
}

// WM_CLOSE sent by another thread (as another program would): the dialog's
// thread handles it inside its drain.
TEST_F(DialogProc, CloseSentFromAnotherThread)
{
    RealDialog dialog;
    HWND handle = dialog.Handle();
    HANDLE thread = CreateThread(nullptr, 0, SendCloseFromOutside, handle, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    int drains = 0;
    while (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && drains < 100000) {
        EXPECT_EQ(DrainMessages(), 0);
        ++drains;
        Sleep(1);
    }
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(CloseRequested, 1);
    EXPECT_EQ(CancelRequested, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_EQ(ProgressDialog, nullptr);
    EXPECT_EQ(DrainMessages(), 0) << "later drains run without the dialog";
}

// SC_CLOSE through the platform: the dialog is not closed.
TEST_F(DialogProc, SystemCloseThroughThePlatformIsSwallowed)
{
    RealDialog dialog;
    SendMessageA(dialog.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageA(dialog.Handle(), WM_SYSCOMMAND, SC_CLOSE | 3, 0);
    EXPECT_EQ(DrainMessages(), 0);
    EXPECT_TRUE(IsWindow(dialog.Handle()));
    EXPECT_EQ(CloseRequested, 0);
    EXPECT_EQ(ProgressDialog, dialog.Handle());
}

}  // namespace
