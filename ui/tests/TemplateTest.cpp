// Dialog template 102 as compiled into the test module: found as RT_DIALOG in
// Japanese, 260 bytes, and every field of the extended template as the
// dialog's design gives it.
#include "ui/ProgressDialog.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A text or ordinal field of the template: "#n" for an ordinal.
using Field = std::u16string;

class TemplateReader {
public:
    TemplateReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
    size_t Position() const { return pos_; }
    bool Overrun() const { return overrun_; }
    uint8_t Byte()
    {
        if (pos_ + 1 > size_) {
            overrun_ = true;
            return 0;
        }
        return bytes_[pos_++];
    }
    uint16_t Word()
    {
        uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t Dword()
    {
        uint32_t low = Word();
        return low | (static_cast<uint32_t>(Word()) << 16);
    }
    int16_t Short() { return static_cast<int16_t>(Word()); }
    // A NUL-terminated UTF-16 string.
    std::u16string Text()
    {
        std::u16string text;
        for (uint16_t unit = Word(); unit != 0 && !overrun_; unit = Word())
            text.push_back(static_cast<char16_t>(unit));
        return text;
    }
    // sz_Or_Ord: 0xFFFF and an ordinal, or a string (empty: one 0 word).
    Field TextOrOrdinal()
    {
        if (pos_ + 2 <= size_ && bytes_[pos_] == 0xFF && bytes_[pos_ + 1] == 0xFF) {
            Word();
            std::string number = "#" + std::to_string(Word());
            return Field(number.begin(), number.end());
        }
        return Text();
    }
    void AlignToDword()
    {
        while (pos_ % 4 != 0)
            Byte();
    }

private:
    const uint8_t* bytes_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

struct Item {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    Field windowClass, title;
    uint16_t extraCount;
};

struct Template {
    uint16_t version, signature;
    uint32_t helpId, exStyle, style;
    uint16_t itemCount;
    int16_t x, y, cx, cy;
    Field menu, windowClass, title;
    uint16_t pointSize, weight;
    uint8_t italic, charset;
    std::u16string typeface;
    std::vector<Item> items;
    size_t parsedSize;
    bool overrun;
};

Template Parse(const uint8_t* bytes, size_t size)
{
    TemplateReader r(bytes, size);
    Template t;
    t.version = r.Word();
    t.signature = r.Word();
    t.helpId = r.Dword();
    t.exStyle = r.Dword();
    t.style = r.Dword();
    t.itemCount = r.Word();
    t.x = r.Short();
    t.y = r.Short();
    t.cx = r.Short();
    t.cy = r.Short();
    t.menu = r.TextOrOrdinal();
    t.windowClass = r.TextOrOrdinal();
    t.title = r.Text();
    t.pointSize = r.Word();
    t.weight = r.Word();
    t.italic = r.Byte();
    t.charset = r.Byte();
    t.typeface = r.Text();
    for (uint16_t i = 0; i < t.itemCount && !r.Overrun(); ++i) {
        r.AlignToDword();
        Item item;
        item.helpId = r.Dword();
        item.exStyle = r.Dword();
        item.style = r.Dword();
        item.x = r.Short();
        item.y = r.Short();
        item.cx = r.Short();
        item.cy = r.Short();
        item.id = r.Dword();
        item.windowClass = r.TextOrOrdinal();
        item.title = r.TextOrOrdinal();
        item.extraCount = r.Word();
        t.items.push_back(item);
    }
    t.parsedSize = r.Position();
    t.overrun = r.Overrun();
    return t;
}

struct Resource {
    const uint8_t* bytes = nullptr;
    DWORD size = 0;
};

Resource LoadTemplate(WORD language)
{
    Resource resource;
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceExA(module, RT_DIALOG,
                                  MAKEINTRESOURCEA(kProgressDialogTemplate), language);
    if (found == nullptr)
        return resource;
    HGLOBAL loaded = LoadResource(module, found);
    resource.bytes = static_cast<const uint8_t*>(LockResource(loaded));
    resource.size = SizeofResource(module, found);
    return resource;
}

std::string Narrow(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR data)
{
    reinterpret_cast<std::vector<WORD>*>(data)->push_back(language);
    return TRUE;
}

TEST(DialogTemplate, IsJapaneseDialog102Of260Bytes)
{
    Resource resource = LoadTemplate(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    ASSERT_NE(resource.bytes, nullptr);
    EXPECT_EQ(MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 0x0411);
    EXPECT_EQ(resource.size, 260u);
    // Dialog 102 exists in this one language only.
    std::vector<WORD> languages;
    EnumResourceLanguagesA(GetModuleHandleA(nullptr), RT_DIALOG,
                           MAKEINTRESOURCEA(kProgressDialogTemplate), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages, std::vector<WORD>{0x0411});
}

TEST(DialogTemplate, EveryFieldOfTheTable)
{
    Resource resource = LoadTemplate(0x0411);
    ASSERT_NE(resource.bytes, nullptr);
    ASSERT_EQ(resource.size, 260u);
    Template t = Parse(resource.bytes, resource.size);
    EXPECT_FALSE(t.overrun);
    EXPECT_EQ(t.parsedSize, 260u) << "the last item ends with the resource";

    EXPECT_EQ(t.version, 1);
    EXPECT_EQ(t.signature, 0xFFFF);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.style, 0x80C000C0u);
    EXPECT_EQ(t.style, static_cast<uint32_t>(WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(t.style & WS_SYSMENU, 0u);
    EXPECT_EQ(t.style & WS_VISIBLE, 0u);
    EXPECT_EQ(t.style & DS_NOFAILCREATE, 0u);
    EXPECT_EQ(t.itemCount, 4);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 271);
    EXPECT_EQ(t.cy, 109);
    EXPECT_EQ(t.menu, u"") << "no menu";
    EXPECT_EQ(t.windowClass, u"") << "the standard dialog class";
    EXPECT_EQ(t.title, u"") << "empty caption";
    EXPECT_EQ(t.pointSize, 9);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, SHIFTJIS_CHARSET);
    EXPECT_EQ(t.charset, 128);
    EXPECT_EQ(t.typeface, u"MS UI Gothic");

    struct Expected {
        uint32_t id;
        const char16_t* windowClass;
        const char16_t* title;
        int16_t x, y, cx, cy;
        uint32_t style, exStyle;
    } expected[] = {
        {1000, u"#128", u"中止", 110, 88, 51, 14, 0x50010000, 0},
        {1001, u"#130", u"", 7, 7, 257, 14, 0x50020201, 0x00020000},
        {1002, u"msctls_progress32", u"", 7, 33, 257, 16, 0x50800001, 0},
        {1003, u"msctls_progress32", u"", 7, 59, 257, 16, 0x50800001, 0},
    };
    ASSERT_EQ(t.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const Item& item = t.items[i];
        const Expected& e = expected[i];
        SCOPED_TRACE("control " + std::to_string(e.id));
        EXPECT_EQ(item.id, e.id);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.windowClass, e.windowClass) << Narrow(item.windowClass);
        EXPECT_EQ(item.title, e.title);
        EXPECT_EQ(item.x, e.x);
        EXPECT_EQ(item.y, e.y);
        EXPECT_EQ(item.cx, e.cx);
        EXPECT_EQ(item.cy, e.cy);
        EXPECT_EQ(item.style, e.style);
        EXPECT_EQ(item.exStyle, e.exStyle);
        EXPECT_EQ(item.extraCount, 0);
        // Only the cancel button is a tab stop; there is no default button.
        EXPECT_EQ((item.style & WS_TABSTOP) != 0, e.id == 1000u);
        if (e.id == 1000u) {
            EXPECT_EQ(item.style & 0x0F, static_cast<uint32_t>(BS_PUSHBUTTON));
        }
    }
    EXPECT_EQ(expected[0].style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON));
    EXPECT_EQ(expected[1].style,
              static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_GROUP | SS_CENTER | SS_CENTERIMAGE));
    EXPECT_EQ(expected[1].exStyle, static_cast<uint32_t>(WS_EX_STATICEDGE));
    EXPECT_EQ(expected[2].style, static_cast<uint32_t>(WS_CHILD | WS_VISIBLE | WS_BORDER | 0x01));
}

TEST(DialogTemplate, ButtonTextIsUtf16OfChushi)
{
    Resource resource = LoadTemplate(0x0411);
    ASSERT_EQ(resource.size, 260u);
    // The button's text follows its class ordinal (0xFFFF 0x0080) at offset
    // 64 + 24 + 4 = 92: U+4E2D U+6B62 and the NUL, then no creation data.
    const uint8_t expected[] = {0xFF, 0xFF, 0x80, 0x00, 0x2D, 0x4E, 0x62, 0x6B, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(memcmp(resource.bytes + 88, expected, sizeof(expected)), 0);
}

// The updater itself carries the same template (res/updater.rc includes
// res/ProgressDialog.rc): its bytes equal the test module's. Only the CTest
// entry ui_updater_template sets UPDATER_EXE (and there a missing updater
// fails); the plain ui_tests run does not depend on the updater's link.
TEST(DialogTemplate, UpdaterCarriesTheSameBytes)
{
    char path[1024] = {};
    DWORD length = GetEnvironmentVariableA("UPDATER_EXE", path, sizeof(path));
    if (length == 0) {
        printf("UPDATER_EXE not set: the updater's copy is checked by ui_updater_template\n");
        return;
    }
    ASSERT_LT(length, sizeof(path));
    ASSERT_NE(GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "no built updater at " << path;
    HMODULE updater = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(updater, nullptr);
    HRSRC found = FindResourceExA(updater, RT_DIALOG, MAKEINTRESOURCEA(kProgressDialogTemplate), 0x0411);
    ASSERT_NE(found, nullptr);
    const DWORD size = SizeofResource(updater, found);
    const void* bytes = LockResource(LoadResource(updater, found));
    Resource own = LoadTemplate(0x0411);
    ASSERT_NE(bytes, nullptr);
    ASSERT_NE(own.bytes, nullptr);
    EXPECT_EQ(size, 260u);
    EXPECT_EQ(size, own.size);
    EXPECT_EQ(memcmp(bytes, own.bytes, own.size < size ? own.size : size), 0);
    FreeLibrary(updater);
}

}  // namespace
