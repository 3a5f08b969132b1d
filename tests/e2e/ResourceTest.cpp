// The built executable's resources, read from the file as the shell reads them.
#include "tests/e2e/E2eSupport.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

class Resources : public ::testing::Test {
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(UpdaterImagePath().c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << UpdaterImagePath();
    }
    void TearDown() override
    {
        if (module)
            FreeLibrary(module);
    }
    std::string Resource(LPCSTR type, LPCSTR name)
    {
        HRSRC found = FindResourceA(module, name, type);
        if (!found)
            return "";
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }
    HMODULE module = nullptr;
};

TEST_F(Resources, IconGroupHoldsFourSizesWithThe256AsPng)
{
    std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEA(101));
    ASSERT_EQ(group.size(), 6u + 4 * sizeof(GroupIconEntry));
    const GroupIconEntry* entries = reinterpret_cast<const GroupIconEntry*>(group.data() + 6);
    const int sizes[] = {256, 48, 32, 16};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(entries[i].width, sizes[i] % 256);
        EXPECT_EQ(entries[i].height, sizes[i] % 256);
        std::string image = Resource(RT_ICON, MAKEINTRESOURCEA(entries[i].id));
        ASSERT_EQ(image.size(), entries[i].bytes);
        if (sizes[i] == 256) {
            EXPECT_EQ(image.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
        } else {
            BITMAPINFOHEADER header;
            ASSERT_GE(image.size(), sizeof header);
            std::memcpy(&header, image.data(), sizeof header);
            EXPECT_EQ(header.biWidth, sizes[i]);
            EXPECT_EQ(header.biHeight, 2 * sizes[i]) << "colour rows and mask rows";
        }
    }
}

TEST_F(Resources, FileVersionIs1000)
{
    std::string version = Resource(RT_VERSION, MAKEINTRESOURCEA(1));
    ASSERT_FALSE(version.empty());
    UINT length = 0;
    VS_FIXEDFILEINFO* info = nullptr;
    ASSERT_TRUE(VerQueryValueA(version.data(), "\\", reinterpret_cast<void**>(&info), &length));
    EXPECT_EQ(info->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(info->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(info->dwFileVersionLS, 0x00000000u);
}

TEST_F(Resources, ManifestAsksForAdministratorAndNamesVistaToTen)
{
    std::string manifest = Resource(MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
    const char* systems[] = {
        "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
        "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
        "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
        "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10
    };
    for (const char* id : systems)
        EXPECT_NE(manifest.find(std::string("<supportedOS Id=\"") + id + "\"/>"), std::string::npos) << id;
}

TEST_F(Resources, DialogTemplate102Is260Bytes)
{
    EXPECT_EQ(Resource(RT_DIALOG, MAKEINTRESOURCEA(102)).size(), 260u);
}

}  // namespace
