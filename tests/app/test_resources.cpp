#include <gtest/gtest.h>

#include <windows.h>

#include <set>
#include <string>

// Reads the resources of the built Nelvo.exe (one folder above the test executables).
struct ProgramResources : ::testing::Test {
    HMODULE exe = nullptr;
    void SetUp() override {
        wchar_t path[MAX_PATH];
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring p = path;
        p = p.substr(0, p.rfind(L'\\'));
        p = p.substr(0, p.rfind(L'\\')) + L"\\Nelvo.exe";
        exe = LoadLibraryExW(p.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(exe, nullptr) << "Nelvo.exe not found beside the tests folder";
    }
    void TearDown() override {
        if (exe) FreeLibrary(exe);
    }
    std::string resource(LPCWSTR type, LPCWSTR name) {
        HRSRC r = FindResourceW(exe, name, type);
        if (!r) return std::string();
        const char* data = (const char*)LockResource(LoadResource(exe, r));
        return std::string(data, SizeofResource(exe, r));
    }
};

TEST_F(ProgramResources, IconHasEverySize) {
#pragma pack(push, 2)
    struct GroupEntry {
        BYTE width, height, colors, reserved;
        WORD planes, bit_count;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)
    std::string group = resource(RT_GROUP_ICON, MAKEINTRESOURCEW(1));
    ASSERT_GE(group.size(), 6u);
    WORD count = *(const WORD*)(group.data() + 4);
    ASSERT_EQ(group.size(), 6 + count * sizeof(GroupEntry));
    std::set<int> sizes;
    for (int i = 0; i < count; i++) {
        const GroupEntry* e = (const GroupEntry*)(group.data() + 6 + i * sizeof(GroupEntry));
        sizes.insert(e->width ? e->width : 256);
        EXPECT_EQ(e->bit_count, 32);
        EXPECT_FALSE(resource(RT_ICON, MAKEINTRESOURCEW(e->id)).empty());
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 256}));
    EXPECT_NE(LoadImageW(exe, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0), nullptr);
}

TEST_F(ProgramResources, ManifestAndVersion) {
    std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    EXPECT_NE(manifest.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);

    std::string version = resource(RT_VERSION, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(version.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", (void**)&fixed, &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(4, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 3));
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\StringFileInfo\\041F04B0\\ProductName", (void**)&product, &length));
    EXPECT_STREQ(product, L"NELVO");
}
