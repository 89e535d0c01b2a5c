// What the commands that write a named host file write into: a new or
// regular file is replaced whole; a FIFO or a device gets the bytes and stays
// what it was; the image being read is never written over, whatever name
// (a symbolic or a hard link) it is reached by.

#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

struct Writer {
    // The command's arguments, IMAGE and OUT (or DIR, OUT's folder) standing
    // for the image and the file it writes.
    const char* args;
    const char* out; // OUT's name in the test's folder
    bool streams;    // writes into a FIFO or device (else refuses one)

    std::string Command(const std::string& image, const std::string& target) const {
        std::istringstream words(args);
        std::string text, word;
        while (words >> word)
            text += (text.empty() ? "" : " ") +
                    (word == "IMAGE" ? Quote(image)
                     : word == "OUT" ? Quote(target)
                     : word == "DIR" ? Quote(fs::path(target).parent_path().string())
                                     : word);
        return Cli(text);
    }
};

const Writer kWriters[] = {
    {"screen IMAGE SCREEN.SCR OUT", "out.png", true},
    {"tape-out IMAGE OUT SCREEN.SCR", "out.tap", true},
    {"boot-read IMAGE OUT", "boot.bin", true},
    // get writes the file under its own name into the folder given.
    {"get IMAGE DIR SCREEN.SCR", "SCREEN.SCR", true},
    // An image is read back from the file it is written to.
    {"convert --force --to edsk IMAGE OUT", "out.dsk", false},
};

bool IsKind(const std::string& path, mode_t kind) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == kind;
}

TEST(HostOutputs, ADeviceOrPipeIsWrittenIntoAndTheImageNeverOver) {
    for (const Writer& writer : kWriters) {
        SCOPED_TRACE(writer.args);
        TempDir dir;
        const std::string image = dir / "d.dsk";
        WriteFile(dir / "screen", PatternBytes(6912, 7));
        ASSERT_EQ(RunCommand(Cli("new " + Quote(image))).status, 0);
        ASSERT_EQ(RunCommand(Cli("put --plus3 code:16384 --as SCREEN.SCR " + Quote(image) + " " +
                                 Quote(dir / "screen")))
                      .status,
                  0);
        const Bytes original = ReadFile(image);

        // A regular file: what the other cases must get.
        fs::create_directory(dir / "plain");
        const std::string plain = dir / ("plain/" + std::string(writer.out));
        ASSERT_EQ(RunCommand(writer.Command(image, plain), true).status, 0);
        const Bytes expected = ReadFile(plain);
        ASSERT_FALSE(expected.empty());

        // A FIFO with a reader on it.
        fs::create_directory(dir / "fifo");
        const std::string fifo = dir / ("fifo/" + std::string(writer.out));
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        if (writer.streams) {
            const CommandResult r =
                RunCommand("timeout 20 cat " + Quote(fifo) + " > " + Quote(dir / "got") + " & " +
                               writer.Command(image, fifo) + "; s=$?; wait; exit $s",
                           true);
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(ReadFile(dir / "got"), expected);
        } else {
            const CommandResult r = RunCommand(writer.Command(image, fifo), true);
            EXPECT_EQ(r.status, 1) << r.out;
            EXPECT_NE(r.out.find("not a regular file"), std::string::npos) << r.out;
        }
        EXPECT_TRUE(IsKind(fifo, S_IFIFO));

        // A character device (the null device's numbers), where we may make one.
        fs::create_directory(dir / "dev");
        const std::string device = dir / ("dev/" + std::string(writer.out));
        if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
            EXPECT_EQ(RunCommand(writer.Command(image, device), true).status,
                      writer.streams ? 0 : 1);
            EXPECT_TRUE(IsKind(device, S_IFCHR));
        }

        // The image itself, by a symbolic link and by a hard link.
        for (const char* link : {"symbolic", "hard"}) {
            fs::create_directory(dir / link);
            const std::string path = dir / (std::string(link) + "/" + writer.out);
            if (std::string(link) == "hard")
                fs::create_hard_link(image, path);
            else
                fs::create_symlink(image, path);
            const CommandResult r = RunCommand(writer.Command(image, path), true);
            EXPECT_EQ(r.status, 1) << link << ": " << r.out;
            EXPECT_NE(r.out.find("the image being read"), std::string::npos)
                << link << ": " << r.out;
            EXPECT_EQ(ReadFile(image), original) << link;
        }
    }
    // A new image is a file too: never made over a FIFO.
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "new.dsk").c_str(), 0644), 0);
    const CommandResult made = RunCommand(Cli("new --force " + Quote(dir / "new.dsk")), true);
    EXPECT_EQ(made.status, 1) << made.out;
    EXPECT_NE(made.out.find("not a regular file"), std::string::npos) << made.out;
    EXPECT_TRUE(IsKind(dir / "new.dsk", S_IFIFO));
}

} // namespace

namespace {

// convert held at its first write (strace delays it) while another program
// saves IN: the converted image is not written, and IN is named as the cause.
TEST(HostOutputs, ConvertSaysWhenItsInputChangedMeanwhile) {
    if (!HaveProgram("strace"))
        GTEST_SKIP() << "strace is not installed";
    TempDir dir;
    const std::string in = dir / "in.dsk", out = dir / "out.dsk", trace = dir / "trace";
    WriteFile(dir / "a.bin", PatternBytes(3000, 1));
    ASSERT_EQ(RunCommand(Cli("new " + Quote(in))).status, 0);
    ASSERT_EQ(RunCommand(Cli("put " + Quote(in) + " " + Quote(dir / "a.bin"))).status, 0);
    const CommandResult r = RunCommand(
        // (LeakSanitizer cannot work under a tracer.)
        "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o " + Quote(trace) +
            " -e trace=pwrite64 -e inject=pwrite64:delay_enter=2000000 " +
            Cli("convert --to edsk " + Quote(in) + " " + Quote(out)) + " 2>" + Quote(dir / "err") +
            " & for i in $(seq 600); do grep -q pwrite64 " + Quote(trace) +
            " 2>/dev/null && break; sleep 0.05; done; " +
            Cli("put --as B.BIN " + Quote(in) + " " + Quote(dir / "a.bin")) +
            "; wait $!; s=$?; cat " + Quote(dir / "err") + "; exit $s",
        true);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(
        r.out.find("in.dsk: changed by another program while it was converted: nothing written"),
        std::string::npos)
        << r.out;
    EXPECT_FALSE(fs::exists(out));
    // Left alone, the same conversion is written.
    EXPECT_EQ(RunCommand(Cli("convert --to edsk " + Quote(in) + " " + Quote(out))).status, 0);
}

} // namespace
