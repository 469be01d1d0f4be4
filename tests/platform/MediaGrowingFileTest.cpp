#include "platform/media/GrowingFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

using platform::GrowingFile;

class GrowingFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::path(::testing::TempDir()) /
                  ("vk_growing_" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string Path(const char* name) const { return (folder_ / name).string(); }

    std::filesystem::path folder_;
};

std::string Bytes(char c, std::size_t n) {
    return std::string(n, c);
}

// A reader that gets ahead of the writer waits for the rest instead of
// seeing an end of file, and sees the end only after Finish.
TEST_F(GrowingFileTest, ReaderAheadOfTheWriterWaitsForTheRest) {
    std::shared_ptr<GrowingFile> file;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP1"), &file), platform::kOk);
    std::FILE* reader = file->OpenReader();
    ASSERT_NE(reader, nullptr);

    std::thread writer([&] {
        for (char c : {'a', 'b', 'c'}) {
            const std::string piece = Bytes(c, 5000);
            std::fwrite(piece.data(), 1, piece.size(), file->Writer());
            file->Publish();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        file->Finish();
    });
    std::string got(15000, '\0');
    const std::size_t n = std::fread(got.data(), 1, got.size(), reader);
    writer.join();
    EXPECT_EQ(n, 15000u);
    EXPECT_EQ(got, Bytes('a', 5000) + Bytes('b', 5000) + Bytes('c', 5000));
    char extra;
    EXPECT_EQ(std::fread(&extra, 1, 1, reader), 0u);
    EXPECT_TRUE(std::feof(reader));
    std::fclose(reader);
}

TEST_F(GrowingFileTest, FinishWithoutDataEndsAWaitingReader) {
    std::shared_ptr<GrowingFile> file;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP1"), &file), platform::kOk);
    std::FILE* reader = file->OpenReader();
    std::thread finisher([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        file->Finish();
    });
    char buffer[16];
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, reader), 0u);
    finisher.join();
    std::fclose(reader);
}

// The mixer seeks its handle (a seek in the song); reads go on from there,
// also after having met the end once.
TEST_F(GrowingFileTest, SeekAndReadAgainAfterTheEnd) {
    std::shared_ptr<GrowingFile> file;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP1"), &file), platform::kOk);
    std::string data;
    for (int i = 0; i < 1000; ++i) {
        data += static_cast<char>('0' + i % 10);
    }
    std::fwrite(data.data(), 1, data.size(), file->Writer());
    file->Finish();
    std::FILE* reader = file->OpenReader();
    std::string all(2000, '\0');
    EXPECT_EQ(std::fread(all.data(), 1, all.size(), reader), 1000u);
    ASSERT_EQ(std::fseek(reader, 995, SEEK_SET), 0);
    char tail[10] = {};
    EXPECT_EQ(std::fread(tail, 1, 10, reader), 5u);
    EXPECT_EQ(std::string(tail, 5), "56789");
    ASSERT_EQ(std::fseek(reader, -10, SEEK_END), 0);
    EXPECT_EQ(std::ftell(reader), 990);
    std::fclose(reader);
}

// A new file never truncates the old one's data under a reader, and a link
// planted at the name is replaced, not followed.
TEST_F(GrowingFileTest, CreateReplacesTheNameWithoutTouchingOldDataOrLinkTargets) {
    std::shared_ptr<GrowingFile> first;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP1"), &first), platform::kOk);
    std::fwrite("old data", 1, 8, first->Writer());
    first->Finish();
    std::FILE* oldReader = first->OpenReader();
    first.reset();

    std::shared_ptr<GrowingFile> second;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP1"), &second), platform::kOk);
    char buffer[8];
    EXPECT_EQ(std::fread(buffer, 1, 8, oldReader), 8u);
    EXPECT_EQ(std::string(buffer, 8), "old data");
    std::fclose(oldReader);

    std::ofstream(Path("victim")) << "precious";
    std::filesystem::create_symlink(Path("victim"), Path("KTEMP2"));
    std::shared_ptr<GrowingFile> third;
    ASSERT_EQ(GrowingFile::Create(Path("KTEMP2"), &third), platform::kOk);
    std::fwrite("new", 1, 3, third->Writer());
    third->Finish();
    std::ifstream victim(Path("victim"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(victim), {}), "precious");
    EXPECT_FALSE(std::filesystem::is_symlink(Path("KTEMP2")));
    EXPECT_EQ(std::filesystem::status(Path("KTEMP2")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(GrowingFileTest, MissingFolderIsReported) {
    std::shared_ptr<GrowingFile> file;
    EXPECT_EQ(GrowingFile::Create(Path("no/such/KTEMP1"), &file), platform::kNotFound);
    EXPECT_FALSE(file);
}

}  // namespace
