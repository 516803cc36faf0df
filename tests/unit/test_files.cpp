#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

#include "platform/files.h"
#include "tempdir.h"

using namespace quorvel;

TEST(AtomicWrite, PiecesMakeTheFileAndAFailedProducerLeavesThePreviousOne) {
    test::TempDir dir;
    const std::string f = dir.File("Orderlist.xml");
    WriteFileAtomic(f, "old contents");

    // Twelve pieces of a megabyte each: past the point where the disk is handed data early.
    std::string whole;
    WriteFileAtomic(f, [&](const FilePieceWriter& put) {
        for (int i = 0; i < 12; ++i) {
            const std::string piece(size_t{1} << 20, static_cast<char>('a' + i));
            whole += piece;
            put(piece);
        }
        put("");
        put("end");
    });
    whole += "end";
    EXPECT_EQ(ReadWholeFile(f), whole);

    EXPECT_THROW(WriteFileAtomic(f,
                                 [](const FilePieceWriter& put) {
                                     put("half a file");
                                     throw std::runtime_error("out of memory");
                                 }),
                 std::runtime_error);
    EXPECT_EQ(ReadWholeFile(f), whole);
    EXPECT_THROW(WriteFileAtomic(dir.File("nodir/x"), [](const FilePieceWriter& put) { put("x"); }),
                 FileError);
    // No temporary files are left behind.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path())) (void)e, ++entries;
    EXPECT_EQ(entries, 1);
}
