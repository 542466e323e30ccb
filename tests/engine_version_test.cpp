// The engine version check over real files. The same cases run natively, where our PE reader
// stands in for the version services, and under Wine, where version.dll answers: both readers
// must give the same version for every file. Everywhere, the portable reader (ReadPeFileVersion)
// is checked on the same files as well.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "launcher.h"
#include "payload_format.h"
#include "pe_version.h"
#include "test_support.h"

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

void PrintTo(const EngineVersion& v, std::ostream* out) {
    *out << v.major << '.' << v.minor << '.' << v.third << '.' << v.fourth;
}

namespace {

const fs::path ENGINES = IVENGINE_DIR;
const fs::path SAMPLES = IVENGINE_SAMPLE_DIR;

constexpr EngineVersion V(std::uint16_t a, std::uint16_t b, std::uint16_t c, std::uint16_t d) {
    return EngineVersion{a, b, c, d};
}

constexpr EngineVersion NONE{};

fs::path Engine(const std::string& variant) {
    return ENGINES / variant / "IVENGINE.DLL";
}

// ReadFileVersion, and the portable reader on the same file, which must agree with it.
EngineVersion ReadBoth(const fs::path& path) {
    const EngineVersion version = ReadFileVersion(path.string().c_str());
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
    EngineVersion portable;
    if (ReadPeFileVersion(path.string().c_str(), ms, ls)) {
        portable = V(static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                     static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls));
    }
    EXPECT_EQ(portable, version) << "the portable reader disagrees on " << path.string();
    return version;
}

TEST(CompareVersions, OrdersPartByPartAsUnsignedWithoutCarry) {
    struct Case {
        EngineVersion a;
        EngineVersion b;
        int expected;
    };
    const Case cases[] = {
        {V(3, 2, 0, 0), V(3, 2, 0, 0), 0},
        {V(3, 2, 0, 1), V(3, 2, 0, 0), 1},
        {V(3, 2, 0, 0), V(3, 1, 65535, 65535), 1},
        {V(3, 2, 0, 0), V(3, 3, 0, 0), -1},
        {V(3, 2, 0, 0), V(4, 0, 0, 0), -1},
        {V(3, 2, 0, 0), NONE, 1},
        {NONE, NONE, 0},
        {V(32768, 0, 0, 0), V(32767, 65535, 65535, 65535), 1},
        {V(1, 0, 0, 0), V(0, 65535, 65535, 65535), 1},
        {V(0, 0, 0, 65535), V(0, 0, 0, 32768), 1},
        {V(0, 0, 65535, 0), V(0, 0, 1, 65535), 1},
        {V(65535, 65535, 65535, 65535), V(65535, 65535, 65535, 65534), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.a) + " against " + testing::PrintToString(c.b));
        EXPECT_EQ(CompareVersions(c.a, c.b), c.expected);
        EXPECT_EQ(CompareVersions(c.b, c.a), -c.expected);
    }
}

TEST(ReadFileVersion, GivesTheFileVersionOfBuiltLibraries) {
    struct Case {
        fs::path path;
        EngineVersion expected;
    };
    const Case cases[] = {
        {Engine("default"), V(3, 2, 0, 0)},
        {Engine("v3.2.0.1"), V(3, 2, 0, 1)},
        {Engine("v3.1.65535.65535"), V(3, 1, 65535, 65535)},
        {Engine("v3.3.0.0"), V(3, 3, 0, 0)},
        {Engine("v4.0.0.0"), V(4, 0, 0, 0)},
        {Engine("v32768.0.0.0"), V(32768, 0, 0, 0)},
        {Engine("v32767.65535.65535.65535"), V(32767, 65535, 65535, 65535)},
        // The product version plays no part.
        {Engine("product-newer"), V(3, 2, 0, 0)},
        {Engine("product-newer-file-older"), V(3, 1, 0, 0)},
        {Engine("only-runilvarccode"), V(3, 2, 0, 0)},
        {Engine("no-entries"), V(3, 2, 0, 0)},
        {SAMPLES / "i686-w64-mingw32" / "versioned.dll", V(7, 6, 5, 4)},
        {SAMPLES / "x86_64-w64-mingw32" / "versioned.dll", V(7, 6, 5, 4)},
        {SAMPLES / "i686-w64-mingw32" / "no-version.dll", NONE},
        {SAMPLES / "x86_64-w64-mingw32" / "no-version.dll", NONE},
        // English (US) is taken although German comes first.
        {SAMPLES / "i686-w64-mingw32" / "two-languages.dll", V(2, 2, 2, 2)},
        {SAMPLES / "x86_64-w64-mingw32" / "two-languages.dll", V(2, 2, 2, 2)},
        // Only the resource named 1 counts.
        {SAMPLES / "i686-w64-mingw32" / "name-2.dll", NONE},
        {SAMPLES / "x86_64-w64-mingw32" / "name-2.dll", NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        ASSERT_TRUE(fs::exists(c.path));
        EXPECT_EQ(ReadBoth(c.path), c.expected);
    }
}

TEST(ReadFileVersion, GivesZeroWithoutVersionInformation) {
    ScratchDir dir;
    const std::string text = "not a library\r\n";
    WriteFileBytes(dir / "IVENGINE.DLL", Bytes(text.begin(), text.end()));
    WriteFileBytes(dir / "EMPTY.DLL", {});
    fs::create_directory(dir / "FOLDER.DLL");
    for (const char* name : {"IVENGINE.DLL", "EMPTY.DLL", "MISSING.DLL", "FOLDER.DLL"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ReadBoth(dir / name), NONE);
    }
}

// Offsets inside the default engine that the damaged copies below aim at.
struct Layout {
    std::size_t peOffset = 0;
    std::size_t optionalOffset = 0;
    std::size_t sectionTable = 0;
    std::size_t resourceDirectoryEntry = 0;  // data directory 2 in the optional header
    std::size_t resourceOffset = 0;          // the VS_VERSIONINFO block
};

Layout LayoutOf(const Bytes& image) {
    Layout layout;
    layout.peOffset = Read32le(&image[0x3C]);
    layout.optionalOffset = layout.peOffset + 24;
    layout.sectionTable = layout.optionalOffset + Read16le(&image[layout.peOffset + 20]);
    const bool plus = Read16le(&image[layout.optionalOffset]) == 0x20B;
    layout.resourceDirectoryEntry = layout.optionalOffset + (plus ? 112 : 96) + 2 * 8;
    std::size_t length = 0;
    EXPECT_TRUE(FindPeVersionResource(image.data(), image.size(), layout.resourceOffset, length));
    return layout;
}

TEST(ReadFileVersion, GivesZeroForTruncatedLibraries) {
    const Bytes image = ReadFileBytes(Engine("default"));
    const Layout layout = LayoutOf(image);
    const std::size_t cuts[] = {
        1,
        0x3C,
        64,
        layout.peOffset + 2,
        layout.optionalOffset + 10,
        layout.sectionTable + 20,
        layout.resourceOffset,
        layout.resourceOffset + 20,
        layout.resourceOffset + 40 + 10,
    };
    ScratchDir dir;
    for (std::size_t cut : cuts) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        const fs::path path = dir / ("cut-" + std::to_string(cut) + ".dll");
        WriteFileBytes(path, Bytes(image.begin(), image.begin() + static_cast<long>(cut)));
        EXPECT_EQ(ReadBoth(path), NONE);
    }
}

TEST(ReadFileVersion, GivesZeroForDamagedHeaders) {
    const Bytes image = ReadFileBytes(Engine("default"));
    const Layout layout = LayoutOf(image);
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
        int width;
    };
    const Case cases[] = {
        {"no MZ", 0, 0x5A4E, 2},
        {"PE header beyond the end", 0x3C, 0xFFFFFFF0u, 4},
        {"PE header at the last bytes", 0x3C, static_cast<std::uint32_t>(image.size() - 2), 4},
        {"no PE signature", layout.peOffset, 0x00004551, 4},
        {"unknown optional header", layout.optionalOffset, 0x010C, 2},
        {"optional header too large", layout.peOffset + 20, 0xFFFF, 2},
        {"no sections", layout.peOffset + 6, 0, 2},
        {"resources outside every section", layout.resourceDirectoryEntry, 0x7FFFFFF0u, 4},
        {"no resources", layout.resourceDirectoryEntry, 0, 4},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = image;
        if (c.width == 2) {
            Write16le(&damaged[c.offset], static_cast<std::uint16_t>(c.value));
        } else {
            Write32le(&damaged[c.offset], c.value);
        }
        const fs::path path = dir / "damaged.dll";
        WriteFileBytes(path, damaged);
        EXPECT_EQ(ReadBoth(path), NONE);
    }
}

// What the version services make of damage inside the version resource itself.
TEST(ReadFileVersion, FollowsTheVersionServicesOnDamagedVersionBlocks) {
    const Bytes image = ReadFileBytes(Engine("default"));
    const Layout layout = LayoutOf(image);
    struct Case {
        const char* what;
        std::size_t offset;  // inside the VS_VERSIONINFO block
        std::uint32_t value;
        int width;
        EngineVersion expected;
    };
    const Case cases[] = {
        {"fixed record signature", 40, 0x12345678, 4, V(3, 2, 0, 0)},
        {"no value length", 2, 0, 2, V(3, 2, 0, 0)},
        {"other key", 6, 'X', 2, V(3, 2, 0, 0)},
        {"block length 0", 0, 0, 2, V(3, 2, 0, 0)},
        // The value follows the key wherever it ends: a key cut to "VS" puts it at offset 12,
        // inside the rest of the old key's UTF-16 text ("IO", "N_").
        {"short key", 10, 0, 2, V('O', 'I', '_', 'N')},
    };
    ScratchDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes damaged = image;
        if (c.width == 2) {
            Write16le(&damaged[layout.resourceOffset + c.offset],
                      static_cast<std::uint16_t>(c.value));
        } else {
            Write32le(&damaged[layout.resourceOffset + c.offset], c.value);
        }
        const fs::path path = dir / "damaged.dll";
        WriteFileBytes(path, damaged);
        EXPECT_EQ(ReadBoth(path), c.expected);
    }
}

TEST(EngineVersionCheck, InstallsOnlyWhenTheEmbeddedEngineIsStrictlyNewer) {
    struct Case {
        EngineVersion embedded;
        const char* installed;  // a variant, "missing" or "text"
        bool install;
    };
    const Case cases[] = {
        {V(3, 2, 0, 0), "default", false},
        {V(3, 2, 0, 1), "default", true},
        {V(3, 2, 0, 0), "v3.1.65535.65535", true},
        {V(3, 2, 0, 0), "v3.3.0.0", false},
        {V(3, 2, 0, 0), "v4.0.0.0", false},
        {V(3, 2, 0, 0), "v3.2.0.1", false},
        {V(3, 2, 0, 0), "missing", true},
        {V(3, 2, 0, 0), "text", true},
        {NONE, "missing", false},
        {V(32768, 0, 0, 0), "v32767.65535.65535.65535", true},
        {V(32767, 65535, 65535, 65535), "v32768.0.0.0", false},
        {V(3, 2, 0, 0), "product-newer", false},
        {V(3, 2, 0, 0), "product-newer-file-older", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.embedded) + " against " + c.installed);
        ScratchDir systemDir;
        const fs::path installed = systemDir / "IVENGINE.DLL";
        const std::string kind = c.installed;
        if (kind == "text") {
            WriteFileBytes(installed, {'t', 'e', 'x', 't'});
        } else if (kind != "missing") {
            fs::copy_file(Engine(kind), installed);
        }
        const EngineVersion version = ReadFileVersion(installed.string().c_str());
        EXPECT_EQ(CompareVersions(c.embedded, version) > 0, c.install);
    }
}

}  // namespace
