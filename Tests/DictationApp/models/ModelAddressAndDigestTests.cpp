#include "FileError.h"
#include "ProcessRunner.h"
#include "TestSupport.h"
#include "models/FileDigest.h"
#include "models/ModelAddress.h"

#include <gtest/gtest.h>
#include <random>

namespace fs = std::filesystem;

TEST(ModelAddress, OnlyHttpsOrPlainHttpToThisComputerMayBeFetched) {
    for (const char* allowed :
         {"https://huggingface.co/x.bin", "https://mirror.example:8443/a/b",
          "http://127.0.0.1:8080/x", "http://127.1/x", "http://localhost/x", "http://[::1]:99/x",
          "HTTPS://Example.COM/x", "http://127.255.0.9/x", "http://2130706433/x"}) {
        EXPECT_EQ(ModelAddress::problem(allowed), std::nullopt) << allowed;
    }
    for (const char* refused :
         {"http://example.com/x", "http://128.0.0.1/x", "http://localhost.example.com/x",
          "http://[::2]/x", "ftp://127.0.0.1/x", "file:///etc/passwd", "huggingface.co/x.bin", "",
          "https://", "::not a url::",
          // Names that only look like this computer.
          "http://127.evil.example/x", "http://127.0.0.1.nip.example/x", "http://localhost./x",
          "http://[::ffff:10.0.0.1]/x", "http://0x7f.example/x"}) {
        EXPECT_NE(ModelAddress::problem(refused), std::nullopt) << refused;
    }
}

TEST(FileDigest, MatchesTheSystemsToolAcrossMapWindowsAndForEmptyFiles) {
    TempDir folder;
    std::mt19937 generator(1);
    // Several map windows and a short last one.
    std::string bytes((20 << 20) + 12345, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator() & 0xff);
    }
    writeAll(folder / "large", bytes);
    writeAll(folder / "empty", "");
    writeAll(folder / "abc", "abc");
    for (const char* name : {"large", "empty", "abc"}) {
        const auto expected = runProcess({"/usr/bin/sha256sum", (folder / name).string()});
        EXPECT_EQ(FileDigest::sha256(folder / name), expected.out.substr(0, 64)) << name;
    }
    EXPECT_EQ(FileDigest::sha256(folder / "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(FileDigest, AFileThatCannotBeReadIsAnErrorNamingIt) {
    TempDir folder;
    fs::create_directory(folder / "folder");
    EXPECT_THROW(FileDigest::sha256(folder / "missing.bin"), FileError);
    try {
        FileDigest::sha256(folder / "folder");
        FAIL() << "a folder has no digest";
    } catch (const FileError& error) {
        EXPECT_EQ(error.description(), "couldn't read folder: Invalid argument");
    }
}
