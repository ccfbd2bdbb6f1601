// The program's resources: the embedded picture's encoding and, in the
// Windows build, the icon group, manifest and version resource linked into
// kestrin.exe, and the release executable's sections and size.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "resources/picture.h"

#ifdef _WIN32
#include "core/win32.h"
#include "version.h"
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
std::string exe_path() {
    std::string path = KESTRIN_EXE;
    if (path[0] == '/') path = "Z:" + path; // Wine's view of the Unix file system
    return path;
}

struct Executable {
    HMODULE module;
    Executable() { module = LoadLibraryExA(exe_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
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

// A string of the version resource's first translation; empty when absent.
std::string version_string(const std::vector<char>& info, const char* name) {
    struct Translation {
        WORD language, code_page;
    }* t = nullptr;
    UINT size = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t),
                        &size) ||
        size < sizeof *t)
        return {};
    char key[128];
    std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", t->language, t->code_page,
                  name);
    char* value = nullptr;
    if (!VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&value), &size) || !size)
        return {};
    return value;
}

TEST(ProgramResources, VersionResourceSaysWhatTheProgramIs) {
    const std::string path = exe_path();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_GE(length, sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(KESTRIN_VERSION_MAJOR << 16 | KESTRIN_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(KESTRIN_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_APP));

    EXPECT_EQ(version_string(info, "ProductName"), "Kestrin");
    EXPECT_EQ(version_string(info, "FileVersion"), KESTRIN_VERSION_TEXT);
    EXPECT_EQ(version_string(info, "OriginalFilename"), "kestrin.exe");
    EXPECT_EQ(version_string(info, "LegalCopyright"), "Copyright (c) 2026 The Kestrin developers");
    EXPECT_NE(version_string(info, "FileDescription"), "");
    EXPECT_NE(version_string(info, "Comments").find("METEOR-M2 2"), std::string::npos);
}

// The section names of a PE image, long names resolved through the COFF
// string table; empty when the image is malformed.
std::vector<std::string> section_names(const std::string& image) {
    auto u16 = [&](size_t at) {
        return unsigned(uint8_t(image[at])) | uint8_t(image[at + 1]) << 8;
    };
    auto u32 = [&](size_t at) { return uint32_t(u16(at)) | uint32_t(u16(at + 2)) << 16; };
    if (image.size() < 0x40) return {};
    const size_t pe = u32(0x3C);
    if (pe > image.size() || image.size() - pe < 24 || image.compare(pe, 4, "PE\0\0", 4) != 0)
        return {};
    const size_t count = u16(pe + 6);
    const size_t strings = size_t(u32(pe + 12)) + size_t(u32(pe + 16)) * 18;
    const size_t first = pe + 24 + u16(pe + 20);
    if (first + count * 40 > image.size()) return {};
    std::vector<std::string> names;
    for (size_t i = 0; i < count; i++) {
        std::string name(image.data() + first + i * 40, 8);
        name.resize(std::strlen(name.c_str()));
        if (!name.empty() && name[0] == '/') { // "/offset" into the string table
            const size_t at = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
            if (at >= image.size()) return {};
            name = image.c_str() + at;
        }
        names.push_back(name);
    }
    return names;
}

TEST(ReleaseExecutable, CarriesNoDebugSectionsAndStaysUnder400KB) {
    if (!KESTRIN_RELEASE) GTEST_SKIP() << "only a release build is stripped";
    std::ifstream file(exe_path(), std::ios::binary);
    ASSERT_TRUE(file);
    const std::string image{std::istreambuf_iterator<char>(file), {}};
    EXPECT_LT(image.size(), 400u * 1024);
    const std::vector<std::string> names = section_names(image);
    EXPECT_NE(std::find(names.begin(), names.end(), ".text"), names.end()) << "not read as PE";
    for (const std::string& name : names)
        EXPECT_FALSE(name.starts_with(".debug")) << name;
}
#endif

} // namespace
