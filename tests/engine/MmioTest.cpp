#include "Mmio.h"
#include "TestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace testsupport;
using namespace mmio;

TEST(Mmio, DescendsIntoTheFormAndFindsChunksWithinIt) {
    TempDir dir;
    const auto path =
        WaveBuilder().Fmt(2, 44100, 16).Chunk("LIST", Bytes{'I', 'N', 'F', 'O'}).Data(5).Write(dir, "a.wav");
    auto h = File::Open(path, MMIO_READ);
    ASSERT_TRUE(h);
    MMCKINFO form;
    form.fccType = StringToFOURCC("WAVE");
    ASSERT_EQ(h->Descend(form, nullptr, MMIO_FINDRIFF), MMSYSERR_NOERROR);
    EXPECT_EQ(form.dwDataOffset, 8);
    EXPECT_EQ(h->Tell(), 12);

    MMCKINFO data;
    data.ckid = StringToFOURCC("data");
    ASSERT_EQ(h->Descend(data, &form, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(data.cksize, 5u);
    EXPECT_EQ(h->Tell(), data.dwDataOffset);
    ASSERT_EQ(h->Ascend(data, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(h->Tell(), data.dwDataOffset + 6) << "ascend skips the pad byte";

    // Searching on from behind the data chunk finds nothing more in the form.
    MMCKINFO fmt;
    fmt.ckid = StringToFOURCC("fmt ");
    EXPECT_EQ(h->Descend(fmt, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);

    // A LIST chunk reports its list type, and its data starts behind it.
    h->Seek(12, kSeekSet);
    MMCKINFO list;
    list.ckid = kLIST;
    ASSERT_EQ(h->Descend(list, &form, MMIO_FINDCHUNK), MMSYSERR_NOERROR);
    EXPECT_EQ(FOURCCToString(list.fccType), "INFO");
}

TEST(Mmio, TheParentBoundsTheSearchEvenWhenTheFileGoesOn) {
    TempDir dir;
    // The form declares only the fmt chunk; a data chunk lies behind it.
    auto bytes = WaveBuilder().Fmt(1, 8000, 8).Build();
    const uint32_t formSize = static_cast<uint32_t>(bytes.size() - 8);
    auto extra = WaveBuilder().Data(4).Build();
    bytes.insert(bytes.end(), extra.begin() + 12, extra.end());
    bytes[4] = static_cast<uint8_t>(formSize);
    const std::string path = dir / "b.wav";
    WriteBytes(path, bytes);

    auto h = File::Open(path, MMIO_READ);
    MMCKINFO form;
    form.fccType = StringToFOURCC("WAVE");
    ASSERT_EQ(h->Descend(form, nullptr, MMIO_FINDRIFF), 0);
    MMCKINFO data;
    data.ckid = StringToFOURCC("data");
    EXPECT_EQ(h->Descend(data, &form, MMIO_FINDCHUNK), MMIOERR_CHUNKNOTFOUND);
    h->Seek(12, kSeekSet);
    EXPECT_EQ(h->Descend(data, nullptr, MMIO_FINDCHUNK), 0) << "without a parent the search runs to the file's end";
}

TEST(Mmio, ATruncatedHeaderIsNotFoundAndALostFileCannotBeRead) {
    TempDir dir;
    const std::string path = dir / "c.wav";
    WriteBytes(path, Bytes{'R', 'I', 'F', 'F', 100, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't'});
    auto h = File::Open(path, MMIO_READ);
    MMCKINFO form;
    form.fccType = StringToFOURCC("WAVE");
    ASSERT_EQ(h->Descend(form, nullptr, MMIO_FINDRIFF), 0);
    MMCKINFO any;
    EXPECT_EQ(h->Descend(any, &form, 0), MMIOERR_CHUNKNOTFOUND);
    EXPECT_EQ(h->Tell(), 12) << "a failed descent leaves the position where it was";

    // A read that the system refuses is a different failure from a missing chunk.
    auto refused = File::Open(path, MMIO_READ);
    const int writeOnly = ::open("/dev/null", O_WRONLY);
    ASSERT_GE(::dup2(writeOnly, refused->Descriptor()), 0);
    ::close(writeOnly);
    MMCKINFO riff;
    EXPECT_EQ(refused->Descend(riff, nullptr, 0), MMIOERR_CANNOTREAD);
    EXPECT_EQ(refused->LastErrno(), EBADF);
}

TEST(Mmio, CreatedAndDirtyChunksGetTheirSizesRewrittenOnAscend) {
    TempDir dir;
    const std::string path = dir / "d.wav";
    {
        WriteBytes(path, {});
        auto h = File::Open(path, MMIO_READWRITE);
        MMCKINFO riff;
        riff.fccType = StringToFOURCC("WAVE");
        ASSERT_EQ(h->CreateChunk(riff, MMIO_CREATERIFF), 0);
        MMCKINFO odd;
        odd.ckid = StringToFOURCC("abcd");
        ASSERT_EQ(h->CreateChunk(odd, 0), 0);
        ASSERT_EQ(h->Write("xyz", 3), 3);
        ASSERT_EQ(h->Ascend(odd, 0), 0);
        EXPECT_EQ(odd.cksize, 3u);
        ASSERT_EQ(h->Ascend(riff, 0), 0);
        EXPECT_EQ(h->Close(), 0);
    }
    EXPECT_EQ(ReadBytes(path), (Bytes{'R', 'I', 'F', 'F', 16, 0, 0, 0, 'W', 'A', 'V', 'E',
                                      'a', 'b', 'c', 'd', 3,  0, 0, 0, 'x', 'y', 'z', 0}));
}

TEST(Mmio, OnlyRegularFilesOpenAndNothingBlocks) {
    TempDir dir;
    int err = 0;
    EXPECT_FALSE(File::Open(dir / "missing.wav", MMIO_READWRITE, &err));
    EXPECT_EQ(err, ENOENT);

    const std::string fifo = dir / "pipe.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(File::Open(fifo, MMIO_READWRITE, &err));
    EXPECT_EQ(err, ENOTSUP);
    EXPECT_FALSE(File::Open(fifo, MMIO_READ, &err)) << "a FIFO without a writer must not block the open";

    std::filesystem::create_directory(dir / "folder.wav");
    EXPECT_FALSE(File::Open(dir / "folder.wav", MMIO_READ, &err));
    EXPECT_EQ(err, ENOTSUP);
    EXPECT_FALSE(File::Open("/dev/null", MMIO_READ, &err));
    EXPECT_EQ(err, ENOTSUP);
}
