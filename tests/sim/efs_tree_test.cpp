#include "sim/efs_tree.h"

#include <gtest/gtest.h>

namespace firmora::sim {
namespace {

constexpr uint32_t kWriteCreate = 0x241;

TEST(EfsTree, ListingsGiveEachEntryBySequenceNumber) {
    EfsTree tree;
    tree.AddFile("d/b.txt", {1, 2, 3});
    tree.AddFolder("d/a");
    tree.AddFile("d/a/deep.txt", {});
    tree.AddFile("d!/not-inside", {});  // sorts between "d" and "d/..."

    const EfsTree::OpenDirResult opened = tree.OpenDir("/d/");
    ASSERT_EQ(opened.err, kEfsOk);
    EXPECT_EQ(opened.handle, 1u);
    // Removing an entry while listing does not shift the sequence numbers.
    ASSERT_EQ(tree.Unlink("d/b.txt", 0), kEfsOk);

    const auto first = tree.ReadDir(1, 1);
    ASSERT_TRUE(first.entry);
    EXPECT_EQ(first.entry->name, "a");
    EXPECT_TRUE(first.entry->folder);
    EXPECT_EQ(first.entry->stat.mode, kEfsFolderMode);
    const auto second = tree.ReadDir(1, 2);
    ASSERT_TRUE(second.entry);
    EXPECT_EQ(second.entry->name, "b.txt");
    EXPECT_EQ(second.entry->stat.mode, kEfsFileMode);
    EXPECT_EQ(second.entry->stat.size, 3u);
    // Asked again (a retried request), the same entry.
    EXPECT_EQ(tree.ReadDir(1, 1).entry->name, "a");

    const auto end = tree.ReadDir(1, 3);
    EXPECT_EQ(end.err, kEfsOk);
    EXPECT_FALSE(end.entry);
    EXPECT_EQ(tree.ReadDir(1, 0).err, kEfsEINVAL);
    EXPECT_EQ(tree.ReadDir(2, 1).err, kEfsEBADF);

    // A second listing takes the next handle; a closed handle is given out again.
    EXPECT_EQ(tree.OpenDir("").handle, 2u);
    EXPECT_EQ(tree.CloseDir(1), kEfsOk);
    EXPECT_EQ(tree.CloseDir(1), kEfsEBADF);
    EXPECT_EQ(tree.OpenDir("d").handle, 1u);
    EXPECT_EQ(tree.OpenDir("d/a/deep.txt").err, kEfsENOTDIR);
    EXPECT_EQ(tree.OpenDir("missing").err, kEfsENOENT);
}

TEST(EfsTree, FoldersAndTheirErrors) {
    EfsTree tree;
    tree.AddFile("d/sub/f", {7});
    EXPECT_EQ(tree.MakeDir("d", 0x1FF, 0), kEfsEEXIST);
    EXPECT_EQ(tree.MakeDir("x/y", 0x1FF, 0), kEfsENOENT);
    EXPECT_EQ(tree.MakeDir("d/sub/f/g", 0x1FF, 0), kEfsENOTDIR);
    EXPECT_EQ(tree.Stat("d").stat.linkCount, 3u);  // itself, ".", and the ".." of "sub"

    EXPECT_EQ(tree.RemoveDir("d", 0), kEfsENOTEMPTY);
    EXPECT_EQ(tree.RemoveDir("d/sub", 0), kEfsENOTEMPTY);
    EXPECT_EQ(tree.RemoveDir("d/sub/f", 0), kEfsENOTDIR);
    EXPECT_EQ(tree.Unlink("d/sub", 0), kEfsEISDIR);
    EXPECT_EQ(tree.Unlink("d/sub/f", 0), kEfsOk);
    EXPECT_EQ(tree.Unlink("d/sub/f", 0), kEfsENOENT);
    EXPECT_EQ(tree.RemoveDir("d/sub", 0), kEfsOk);
    EXPECT_EQ(tree.RemoveDir("d", 0), kEfsOk);
    EXPECT_EQ(tree.RemoveDir("", 0), kEfsEBUSY);
    EXPECT_TRUE(tree.Names("").empty());
}

TEST(EfsTree, DescriptorsCountFromZeroAndKeepTheirAccess) {
    EfsTree tree;
    tree.AddFile("r.bin", {1, 2, 3, 4});
    const auto reader = tree.Open("r.bin", 0, 0x124, 0);
    const auto writer = tree.Open("w.bin", kWriteCreate, 0x1B6, 5000);
    EXPECT_EQ(reader.fd, 0);
    EXPECT_EQ(writer.fd, 1);
    EXPECT_EQ(tree.Stat("w.bin").stat.mode, kEfsFileMode);
    EXPECT_EQ(tree.Stat("w.bin").stat.modifyTime, EfsTree::kDefaultEpoch + 5);

    EXPECT_EQ(tree.Write(0, 0, std::vector<uint8_t>{9}, 0).err, kEfsEBADF);
    EXPECT_EQ(tree.Read(1, 0, 10, 0).err, kEfsEBADF);
    EXPECT_EQ(tree.Read(0, 2, 10, 0).data, (std::vector<uint8_t>{3, 4}));
    EXPECT_EQ(tree.Read(0, 9, 10, 0).count, 0);
    // A gap before a write reads as zeros.
    EXPECT_EQ(tree.Write(1, 2, std::vector<uint8_t>{5}, 0).count, 1);
    EXPECT_EQ(tree.FileContent("w.bin"), (std::vector<uint8_t>{0, 0, 5}));
    // An open file is not removed under its reader.
    EXPECT_EQ(tree.Unlink("r.bin", 0), kEfsEBUSY);

    EXPECT_EQ(tree.Close(0), kEfsOk);
    EXPECT_EQ(tree.Close(0), kEfsEBADF);
    EXPECT_EQ(tree.Open("r.bin", 0, 0, 0).fd, 0);
    EXPECT_EQ(tree.Open("missing", 0, 0, 0).err, kEfsENOENT);
    EXPECT_EQ(tree.Open("r.bin", kWriteCreate | kEfsOpenExclusive, 0x1B6, 0).err, kEfsEEXIST);
    EXPECT_EQ(tree.Open("", 0, 0, 0).err, kEfsEISDIR);
    tree.CloseAll();
    EXPECT_EQ(tree.OpenDescriptors(), 0u);
}

TEST(EfsTree, AFullDeviceTakesWhatFitsAndNoMore) {
    EfsTree tree(EfsTree::kDefaultEpoch, 100);
    tree.AddFile("old", std::vector<uint8_t>(60, 1));
    const int32_t fd = tree.Open("new", kWriteCreate, 0x1B6, 0).fd;
    const EfsTree::WriteResult partial = tree.Write(fd, 0, std::vector<uint8_t>(50, 2), 0);
    EXPECT_EQ(partial.count, 40);
    EXPECT_EQ(partial.err, kEfsENOSPC);
    EXPECT_EQ(tree.Write(fd, 40, std::vector<uint8_t>(1, 2), 0).count, -1);
    // Overwriting inside the file needs no room; a gap far past its end is refused.
    EXPECT_EQ(tree.Write(fd, 0, std::vector<uint8_t>(40, 3), 0).err, kEfsOk);
    EXPECT_EQ(tree.Write(fd, 0xFFFFFF00u, std::vector<uint8_t>(16, 4), 0).err, kEfsENOSPC);
    EXPECT_EQ(tree.UsedBytes(), 100u);
}

}  // namespace
}  // namespace firmora::sim
