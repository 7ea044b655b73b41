// Files on a winsim machine behave as the Windows runtime's: paths are
// case-insensitive, and text mode translates line ends both ways.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "machine_fixture.h"

namespace {

class FilesTest : public larktest::MachineTest {};

std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(FilesTest, TextModeReadTranslatesLineEnds) {
    std::string host = root_ + "/drive_c/Windows/data.ini";
    std::ofstream(host, std::ios::binary) << "a\r\nb\rc\r\n\x1a"
                                             "after";
    FILE* f = _wfopen(TEXT("C:\\WINDOWS\\Data.INI"), TEXT("r"));
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseek(f, 0, SEEK_END), 0);
    EXPECT_EQ(ftell(f), 14) << "the position is the raw file's";
    fseek(f, 0, SEEK_SET);
    char buffer[32] = {};
    size_t n = fread(buffer, 1, sizeof buffer, f);
    fclose(f);
    EXPECT_EQ(std::string(buffer, n), "a\nb\rc\n") << "CR LF reads as LF; Ctrl-Z ends the data";

    f = _wfopen(TEXT("c:\\windows\\data.ini"), TEXT("rb"));
    ASSERT_NE(f, nullptr);
    n = fread(buffer, 1, sizeof buffer, f);
    fclose(f);
    EXPECT_EQ(n, 14u) << "binary mode reads the bytes unchanged";
}

TEST_F(FilesTest, TextModeReadFoldsCrLfAcrossBlocks) {
    // Lines of every length around the stream's block size: some CR LF pair
    // falls across each boundary, whatever the block.
    std::string raw, expected;
    for (int length = 1; raw.size() < 40000; length = length % 97 + 1) {
        raw += std::string(static_cast<size_t>(length), 'x') + "\r\n";
        expected += std::string(static_cast<size_t>(length), 'x') + "\n";
    }
    raw += "\rlast";
    expected += "\rlast";
    std::ofstream(root_ + "/drive_c/big.txt", std::ios::binary) << raw;
    FILE* f = _wfopen(TEXT("C:\\big.txt"), TEXT("rt"));
    ASSERT_NE(f, nullptr);
    std::string read;
    int c;
    while ((c = fgetc(f)) != EOF) read += static_cast<char>(c);
    fclose(f);
    EXPECT_EQ(read, expected);
}

TEST_F(FilesTest, TextModeAppendWritesCrLf) {
    FILE* f = _wfopen(TEXT("c:\\temp\\log.txt"), TEXT("a"));
    ASSERT_NE(f, nullptr);
    fprintf(f, "%s\n", "line");
    fclose(f);
    f = _wfopen(TEXT("c:\\temp\\log.txt"), TEXT("a"));
    fprintf(f, "%s\n", "two\n");
    fclose(f);
    EXPECT_EQ(ReadHost(root_ + "/drive_c/temp/log.txt"), "line\r\ntwo\r\n\r\n");
    EXPECT_EQ(_wfopen(TEXT("c:\\nofolder\\log.txt"), TEXT("a")), nullptr)
        << "a missing folder is not created";
}

TEST_F(FilesTest, InjectedOpenFailure) {
    winsim::FailCall("_wfopen", 1);
    EXPECT_EQ(_wfopen(TEXT("c:\\temp\\x.txt"), TEXT("a")), nullptr);
    FILE* f = _wfopen(TEXT("c:\\temp\\x.txt"), TEXT("a"));
    ASSERT_NE(f, nullptr);
    fclose(f);
}

}  // namespace
