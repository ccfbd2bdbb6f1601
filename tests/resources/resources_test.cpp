// The program's resources: the embedded picture's encoding and, in the
// Windows build, the icon group and manifest linked into kestrin.exe.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "resources/picture.h"

#ifdef _WIN32
#include "core/win32.h"
#endif

namespace {

// The segment of marker `code` (from its length field on), or null.
const unsigned char* segment(unsigned char code) {
    for (size_t i = 2; i + 4 <= kestrin_picture_size;) {
        if (kestrin_picture[i] != 0xFF) return nullptr;
        unsigned char m = kestrin_picture[i + 1];
        size_t length = size_t(kestrin_picture[i + 2]) << 8 | kestrin_picture[i + 3];
        if (m == code) return kestrin_picture + i + 2;
        if (m == 0xDA) return nullptr; // scan data follows
        i += 2 + length;
    }
    return nullptr;
}

TEST(WindowPicture, IsABaselineYCbCr420JpegOf330By100) {
    ASSERT_GT(kestrin_picture_size, 1000u);
    EXPECT_EQ(kestrin_picture[0], 0xFF);
    EXPECT_EQ(kestrin_picture[1], 0xD8);
    EXPECT_EQ(kestrin_picture[kestrin_picture_size - 2], 0xFF);
    EXPECT_EQ(kestrin_picture[kestrin_picture_size - 1], 0xD9);
    const unsigned char* sof = segment(0xC0); // baseline frame
    ASSERT_NE(sof, nullptr);
    EXPECT_EQ(sof[2], 8);                 // precision
    EXPECT_EQ(sof[3] << 8 | sof[4], 100); // height
    EXPECT_EQ(sof[5] << 8 | sof[6], 330); // width
    ASSERT_EQ(sof[7], 3);                 // components
    EXPECT_EQ(sof[9], 0x22);              // Y sampled 2 x 2
    EXPECT_EQ(sof[12], 0x11);             // Cb 1 x 1
    EXPECT_EQ(sof[15], 0x11);             // Cr 1 x 1
    EXPECT_EQ(segment(0xC2), nullptr);    // not progressive
    const unsigned char* app0 = segment(0xE0);
    ASSERT_NE(app0, nullptr);
    EXPECT_EQ(std::memcmp(app0 + 2, "JFIF", 5), 0);
}

#ifdef _WIN32
struct Executable {
    HMODULE module;
    Executable() {
        std::string path = KESTRIN_EXE;
        if (path[0] == '/') path = "Z:" + path; // Wine's view of the Unix file system
        module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    ~Executable() {
        if (module) FreeLibrary(module);
    }
    std::string resource(LPCSTR type, int id) const {
        HRSRC r = FindResourceA(module, MAKEINTRESOURCEA(id), type);
        if (!r) return {};
        HGLOBAL g = LoadResource(module, r);
        auto* p = static_cast<const char*>(LockResource(g));
        return p ? std::string(p, SizeofResource(module, r)) : std::string();
    }
};

TEST(ProgramResources, IconGroupOneHoldsIconsThatLoad) {
    Executable exe;
    ASSERT_NE(exe.module, nullptr);
    std::string group = exe.resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), 6u + 14u);
    EXPECT_EQ(group[2], 1); // type: icon
    int count = static_cast<unsigned char>(group[4]);
    EXPECT_GE(count, 2);
    for (int i = 0; i < count; i++) {
        const char* entry = group.data() + 6 + 14 * i;
        int id = static_cast<unsigned char>(entry[12]) | static_cast<unsigned char>(entry[13]) << 8;
        std::string image = exe.resource(RT_ICON, id);
        ASSERT_FALSE(image.empty()) << "icon " << id;
        HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(image.data()),
                                              DWORD(image.size()), TRUE, 0x00030000, 0, 0, 0);
        EXPECT_NE(icon, nullptr) << "icon " << id;
        if (icon) DestroyIcon(icon);
    }
}

TEST(ProgramResources, ManifestAsksForCommonControlsSix) {
    Executable exe;
    ASSERT_NE(exe.module, nullptr);
    std::string manifest = exe.resource(RT_MANIFEST, 1);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos)
        << manifest;
}
#endif

} // namespace
