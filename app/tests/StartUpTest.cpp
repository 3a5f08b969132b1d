#include "app/StartUp.h"
#include "app/Texts.h"
#include "package/CaptionBlock.h"
#include "package/PackageFile.h"
#include "tests/e2e/WindowDriver.h"
#include "tests/support/TestSupport.h"
#include "ui/ProgressDialog.h"
#include "writer/PackageWriter.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr char kTestProduct[] = "VestrialStartUpTest";

std::string KeyPath(const char* product)
{
    return std::string("Software\\Quellmark\\") + product;
}

void SetValue(const char* product, DWORD type, const std::string& data)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, KeyPath(product).c_str(), 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr), ERROR_SUCCESS);
    RegSetValueExA(key, kInstallFolderValue, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   DWORD(data.size()));
    RegCloseKey(key);
}

void DeleteKey(const char* product)
{
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, KeyPath(product).c_str());
}

TEST(FindInstallFolder, ValueTable)
{
    const std::string nul(1, '\0');
    const std::string folder = "C:\\Games\\Vestrial";
    const std::string longest(259, 'a');
    struct Case {
        const char* what;
        bool key;
        DWORD type;
        std::string data;
        int found;
        std::string text;
    } cases[] = {
        {"no key", false, REG_SZ, "", 0, ""},
        {"REG_SZ with its NUL", true, REG_SZ, folder + nul, 1, folder},
        {"REG_SZ without a NUL", true, REG_SZ, folder, 1, folder},
        {"REG_EXPAND_SZ", true, REG_EXPAND_SZ, folder + nul, 0, ""},
        {"REG_BINARY", true, REG_BINARY, folder + nul, 0, ""},
        {"260 bytes with the NUL", true, REG_SZ, longest + nul, 1, longest},
        {"260 bytes, no NUL: fills the buffer", true, REG_SZ, longest + "a", 0, ""},
        {"261 bytes with the NUL", true, REG_SZ, longest + "a" + nul, 0, ""},
        {"empty text", true, REG_SZ, nul, 1, ""},
        {"no data", true, REG_SZ, "", 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKey(kTestProduct);
        if (c.key)
            SetValue(kTestProduct, c.type, c.data);
        // The buffer is not cleared first: whatever lies past the value must
        // not become part of the folder text.
        char buffer[kPathBufferSize + 1];
        std::memset(buffer, 'X', sizeof buffer);
        buffer[kPathBufferSize] = '#';
        EXPECT_EQ(FindInstallFolder(buffer, "Quellmark", kTestProduct), c.found);
        EXPECT_EQ(buffer[kPathBufferSize], '#') << "nothing written past 260 bytes";
        if (c.found) {
            ASSERT_NE(std::memchr(buffer, '\0', kPathBufferSize), nullptr);
            EXPECT_EQ(std::string(buffer), c.text);
        }
    }
    DeleteKey(kTestProduct);
}

TEST(FindInstallFolder, MissingNamesFailAtOnce)
{
    SetValue(kTestProduct, REG_SZ, std::string("C:\\x") + '\0');
    char buffer[kPathBufferSize];
    EXPECT_EQ(FindInstallFolder(buffer, nullptr, kTestProduct), 0);
    EXPECT_EQ(FindInstallFolder(buffer, "Quellmark", nullptr), 0);
    DeleteKey(kTestProduct);
}

// Answers this process's own boxes from a second thread while StartUp runs.
struct BoxAnswerer {
    std::vector<SeenBox> boxes;
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;

    static DWORD WINAPI Loop(void* self)
    {
        BoxAnswerer* a = static_cast<BoxAnswerer*>(self);
        std::vector<HWND> handled;
        while (WaitForSingleObject(a->stop, 5) == WAIT_TIMEOUT) {
            for (HWND w : DialogWindowsOf(GetCurrentProcessId())) {
                if (!IsMessageBoxWindow(w) || std::find(handled.begin(), handled.end(), w) != handled.end())
                    continue;
                handled.push_back(w);
                SeenBox box = ReadBox(w);
                a->boxes.push_back(box);
                PressButton(w, box.hasYes ? IDYES : IDOK);
            }
        }
        return 0;
    }
    BoxAnswerer() { thread = CreateThread(nullptr, 0, Loop, this, 0, nullptr); }
    ~BoxAnswerer() { Finish(); CloseHandle(stop); }
    void Finish()
    {
        if (!thread)
            return;
        SetEvent(stop);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        thread = nullptr;
    }
};

// This test program carries no dialog template 102, so the dialog cannot be
// created: the warning, status -4, and the run never starts.
TEST(StartUp, DialogThatCannotBeCreated)
{
    TempFolder game;
    PutFile(game / "uninst.lst", std::string("a\n") + '\0');
    TempFolder work;
    PackageDescription desc;
    desc.caption = "Vestrial";
    desc.entries = {{"new.txt", "new"}};
    std::string exe = work / "packed.exe";
    ASSERT_TRUE(PutFile(exe, BuildPackage(desc)));
    SetValue("Vestrial", REG_SZ, game.Path() + '\0');
    PackageFileOverride = exe.c_str();

    BoxAnswerer answerer;
    int status = StartUp(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    answerer.Finish();
    PackageFileOverride = nullptr;
    DeleteKey("Vestrial");

    EXPECT_EQ(status, kStartDialogFailed);
    ASSERT_EQ(answerer.boxes.size(), 2u);
    EXPECT_EQ(answerer.boxes[0].text, kTextConfirmUpdate);
    EXPECT_EQ(answerer.boxes[1].text, kTextDialogFailed);
    EXPECT_EQ(answerer.boxes[1].title, "Vestrial");
    EXPECT_TRUE(answerer.boxes[1].hasOk && !answerer.boxes[1].hasYes);
    EXPECT_EQ(ProgressDialog, nullptr);
    EXPECT_EQ(ListFolder(game.Path()), "uninst.lst");
    // Both mutexes were given up.
    for (const char* name : {kUpdaterMutexName, kGameMutexName}) {
        HANDLE m = OpenMutexA(SYNCHRONIZE, FALSE, name);
        EXPECT_EQ(m, nullptr) << name;
        if (m)
            CloseHandle(m);
    }
}

// Another updater holds the updater mutex: nothing is shown, and the status
// is the value of the handle that the creation returned.
TEST(StartUp, SecondUpdaterEndsAtOnce)
{
    HANDLE first = CreateMutexA(nullptr, TRUE, kUpdaterMutexName);
    ASSERT_NE(first, nullptr);
    BoxAnswerer answerer;
    int status = StartUp(GetModuleHandleA(nullptr), SW_SHOWNORMAL);
    answerer.Finish();
    CloseHandle(first);
    EXPECT_NE(status, 0);
    EXPECT_TRUE(answerer.boxes.empty());
    HANDLE game = OpenMutexA(SYNCHRONIZE, FALSE, kGameMutexName);
    EXPECT_EQ(game, nullptr) << "the game mutex is not touched";
    if (game)
        CloseHandle(game);
}

}  // namespace
