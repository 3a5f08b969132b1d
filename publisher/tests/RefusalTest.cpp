// Every refusal of `build`, as one table: each names the offending file, gives
// its reason, and leaves nothing written (not even a partial file).
#include "publisher/Publisher.h"
#include "publisher/tests/NativeSupport.h"
#include <gtest/gtest.h>
#include <filesystem>
#include <functional>
#include <sstream>

namespace {

struct Refusal {
    const char* what;
    // Prepares dir/src (and options); returns the text that must name the file.
    std::function<std::string(const ScratchFolder&, BuildOptions&)> setUp;
    const char* reason;  // a part of the message
};

std::string Files(const ScratchFolder& d, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        Put(d / (std::string("src/") + n), n);
    return d / (std::string("src/") + *names.begin());
}

const Refusal kRefusals[] = {
    {"an image that ends after 0x20000",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "big.exe", FakeImage(0x20001));
         o.image = d / "big.exe";
         return d / "big.exe";
     },
     "the image is 131073 bytes; it must end at or before 0x20000"},
    {"a caption over 4095 bytes in code page 932",
     [](const ScratchFolder&, BuildOptions& o) {
         o.caption.clear();
         for (int i = 0; i < 2048; ++i)
             o.caption += u8"あ";  // 3 bytes in UTF-8, 2 in code page 932
         return std::string("the caption");
     },
     "the caption is 4096 bytes in code page 932; at most 4095 fit"},
    {"a caption file over 4095 bytes",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "caption.txt", std::string(4096, 'c') + "\n");
         o.caption = d / "caption.txt";
         o.captionFromFile = true;
         return d / "caption.txt";
     },
     "at most 4095 fit"},
    {"a caption that code page 932 cannot represent",
     [](const ScratchFolder&, BuildOptions& o) {
         o.caption = u8"Caf\u00e9 \U0001F600";
         return std::string("the caption");
     },
     "code page 932 cannot represent"},
    {"more than 256 entries, the hash list counting as one",
     [](const ScratchFolder& d, BuildOptions& o) {
         for (int i = 0; i < 255; ++i)  // and ok.txt
             Put(d / ("src/f" + std::to_string(i)), "");
         return o.folder;
     },
     "256 files and the hash list make 257 entries; at most 256 fit"},
    {"an entry name over 95 bytes",
     [](const ScratchFolder& d, BuildOptions&) {
         return Files(d, {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.x"});
     },
     "the entry name is 97 bytes in code page 932; at most 95 fit"},
    {"a record path over 55 bytes",
     [](const ScratchFolder& d, BuildOptions&) {
         return Files(d, {"folder/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.txt"});
     },
     "the record path is 56 bytes in code page 932; at most 55 fit"},
    {"a path of 28 double-byte characters (56 bytes)",
     [](const ScratchFolder& d, BuildOptions&) {
         std::string n;
         for (int i = 0; i < 28; ++i)
             n += u8"表";
         return Files(d, {n.c_str()});
     },
     "the record path is 56 bytes"},
    {"a name that code page 932 cannot represent",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"caf\u00e9.txt"}); },
     "cannot be represented in code page 932"},
    {"a name that code page 932 cannot represent, in a subfolder",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"\u00fcber/a.txt"}); },
     "cannot be represented in code page 932"},
    {"two names equal ignoring case",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"sub/readme.TXT", "README.txt"}); },
     "ignoring case; the updater would match only the first record"},
    {"two full-width names equal ignoring case",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"ｂ/ａ.txt", u8"Ａ.txt"}); },
     "ignoring case"},
    {"a file named like the hash list",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"JOR.HVL"}); },
     "equals the hash list's \"jor.hvl\""},
    {"a file named like the hash list, in a subfolder",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"sub/jor.hvl"}); },
     "equals the hash list's"},
    {"a path that leaves the install folder",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "x.txt", "x");
         o.files.push_back({"../x.txt", d / "x.txt"});
         return d / "x.txt";
     },
     "the path would leave the install folder"},
    {"a path inside that leaves the install folder",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "x.txt", "x");
         o.files.push_back({"sub\\..\\..\\x.txt", d / "x.txt"});
         return d / "x.txt";
     },
     "the path would leave the install folder"},
    {"an absolute path",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "x.txt", "x");
         o.files.push_back({"\\Windows\\x.txt", d / "x.txt"});
         return d / "x.txt";
     },
     "would leave the install folder"},
    {"a drive path",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "x.txt", "x");
         o.files.push_back({"C:x.txt", d / "x.txt"});
         return d / "x.txt";
     },
     "would leave the install folder"},
    {"data that would reach 2^31",
     [](const ScratchFolder& d, BuildOptions& o) {
         Put(d / "src/huge.bin", "");
         // Sparse: the check comes before any byte is read.
         std::filesystem::resize_file(d / "src/huge.bin", 0x80000000u - 0x21010 - 2 * 128 - 16 - 64);
         return o.folder;
     },
     "its data would reach position 2^31"},
    {"a name with a character Windows forbids",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"what?.txt"}); },
     "the character '?'"},
    {"a name with a colon",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"a:b.txt"}); },
     "the character ':'"},
    {"a name with a backslash (a Linux file name)",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"sub\\a.txt"}); },
     "the character '\\'"},
    {"a name with a control character",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"tab\there.txt"}); },
     "a control character"},
    {"a name ending in a dot",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"name."}); },
     "trailing space or dot"},
    {"a reserved device name",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {"sub/con.txt"}); },
     "reserved device name CON"},
    {"a yen sign, which would become a backslash",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"\u00a5.txt"}); },
     "cannot be represented in code page 932"},
    {"a wave dash that only resembles a code page 932 character",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"a\u301Cb.txt"}); },
     "cannot be represented in code page 932"},
    {"an em dash that Windows would not convert",
     [](const ScratchFolder& d, BuildOptions&) { return Files(d, {u8"a\u2014b.txt"}); },
     "cannot be represented in code page 932"},
    {"an output that equals the image",
     [](const ScratchFolder&, BuildOptions& o) {
         o.output = o.image;
         return o.image;
     },
     "the output is one of the inputs"},
    {"an output that equals a file of the folder",
     [](const ScratchFolder& d, BuildOptions& o) {
         Files(d, {"b.txt"});
         o.output = d / "src/./b.txt";
         return o.output;
     },
     "the output is one of the inputs"},
    {"an explicit file that does not exist",
     [](const ScratchFolder& d, BuildOptions& o) {
         o.files.push_back({"a.txt", d / "missing.txt"});
         return d / "missing.txt";
     },
     "not a regular file"},
};

class RefusalTable : public ::testing::TestWithParam<Refusal> {};

TEST_P(RefusalTable, NamesTheFileAndWritesNothing)
{
    const Refusal& r = GetParam();
    ScratchFolder d;
    Put(d / "updater.exe", FakeImage());
    Put(d / "src/ok.txt", "fine");
    BuildOptions o;
    o.image = d / "updater.exe";
    o.caption = "Caption";
    o.folder = d / "src";
    o.output = d / "update.exe";
    std::string who = r.setUp(d, o);
    std::string before = FileExists(o.output) ? Get(o.output) : "<none>";
    std::ostringstream out, err;
    EXPECT_EQ(BuildUpdate(o, out, err), kExitRefused) << r.what << "\n" << err.str();
    std::string message = err.str();
    EXPECT_NE(message.find(r.reason), std::string::npos) << r.what << "\n" << message;
    EXPECT_NE(message.find("refused: " + who), std::string::npos) << r.what << "\n" << message;
    EXPECT_NE(message.find("nothing was written"), std::string::npos) << message;
    EXPECT_EQ(FileExists(o.output) ? Get(o.output) : "<none>", before) << r.what;
    EXPECT_FALSE(FileExists(o.output + ".partial")) << r.what;
}

INSTANTIATE_TEST_SUITE_P(Build, RefusalTable, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<Refusal>& info) {
                             return "Case" + std::to_string(info.index);
                         });

TEST(RefusalLimits, TheLimitsThemselvesAreAccepted)
{
    ScratchFolder d;
    Put(d / "updater.exe", FakeImage(0x20000));
    for (int i = 0; i < 255; ++i)
        Put(d / ("src/f" + std::to_string(i)), std::to_string(i));
    Put(d / "src/sub/aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.txt", "55 bytes");
    BuildOptions o;
    o.image = d / "updater.exe";
    o.caption = std::string(4095, 'c');
    o.folder = d / "src";
    o.output = d / "update.exe";
    std::ostringstream out, err;
    // 256 files would be too many: drop one.
    std::filesystem::remove(d / "src/f0");
    ASSERT_EQ(BuildUpdate(o, out, err), kExitOk) << err.str();
    std::ostringstream vo, ve;
    EXPECT_EQ(VerifyUpdate(o.output, vo, ve), kExitOk) << ve.str();
}

}  // namespace
