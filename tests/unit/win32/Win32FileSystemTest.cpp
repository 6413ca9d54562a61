#include <windows.h>

#include <sddl.h>

#include <gtest/gtest.h>

#include "storage/FileSystem.h"
#include "storage/FolderRights.h"
#include "storage/win32/Win32CycleLock.h"
#include "storage/win32/Win32FileSystem.h"
#include "storage/win32/Win32FolderRights.h"
#include "tests/unit/support/TempFolder.h"

namespace {

class Win32FileSystemTest : public ::testing::Test {
  protected:
    std::vector<uint8_t> record() const {
        std::vector<uint8_t> bytes(10304);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<uint8_t>(i % 7 == 0 ? 10 : (i % 11 == 0 ? 26 : i));
        }
        return bytes;
    }

    TempFolder folder;
    Win32FileSystem files;
};

// No text-mode translation, and no padding of a short file.
TEST_F(Win32FileSystemTest, BytesComeBackExactlyAndAtomicWritesReplaceTheFile) {
    const std::string path = folder.file("quorvel.dat");
    ASSERT_TRUE(files.writeFile(path, std::vector<uint8_t>(10304, 1)));
    ASSERT_TRUE(writeFileAtomically(files, path, record()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read, record());
    EXPECT_EQ(GetFileAttributesA(temporaryPathFor(path).c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(files.readFile(folder.write("long.dat", std::string(20000, 'x')), 10304, read));
    EXPECT_EQ(read.size(), 10304u);
    ASSERT_TRUE(files.readFile(folder.write("short.dat", "abc"), 10304, read));
    EXPECT_EQ(read, (std::vector<uint8_t>{'a', 'b', 'c'}));
    EXPECT_FALSE(files.readFile(folder.file("absent.dat"), 10, read));
    EXPECT_FALSE(files.writeFile(folder.file("no-folder\\quorvel.dat"), record()));
}

// Wine keeps no access list on folders, so what is checked is the
// descriptor handed to the system calls that set it.
std::string sddlOf(PSECURITY_DESCRIPTOR descriptor, SECURITY_INFORMATION parts) {
    LPSTR text = nullptr;
    if (descriptor == nullptr || !ConvertSecurityDescriptorToStringSecurityDescriptorA(
                                     descriptor, SDDL_REVISION_1, parts, &text, nullptr)) {
        return "none";
    }
    const std::string sddl(text);
    LocalFree(text);
    return sddl;
}

class WatchedFileSystem final : public Win32FileSystem {
  public:
    std::vector<std::string> handedOver;

  protected:
    bool createDirectory(const std::string& path, SECURITY_ATTRIBUTES* security) override {
        handedOver.push_back(sddlOf(security != nullptr ? security->lpSecurityDescriptor : nullptr,
                                    DACL_SECURITY_INFORMATION));
        return Win32FileSystem::createDirectory(path, security);
    }
};

class WatchedFolderRights final : public Win32FolderRights {
  public:
    std::vector<std::string> handedOver;

  protected:
    bool createDirectory(const std::wstring& folder, SECURITY_ATTRIBUTES* security) override {
        handedOver.push_back("create " + sddlOf(security->lpSecurityDescriptor, everything));
        return Win32FolderRights::createDirectory(folder, security);
    }
    bool setSecurity(HANDLE folder, PSECURITY_DESCRIPTOR descriptor) override {
        handedOver.push_back("set " + sddlOf(descriptor, everything));
        return Win32FolderRights::setSecurity(folder, descriptor);
    }

  private:
    static constexpr SECURITY_INFORMATION everything =
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
};

// (What probe says of plain files and folders every agent scenario needs.)
TEST_F(Win32FileSystemTest, TheAgentsOwnDataFolderLetsUsersAddAndReplaceFilesOnly) {
    WatchedFileSystem watched;
    ASSERT_TRUE(watched.createFolder(folder.file("quorvel")));
    // The access list alone: only an administrator may name another owner.
    EXPECT_EQ(watched.handedOver, std::vector<std::string>{dataFolderAccess});
}

TEST_F(Win32FileSystemTest, TheSetupsStepsSetOwnerAndProtectedListOnNewAndExistingFolders) {
    for (const std::string& descriptor : {dataFolderSecurity, std::string(installFolderSecurity)}) {
        SCOPED_TRACE(descriptor);
        WatchedFolderRights watched;
        const TempFolder place;
        const std::string made = place.file("made");
        EXPECT_EQ(watched.impose(made, descriptor, LinkInPlace::Refuse), RightsOutcome::Set);
        EXPECT_NE(GetFileAttributesA(made.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
        // A folder that was there before, made by anyone: taken over.
        EXPECT_EQ(watched.impose(made, descriptor, LinkInPlace::Refuse), RightsOutcome::Set);
        EXPECT_EQ(watched.handedOver,
                  (std::vector<std::string>{"create " + descriptor, "create " + descriptor,
                                            "set " + descriptor}));
        EXPECT_EQ(watched.descriptorOf(made).substr(0, 2), "O:");
    }
}

// Another name of someone else's file at the temporary name or the record's.
TEST_F(Win32FileSystemTest, AHardLinkIsNeitherWrittenNorReadThrough) {
    const std::string theirs = folder.write("theirs.txt", "not the agent's");
    const auto theirBytes = [&] {
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(files.readFile(theirs, 100, bytes));
        return std::string(bytes.begin(), bytes.end());
    };
    const std::string path = folder.file("quorvel.dat");
    ASSERT_TRUE(CreateHardLinkA(temporaryPathFor(path).c_str(), theirs.c_str(), nullptr));
    ASSERT_TRUE(writeFileAtomically(files, path, record()));
    std::vector<uint8_t> read;
    ASSERT_TRUE(files.readFile(path, 10304, read));
    EXPECT_EQ(read, record());

    ASSERT_TRUE(DeleteFileA(path.c_str()));
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), theirs.c_str(), nullptr));
    EXPECT_TRUE(files.probe(path).link);
    EXPECT_FALSE(files.readFile(path, 10304, read));
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(theirBytes(), "not the agent's");
}

// Each agent opens the lock file with a handle of its own; the lock goes
// with the handle.
TEST_F(Win32FileSystemTest, TheCycleLockHasOneHolderAtATimeAndIsNeverALinksFile) {
    using Turn = CycleLock::Turn;
    const std::string path = folder.file("quorvel.lock");
    Win32CycleLock mine(path);
    Win32CycleLock theirs(path);
    ASSERT_EQ(mine.acquireWithin(0), Turn::taken);
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(theirs.acquireWithin(200), Turn::busy);
    EXPECT_GE(GetTickCount64() - before, 200u);
    mine.release();
    EXPECT_EQ(theirs.acquireWithin(0), Turn::taken);
    theirs.release();

    ASSERT_TRUE(DeleteFileA(path.c_str()));
    const std::string other = folder.write("theirs.txt", "not the agent's");
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), other.c_str(), nullptr));
    EXPECT_EQ(mine.acquireWithin(0), Turn::unusable);
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
}

}  // namespace
