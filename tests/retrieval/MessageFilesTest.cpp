// Installing downloads over local copies and reading category texts back, on real files.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/Errors.h"
#include "retrieval/MessageFiles.h"
#include "tests/support/TestFiles.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kKitId = "QX2026AB12345678";

class MessageFilesTest : public ::testing::Test {
protected:
    ScopedWorkDir m_dir;
};

} // namespace

TEST_F(MessageFilesTest, InstallReplacesOnlyADifferentCopy)
{
    struct Row {
        const char* local;  // null: no local copy
        std::string download;
        int result;
    };
    const Row rows[] = {
        {"Aviso de mantenimiento", "Aviso de mantenimiento", 1},
        {"Oferta A", "Oferta B", 0},  // same length, last byte different
        {"Oferta B", "Oferta B ampliada", 0},
        {nullptr, std::string("uno\0dos", 7), 0},
        {"", "", 1},
    };
    for (const Row& row : rows) {
        auto stamp = fs::file_time_type::min();
        if (row.local) {
            WriteBytes("mensaje.txt", row.local);
            stamp = fs::last_write_time("mensaje.txt") - std::chrono::hours(1);
            fs::last_write_time("mensaje.txt", stamp);
        }
        WriteBytes("buffer.txt", row.download);
        EXPECT_EQ(InstallDownload("buffer.txt", "mensaje.txt"), row.result) << row.download;
        EXPECT_FALSE(Exists("buffer.txt"));
        EXPECT_EQ(ReadBytes("mensaje.txt"), row.download);
        // An identical copy is not even touched; a new one is.
        EXPECT_EQ(fs::last_write_time("mensaje.txt") == stamp, row.result == 1);
        fs::remove("mensaje.txt");
    }

    // Differences beyond the first comparison chunk count too.
    std::string big(3 * 1024 * 1024 + 17, 'x');
    WriteBytes("comercia.txt", big);
    big[big.size() - 2] = 'y';
    WriteBytes("buffer.txt", big);
    EXPECT_EQ(InstallDownload("buffer.txt", "comercia.txt"), 0);
    WriteBytes("buffer.txt", big);
    EXPECT_EQ(InstallDownload("buffer.txt", "comercia.txt"), 1);

    // No download to install: code -1000, the copy stays.
    EXPECT_THROW(InstallDownload("buffer.txt", "comercia.txt"), CCodeException);
    EXPECT_EQ(ReadBytes("comercia.txt"), big);
}

#ifndef _WIN32
TEST_F(MessageFilesTest, ReplacementNeverLeavesTheLocalCopyMissing)
{
    const std::string texts[] = {std::string(4096, 'a'), std::string(8192, 'b')};
    WriteBytes("mensaje.txt", texts[0]);
    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        for (; !done; ++reads) {
            std::FILE* f = std::fopen("mensaje.txt", "rb");
            std::string content;
            char buffer[4096];
            for (std::size_t n; f && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) content.append(buffer, n);
            if (f) std::fclose(f);
            if (content != texts[0] && content != texts[1]) ++torn;  // missing, or neither
        }
    });
    for (int i = 0; i < 300; ++i) {
        WriteBytes("buffer.txt", texts[(i + 1) % 2]);
        ASSERT_EQ(InstallDownload("buffer.txt", "mensaje.txt"), 0);
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
}
#endif

TEST_F(MessageFilesTest, TextsOfTheCategoryFiles)
{
    const std::string accents = "Informaci\xF3n: ma\xF1" "ana habr\xE1 corte.\r\n";
    const std::pair<std::string, std::string> contents[] = {
        {std::string("visible\0oculto", 14), "visible"}, {accents, accents}, {"", ""}};
    for (const auto& [content, text] : contents) {
        WriteBytes("mensaje.txt", content);
        std::string read;
        ReadTextFile("mensaje.txt", read);
        EXPECT_EQ(read, text);
    }
    std::string text = "previo";
    ReadTextFile("no-existe.txt", text);
    EXPECT_EQ(text, "");

    // With a kit identifier: the workstation's files, absent until written.
    CMessageFiles files([](std::string& kitId) { return kitId = kKitId, true; });
    files.GetAdministrativoText(text);
    EXPECT_EQ(text, "");
    files.WriteNoMessagesFile(kOperativoExtension);
    EXPECT_EQ(ReadBytes("202AB123.txt"), std::string(kNoMessagesText, 44));
    files.GetOperativoText(text);
    EXPECT_EQ(text, kNoMessagesText);
    WriteBytes("comercia.txt", accents);
    files.GetComercialText(text);
    EXPECT_EQ(text, accents);

    // Without one: no workstation file ever exists, both read the no-messages text.
    fs::remove("202AB123.txt");
    CMessageFiles none([](std::string&) { return false; });
    none.WriteNoMessagesFile(kAdministrativoExtension);
    none.WriteNoMessagesFile(kOperativoExtension);
    EXPECT_FALSE(Exists("202AB123.txt") || Exists("202AB123.adm"));
    none.GetAdministrativoText(text);
    EXPECT_EQ(text, kNoMessagesText);
}
