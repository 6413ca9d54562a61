#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "core/Log.h"
#include "storage/FileSystem.h"
#include "storage/win32/Win32FileSystem.h"
#include "tests/unit/support/FakeMainWindow.h"
#include "tests/unit/support/TempFolder.h"

namespace {

class Win32FileSystemTest : public ::testing::Test {
  protected:
    Win32FileSystemTest() {
        setMainWindowCommands(&window);
        setLoggingEnabled(true);
    }

    std::vector<uint8_t> record() const {
        std::vector<uint8_t> bytes(10304);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i % 7 == 0 ? 10 : (i % 11 == 0 ? 26 : i));
        }
        return bytes;
    }

    ProcessStateGuard guard;
    FakeMainWindow window;
    TempFolder folder;
    Win32FileSystem files;
};

TEST_F(Win32FileSystemTest, BytesComeBackExactlyWithoutTextModeTranslation) {
    const std::string path = folder.file("quorvel.dat");
    ASSERT_TRUE(files.writeFile(path, record()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read, record());
}

TEST_F(Win32FileSystemTest, ReadingStopsAtTheRequestedSize) {
    const std::string path = folder.write("long.dat", std::string(20000, 'x'));
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read.size(), 10304u);
    ASSERT_TRUE(files.readFile(folder.write("short.dat", "abc"), 10304, read));
    EXPECT_EQ(read.size(), 3u);
}

TEST_F(Win32FileSystemTest, AMissingFileIsQuietOtherFailuresAreLoggedWithTheirCode) {
    std::vector<uint8_t> read;
    EXPECT_FALSE(files.readFile(folder.file("absent.dat"), 10, read));
    EXPECT_TRUE(window.logLines().empty());

    EXPECT_FALSE(files.writeFile(folder.file("no-folder\\quorvel.dat"), record()));
    ASSERT_EQ(window.logLines().size(), 1u);
    EXPECT_NE(window.logLines()[0].find("CreateFileA(write) failed"), std::string::npos);
    EXPECT_NE(window.logLines()[0].find("GetLastError=3"), std::string::npos);  // path not found
}

TEST_F(Win32FileSystemTest, FoldersAreCreatedOnceAndAMissingParentFails) {
    const std::string quorvel = folder.file("quorvel");
    EXPECT_TRUE(files.createFolder(quorvel));
    EXPECT_TRUE(files.createFolder(quorvel));
    EXPECT_NE(GetFileAttributesA(quorvel.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(files.createFolder(folder.file("a\\b\\c")));
    EXPECT_EQ(window.logLines().size(), 1u);
}

// Wine keeps no access list on folders (reading one back gives one made
// from the Unix mode), so what is checked is the descriptor handed to the
// folder's creation.
class WatchedFileSystem final : public Win32FileSystem {
  public:
    std::vector<std::string> handedOver;

  protected:
    bool createDirectory(const std::string& path, SECURITY_ATTRIBUTES* security) override {
        LPSTR text = nullptr;
        if (security != nullptr && security->lpSecurityDescriptor != nullptr &&
            ConvertSecurityDescriptorToStringSecurityDescriptorA(
                security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                nullptr)) {
            handedOver.emplace_back(text);
            LocalFree(text);
        } else {
            handedOver.emplace_back("none");
        }
        return Win32FileSystem::createDirectory(path, security);
    }
};

TEST_F(Win32FileSystemTest, TheDataFolderLetsEveryLocalUserChangeWhatIsInIt) {
    WatchedFileSystem watched;
    const std::string quorvel = folder.file("quorvel");
    ASSERT_TRUE(watched.createFolder(quorvel));
    ASSERT_EQ(watched.handedOver.size(), 1u);
    // Modify rights (0x1301bf) for the local users' group, inherited by
    // files (OI) and folders (CI); full rights for system and administrators.
    EXPECT_EQ(watched.handedOver[0], "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)");
    EXPECT_EQ(watched.handedOver[0], dataFolderSecurity);

    const FileState created = watched.probe(quorvel);
    EXPECT_TRUE(created.exists && created.folder && created.writable);
    const FileState absent = watched.probe(folder.file("absent"));
    EXPECT_FALSE(absent.exists || absent.writable);
    ASSERT_TRUE(watched.writeFile(folder.file("quorvel\\quorvel.dat"), record()));
    const FileState file = watched.probe(folder.file("quorvel\\quorvel.dat"));
    EXPECT_TRUE(file.exists && file.writable);
    EXPECT_FALSE(file.folder);
    // (Whether a read-only file shows as not writable cannot be seen here:
    // the tests run as root, whom Wine's files never refuse.)
}

TEST_F(Win32FileSystemTest, AtomicWriteReplacesTheFileAndLeavesNoTemporaryBehind) {
    const std::string path = folder.file("quorvel.dat");
    ASSERT_TRUE(files.writeFile(path, std::vector<uint8_t>(10304, 1)));
    ASSERT_TRUE(writeFileAtomically(files, path, record()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read, record());
    EXPECT_EQ(GetFileAttributesA(temporaryPathFor(path).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, AFailedReplacementKeepsTheOldRecord) {
    const std::string path = folder.file("quorvel.dat");
    ASSERT_TRUE(files.writeFile(path, std::vector<uint8_t>(10304, 1)));
    // A scanner or backup tool holding the file makes the rename fail.
    const HANDLE reader = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(writeFileAtomically(files, path, record()));
    CloseHandle(reader);
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read, std::vector<uint8_t>(10304, 1));
    const auto lines = window.logLines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find("MoveFileExA failed") != std::string::npos;
    }));
}

}  // namespace
