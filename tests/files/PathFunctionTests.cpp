// The run time's path functions and GetFileFolder, which is built on them: joining, splitting,
// and what happens at the edges of the buffers.
#include <windows.h>

#include <stdlib.h>

#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "DownloadFolder.h"
#include "Utf16Text.h"

using sorvane_test::Utf8;

namespace {

const std::u16string kMarker = u"<unset>";

std::u16string Repeat(char16_t c, size_t n)
{
    return std::u16string(n, c);
}

struct MakePathCase {
    const char* what;
    const char16_t* drive;
    const char16_t* dir;
    const char16_t* fname;
    const char16_t* ext;
    size_t size;
    errno_t result;
    std::u16string expected;
};

TEST(FilesMakePath, JoinsAsTheRunTimeDoes)
{
    const MakePathCase cases[] = {
        {"drive letter alone gets a colon", u"C", u"\\A\\", u"f", nullptr, 260, 0, u"C:\\A\\f"},
        {"only the drive's first character counts", u"C:", u"A", u"f", nullptr, 260, 0, u"C:A\\f"},
        {"empty drive adds nothing", u"", u"/home/u", u"f", nullptr, 260, 0, u"/home/u\\f"},
        {"a folder ending in a backslash gets no second one", nullptr, u"D\\", u"x\\y.exe", nullptr, 260, 0,
         u"D\\x\\y.exe"},
        {"a folder ending in a slash gets no backslash", nullptr, u"/home/u/", u"f", nullptr, 260, 0, u"/home/u/f"},
        {"an empty file name leaves the separator", nullptr, u"D", u"", nullptr, 260, 0, u"D\\"},
        {"no folder: the file name alone", nullptr, nullptr, u"f", nullptr, 260, 0, u"f"},
        {"an extension gets its dot", nullptr, nullptr, u"f", u"exe", 260, 0, u"f.exe"},
        {"an extension with a dot keeps it", nullptr, nullptr, u"f", u".exe", 260, 0, u"f.exe"},
        {"exactly fits with its terminator", nullptr, u"D", u"abc", nullptr, 6, 0, u"D\\abc"},
        {"one character too long: empty output", nullptr, u"D", u"abcd", nullptr, 6, ERANGE, u""},
    };
    for (const MakePathCase& c : cases) {
        std::u16string out = kMarker + Repeat(u'#', 300);
        EXPECT_EQ(_wmakepath_s(out.data(), c.size, c.drive, c.dir, c.fname, c.ext), c.result) << c.what;
        EXPECT_EQ(Utf8(out.c_str()), Utf8(c.expected)) << c.what;
    }
}

TEST(FilesMakePath, RejectsAMissingOutput)
{
    EXPECT_EQ(_wmakepath_s(nullptr, 10, nullptr, u"D", u"f", nullptr), EINVAL);
    char16_t out[4] = u"abc";
    EXPECT_EQ(_wmakepath_s(out, 0, nullptr, u"D", u"f", nullptr), EINVAL);
    EXPECT_EQ(Utf8(out), "abc");
}

struct SplitPathCase {
    const char* what;
    std::u16string path;
    errno_t result;
    std::u16string drive, dir, fname, ext;
};

TEST(FilesSplitPath, SplitsAsTheRunTimeDoes)
{
    const std::u16string dir255 = u"\\" + Repeat(u'd', 253) + u"\\";
    const std::u16string dir256 = u"\\" + Repeat(u'd', 254) + u"\\";
    const SplitPathCase cases[] = {
        {"drive, folders, name, extension", u"C:\\A\\B\\Setup.exe", 0, u"C:", u"\\A\\B\\", u"Setup", u".exe"},
        {"server path: no drive", u"\\\\server\\share\\Setup.exe", 0, u"", u"\\\\server\\share\\", u"Setup",
         u".exe"},
        {"bare file name", u"Setup.exe", 0, u"", u"", u"Setup", u".exe"},
        {"drive and file, no separator", u"C:Setup.exe", 0, u"C:", u"", u"Setup", u".exe"},
        {"slashes separate too", u"/home/u/Downloads/a.b.c", 0, u"", u"/home/u/Downloads/", u"a.b", u".c"},
        {"mixed separators: the last one counts", u"/home/u/Downloads\\Web\\Setup", 0, u"",
         u"/home/u/Downloads\\Web\\", u"Setup", u""},
        {"a dot in a folder is no extension", u"\\a.d\\file", 0, u"", u"\\a.d\\", u"file", u""},
        {"a folder part of 255 characters fits", dir255 + u"f", 0, u"", dir255, u"f", u""},
        {"a folder part of 256 characters: every part emptied", u"C:" + dir256 + u"f.txt", ERANGE, u"", u"", u"",
         u""},
    };
    for (const SplitPathCase& c : cases) {
        std::u16string drive = kMarker, dir = kMarker + Repeat(u'#', 300), fname = kMarker + Repeat(u'#', 300),
                       ext = kMarker + Repeat(u'#', 300);
        EXPECT_EQ(_wsplitpath_s(c.path.c_str(), drive.data(), _MAX_DRIVE, dir.data(), _MAX_DIR, fname.data(),
                                _MAX_FNAME, ext.data(), _MAX_EXT),
                  c.result)
            << c.what;
        EXPECT_EQ(Utf8(drive.c_str()), Utf8(c.drive)) << c.what;
        EXPECT_EQ(Utf8(dir.c_str()), Utf8(c.dir)) << c.what;
        EXPECT_EQ(Utf8(fname.c_str()), Utf8(c.fname)) << c.what;
        EXPECT_EQ(Utf8(ext.c_str()), Utf8(c.ext)) << c.what;
    }
}

TEST(FilesSplitPath, PartsNotAskedForAreLeftAlone)
{
    char16_t dir[_MAX_DIR];
    EXPECT_EQ(_wsplitpath_s(u"C:\\A\\f.txt", nullptr, 0, dir, _MAX_DIR, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(Utf8(dir), "\\A\\");
    // A buffer without a size, or a size without a buffer, is a caller's error.
    EXPECT_EQ(_wsplitpath_s(u"C:\\A\\f.txt", nullptr, 3, dir, _MAX_DIR, nullptr, 0, nullptr, 0), EINVAL);
    EXPECT_EQ(_wsplitpath_s(u"C:\\A\\f.txt", dir, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
    EXPECT_EQ(_wsplitpath_s(nullptr, nullptr, 0, dir, _MAX_DIR, nullptr, 0, nullptr, 0), EINVAL);
}

struct FileFolderCase {
    const char* what;
    std::u16string path;
    bool result;
    std::u16string expected; // the marker: the output was not written
};

TEST(FilesGetFileFolder, TakesTheDriveAndFolderPart)
{
    const std::u16string folder254 = u"\\" + Repeat(u'd', 252) + u"\\";
    const std::u16string folder255 = u"\\" + Repeat(u'd', 253) + u"\\";
    const std::u16string folder256 = u"\\" + Repeat(u'd', 254) + u"\\";
    const FileFolderCase cases[] = {
        {"drive and folders", u"C:\\A\\B\\Setup.exe", true, u"C:\\A\\B\\"},
        {"server path: the folder part without a drive", u"\\\\server\\share\\Web\\Setup.exe", true,
         u"\\\\server\\share\\Web\\"},
        {"bare file name: empty", u"Setup.exe", true, u""},
        {"drive and file name: the drive alone", u"C:Setup.exe", true, u"C:"},
        {"a Linux download folder joined with a Windows relative path",
         u"/home/u/Downloads\\Lorvas Kaldo 2018 Novembris Web\\Setup.exe", true,
         u"/home/u/Downloads\\Lorvas Kaldo 2018 Novembris Web\\"},
        {"a folder part of 255 characters fits", folder255 + u"Setup.exe", true, folder255},
        {"a folder part of 256 characters: output untouched", folder256 + u"Setup.exe", false, kMarker},
        {"split fits, but drive and folder together do not: empty output", u"C:" + folder254 + u"f", false, u""},
    };
    for (const FileFolderCase& c : cases) {
        std::u16string out = kMarker + Repeat(u'#', 256);
        out[kMarker.size()] = 0;
        EXPECT_EQ(GetFileFolder(c.path.c_str(), out.data()), c.result) << c.what;
        EXPECT_EQ(Utf8(out.c_str()), Utf8(c.expected)) << c.what;
    }
}

TEST(FilesGetFileFolder, MissingArgumentsFail)
{
    std::u16string out = kMarker;
    EXPECT_FALSE(GetFileFolder(nullptr, out.data()));
    EXPECT_EQ(Utf8(out), Utf8(kMarker));
    EXPECT_FALSE(GetFileFolder(u"C:\\A\\f", nullptr));
}

} // namespace
