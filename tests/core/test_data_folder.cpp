// The data folder at start: what the start leaves private, which work files
// it removes, and that backups and restores never carry the plain work pages.
#include "core/AppState.h"
#include "core/Backup.h"
#include "core/DataFolder.h"
#include "core/Password.h"
#include "support/VostrelTest.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace vostrel::test {
namespace {

namespace fs = std::filesystem;

// The permission bits of path itself (links not followed).
unsigned ModeOf(const fs::path &path)
{
    struct stat st;
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

class DataFolderTest : public VostrelTest
{
protected:
    fs::path Work() const { return DataFolder() / "work"; }

    // Pages with a recipient's values, and what the work folder holds besides.
    void WriteWorkFiles()
    {
        for (const char *page : kPages)
            WriteBytes(Work() / page, "<p>山田様</p>");
        for (const char *kept : kKept)
            WriteBytes(Work() / kept, "kept");
    }

    static constexpr const char *kPages[] = {"History_work.html", "Preview_work.html",
                                             ".History_work.html.tmp-a1B2c3", "Other_work.html"};
    static constexpr const char *kKept[] = {"HtmlImage/image240305_12345678.png",
                                            "HtmlImage/x_work.html", "AppendedImage/表.xlsx",
                                            "notes.txt"};
};

TEST_F(DataFolderTest, OnlyTheWorkPagesAndTheirTemporaryFilesArePlainWorkFiles)
{
    for (const char *page : kPages)
        EXPECT_TRUE(IsPlainWorkFile(page)) << page;
    for (const char *name : {"_work.html", "work.html", "History_work.htm", "History_work.html.bak",
                             ".tmp-abc", ".a.vsl.tmp-abcdef", "notes.txt"})
        EXPECT_FALSE(IsPlainWorkFile(name)) << name;
}

// No draft is kept at the start: copies of attachments and pictures left by
// a crash, a kill or a restore go too, so that none of them can ever be sent
// under the name of a file attached later. What they point to stays.
TEST_F(DataFolderTest, TheStartRemovesTheWorkPagesAndTheLeftoverDraftCopies)
{
    WriteWorkFiles();
    fs::create_directories(Work() / "AppendedImage" / "folder");
    WriteBytes(Work() / "AppendedImage" / "folder" / "inner.txt", "old");
    WriteBytes(Work() / "AppendedImage" / ".見積書.pdf.a1B2c3", "half a copy");
    WriteBytes(TempDir() / "elsewhere.pdf", "not ours");
    fs::create_symlink(TempDir() / "elsewhere.pdf", Work() / "HtmlImage" / "link.pdf");
    PrepareDataFolder(DataFolder()); // preparing alone keeps a kept draft's copies
    EXPECT_EQ(ReadBytes(Work() / "AppendedImage" / "表.xlsx"), "kept");

    OpenDataFolder(DataFolder());
    for (const char *page : kPages)
        EXPECT_FALSE(fs::exists(Work() / page)) << page;
    for (const char *folder : {"AppendedImage", "HtmlImage"}) {
        EXPECT_TRUE(fs::is_empty(Work() / folder)) << folder;
        EXPECT_EQ(ModeOf(Work() / folder), 0700u) << folder;
    }
    EXPECT_EQ(ReadBytes(Work() / "notes.txt"), "kept");
    EXPECT_EQ(ReadBytes(TempDir() / "elsewhere.pdf"), "not ours");
}

TEST_F(DataFolderTest, BackupsAndRestoresLeaveTheWorkPagesOut)
{
    WriteConfig(std::string(DefaultKey));
    WriteWorkFiles();
    const fs::path backup = MakeBackup(TempDir());
    for (const char *page : kPages)
        EXPECT_FALSE(fs::exists(backup / "work" / page)) << page;
    for (const char *kept : kKept)
        EXPECT_EQ(ReadBytes(backup / "work" / kept), "kept") << kept;

    // A backup that holds them (made by hand, or by an older program) does
    // not bring them back.
    for (const char *page : kPages)
        WriteBytes(backup / "work" / page, "<p>old</p>");
    fs::remove_all(Work());
    fs::create_directories(Work());
    RestoreBackup(backup, std::string(DefaultKey));
    for (const char *page : kPages)
        EXPECT_FALSE(fs::exists(Work() / page)) << page;
    for (const char *kept : kKept)
        EXPECT_EQ(ReadBytes(Work() / kept), "kept") << kept;
}

TEST_F(DataFolderTest, TheStartSetsWiderModesBackAndFollowsNoLink)
{
    const fs::path data = DataFolder();
    fs::create_directories(data / "Logs" / "a" / "pictures");
    WriteBytes(data / "Senders" / "a.vsl", "a");
    WriteBytes(data / "Logs" / "a" / "pictures" / "p.png", "png");
    const fs::path outside = TempDir() / "outside.txt";
    WriteBytes(outside, "outside");
    fs::create_symlink(outside, data / "link");
    const std::pair<fs::path, unsigned> wide[] = {
        {data, 0755},
        {data / "Logs", 0775},
        {data / "Logs" / "a" / "pictures", 0777},
        {data / "Senders" / "a.vsl", 0644},
        {data / "Logs" / "a" / "pictures" / "p.png", 0666},
        {data / "Signature" / "sig01.dat", 0640},
        {outside, 0644},
    };
    for (const auto &[path, mode] : wide)
        ::chmod(path.c_str(), mode);
    ::chmod((data / "Receivers").c_str(), 0500); // narrower: left as it is

    OpenDataFolder(data);

    for (const auto &[path, mode] : wide) {
        if (path == outside)
            EXPECT_EQ(ModeOf(path), 0644u) << path;
        else
            EXPECT_EQ(ModeOf(path), fs::is_directory(path) ? 0700u : 0600u) << path;
    }
    EXPECT_EQ(ModeOf(data / "Receivers"), 0500u);
    ::chmod((data / "Receivers").c_str(), 0700);
}

TEST_F(DataFolderTest, BackedUpAndRestoredRecordsArePrivate)
{
    WriteConfig(std::string(DefaultKey));
    WriteBytes(DataFolder() / "Senders" / "a.vsl", "a");
    ::chmod((DataFolder() / "Senders" / "a.vsl").c_str(), 0644);
    const fs::path backup = MakeBackup(TempDir());
    RestoreBackup(backup, std::string(DefaultKey));
    for (const fs::path &root : {backup, DataFolder() / "Senders", DataFolder() / "Signature"})
        for (const auto &entry : fs::recursive_directory_iterator(root))
            EXPECT_EQ(ModeOf(entry.path()), entry.is_directory() ? 0700u : 0600u) << entry.path();
    EXPECT_EQ(ModeOf(DataFolder() / "config.dat"), 0600u);
    EXPECT_EQ(ModeOf(DataFolder() / "Senders"), 0700u);
}

} // namespace
} // namespace vostrel::test
