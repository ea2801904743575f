// The command lines kmttg, pyTivo and cTiVo run, run the way they run them: real processes,
// real pipes, files in a working folder. Decrypted outputs are compared byte for byte with the
// clear originals of the known-answer recordings.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "BroadcastTs.h"
#include "Process.h"
#include "Scratch.h"
#include "media/TivoContainer.h"

using namespace korvane::test;

namespace {

const std::string kDecode = KORVANE_TIVODECODE;
const std::string kTdcat = KORVANE_TDCAT;
const std::string kTool = KORVANE_TIVO;
const std::string kWrongMak = "9876543210";

struct Recording {
    std::string tivo, clear;
};
const Recording kProgramStream{Vector("ps-mpeg2-ac3.TiVo"), Vector("ps-mpeg2-ac3.mpg")};
const Recording kTransportStream{Vector("ts-mpeg2-ac3.TiVo"), Vector("ts-mpeg2-ac3.ts")};

::testing::AssertionResult SameBytes(const Bytes& got, const Bytes& want) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                         << " were expected, first difference at byte " << at;
}

// A recording encrypted as a TiVo delivers it, with both metadata chunks (the licence first,
// ids 3, 1, 2) holding a real recording's document.
std::string EpisodeRecording() {
    static const std::string path = [] {
        const std::string tivo = NewFolder("recordings") + "/episode.TiVo";
        Result wrap = RunCommand({kTool, "wrap", kProgramStream.clear, tivo, "--metadata-xml",
                                  Data("episode.xml"), "--mak", kMak});
        EXPECT_EQ(wrap.status, 0) << wrap.err;
        return tivo;
    }();
    return path;
}

uint32_t PayloadOffset(const Bytes& tivo) {
    return uint32_t(tivo[10]) << 24 | uint32_t(tivo[11]) << 16 | uint32_t(tivo[12]) << 8 | tivo[13];
}

}  // namespace

TEST(Kmttg, DecryptsAFileOfEitherKindIntoTheSameKind) {
    const std::string folder = NewFolder("kmttg-file");
    for (const Recording& r : {kProgramStream, kTransportStream}) {
        const std::string out = folder + "/OUT.mpg";
        Result run = RunCommand({kDecode, "--mak", kMak, "--no-verify", "--out", out, r.tivo});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(SameBytes(ReadFile(out), ReadFile(r.clear))) << r.tivo;
    }
}

TEST(Kmttg, WritesEveryChunkIntoTheWorkingFolderAndNoVideo) {
    const std::string folder = NewFolder("kmttg-chunks");
    Result run = RunCommand({kDecode, "--mak", kMak, "-D", "-x", EpisodeRecording()}, nullptr, folder);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.empty());

    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"chunk-00-0003.xml", "chunk-01-0001.xml", "chunk-02-0002.xml"}));
    korvane::media::TivoFile file;
    ASSERT_EQ(korvane::media::ParseTivoFile(EpisodeRecording(), &file, nullptr),
              korvane::media::TivoStatus::Ok);
    EXPECT_EQ(ReadFile(folder + "/chunk-00-0003.xml"), file.chunks[0].data);  // the licence, as it stands
    EXPECT_EQ(ReadText(folder + "/chunk-01-0001.xml"), ReadText(Data("episode.xml")));
    EXPECT_EQ(ReadText(folder + "/chunk-02-0002.xml"), ReadText(Data("episode.xml")));
}

TEST(Pipes, StandardInputToStandardOutputOrAFile) {
    const std::string folder = NewFolder("pipes");
    const Input transport{ReadFile(kTransportStream.tivo)};
    const Input program{ReadFile(kProgramStream.tivo)};

    // kmttg's web streaming, piped on into ffmpeg.
    Result streaming = RunCommand({kDecode, "--mak", kMak, "--no-verify", "-"}, &transport);
    EXPECT_EQ(streaming.status, 0) << streaming.err;
    EXPECT_TRUE(SameBytes(streaming.out, ReadFile(kTransportStream.clear)));

    // pyTivo's download arrives in 512 KiB writes; cTiVo wants messages on standard error.
    for (bool verbose : {false, true}) {
        const std::string out = folder + (verbose ? "/ctivo.mpg" : "/pytivo.mpg");
        std::vector<std::string> argv{kDecode, "-m", kMak, "-o", out, "-"};
        if (verbose) argv.insert(argv.end() - 1, "-v");
        Result run = RunCommand(argv, &program);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.out.empty());
        EXPECT_EQ(!run.err.empty(), verbose) << run.err;
        EXPECT_TRUE(SameBytes(ReadFile(out), ReadFile(kProgramStream.clear)));
    }

    // pyTivo serving a .TiVo: the file in, the stream out.
    Result serving = RunCommand({kDecode, "-m", kMak, kProgramStream.tivo});
    EXPECT_EQ(serving.status, 0) << serving.err;
    EXPECT_TRUE(SameBytes(serving.out, ReadFile(kProgramStream.clear)));
}

TEST(Pipes, SlowInputIsDecryptedAsItComes) {
    Input slow{ReadFile(kProgramStream.tivo), 77777, std::chrono::milliseconds(2)};
    slow.holdAfter = slow.bytes.size() * 3 / 4;
    Result run = RunCommand({kDecode, "-m", kMak, "-"}, &slow);
    EXPECT_TRUE(run.outputBeforeEnd) << "nothing came out before the input ended";
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameBytes(run.out, ReadFile(kProgramStream.clear)));
}

// A 64 KiB pipe made the processes at its ends take turns sixteen times per mebibyte.
TEST(Pipes, GrownToTheSizeOfTheCommandsReadsAndWrites) {
#ifndef F_SETPIPE_SZ
    GTEST_SKIP() << "this system has no pipe size to set";
#else
    // What this process may ask for: a user whose pipes hold a lot already may be refused.
    long limit = 1 << 20;
    std::ifstream("/proc/sys/fs/pipe-max-size") >> limit;
    const long want = std::min(long(1) << 20, limit);
    int probe[2];
    ASSERT_EQ(pipe(probe), 0);
    const bool allowed = fcntl(probe[0], F_SETPIPE_SZ, int(want)) >= want;
    close(probe[0]);
    close(probe[1]);
    if (!allowed) GTEST_SKIP() << "the system does not let this user grow a pipe to " << want << " bytes";

    const Input program{ReadFile(kProgramStream.tivo)};
    ASSERT_GT(program.bytes.size(), size_t(64) << 10);  // the writer finishes only once the command reads
    Result run = RunCommand({kDecode, "-m", kMak, "-"}, &program);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameBytes(run.out, ReadFile(kProgramStream.clear)));
    EXPECT_GE(run.inputPipeBytes, want);
    EXPECT_GE(run.outputPipeBytes, want);
#endif
}

// Transport streams for front-end tests are made with `korvane-tivo wrap --ts --mak`. Their
// MPEG-2 video, with caption user data as nearly every broadcast picture carries, is scrambled
// from the user data unless told otherwise: the form the decoder the front ends run on
// transport streams reads exactly. korvane-tivodecode gives the stream back in either form.
TEST(Wrap, ABroadcastIsScrambledFromItsCaptionUserDataUnlessToldOtherwise) {
    const std::string folder = NewFolder("wrap-ts");
    const Bytes clear = WithCaptions(ReadFile(kTransportStream.clear), 0x100);
    const std::vector<Bytes> clearPes = PesOf(clear, 0x100);
    ASSERT_GT(clearPes.size(), 10u);
    const std::string input = folder + "/captions.ts";
    WriteFile(input, clear);
    for (const std::string form : {"", "slice"}) {
        SCOPED_TRACE(form.empty() ? "by default" : "--video-scrambled-from " + form);
        const std::string tivo = folder + "/captions-" + form + ".TiVo";
        std::vector<std::string> argv{kTool, "wrap", input, tivo, "--ts", "--mak", kMak};
        if (!form.empty()) argv.insert(argv.end(), {"--video-scrambled-from", form});
        Result wrap = RunCommand(argv);
        ASSERT_EQ(wrap.status, 0) << wrap.err;

        const Bytes file = ReadFile(tivo);
        const std::vector<Bytes> scrambled =
            PesOf(Bytes(file.begin() + PayloadOffset(file), file.end()), 0x100);
        ASSERT_EQ(scrambled.size(), clearPes.size());
        size_t fromUserData = 0, userDataClear = 0;
        for (size_t i = 0; i < clearPes.size(); ++i) {
            const Bytes& c = clearPes[i];
            const Bytes& e = scrambled[i];
            const size_t at = FindCode(c, FindCode(c, 9 + c[8], 0x00), 0xB2);
            ASSERT_LT(at + 4, c.size());
            const bool before = std::equal(c.begin(), c.begin() + at, e.begin());
            const bool code = std::equal(c.begin() + at, c.begin() + at + 4, e.begin() + at);
            fromUserData += before && !code;
            userDataClear += before && code;
        }
        // (A start code cut by the end of a packet stays clear, and its header with it.)
        if (form.empty()) {
            EXPECT_GT(fromUserData, clearPes.size() * 3 / 4);
        } else {
            EXPECT_EQ(userDataClear, clearPes.size());
        }

        Result decode = RunCommand({kDecode, "-m", kMak, tivo});
        EXPECT_EQ(decode.status, 0) << decode.err;
        EXPECT_TRUE(SameBytes(decode.out, clear));
    }
}

TEST(Tdcat, PrintsEitherMetadataChunk) {
    const std::string folder = NewFolder("tdcat");
    Result second = RunCommand({kTdcat, "-m", kMak, "-2", EpisodeRecording()});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(std::string(second.out.begin(), second.out.end()), ReadText(Data("episode.xml")));

    const Input recording{ReadFile(kTransportStream.tivo)};
    Result first =
        RunCommand({kTdcat, "--mak", kMak, "--chunk-1", "--out", folder + "/first.xml", "-"}, &recording);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(ReadText(folder + "/first.xml").rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><TvBus", 0),
              0u);

    Result wrong = RunCommand({kTdcat, "-m", kWrongMak, EpisodeRecording()});
    EXPECT_NE(wrong.status, 0);
    EXPECT_NE(wrong.err.find("Invalid MAK"), std::string::npos) << wrong.err;
    EXPECT_TRUE(wrong.out.empty());
}

TEST(Keys, AWrongKeyEndsBeforeAnythingIsWritten) {
    const std::string folder = NewFolder("wrong-key");
    const std::string out = folder + "/out.mpg";
    for (const std::string& output : {out, std::string("-")}) {
        Result run =
            RunCommand({kDecode, "-m", kWrongMak, "-o", output, "-D", kProgramStream.tivo}, nullptr, folder);
        EXPECT_NE(run.status, 0);
        EXPECT_NE(run.err.find("Invalid MAK"), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(std::filesystem::is_empty(folder));  // no stream, no chunk files
    }
    // Unchecked, a wrong key still decrypts: into noise of the same length.
    Result unchecked = RunCommand({kDecode, "-m", kWrongMak, "-n", "-o", out, kProgramStream.tivo});
    EXPECT_EQ(unchecked.status, 0) << unchecked.err;
    const Bytes noise = ReadFile(out), clear = ReadFile(kProgramStream.clear);
    EXPECT_EQ(noise.size(), clear.size());
    EXPECT_NE(noise, clear);
}

TEST(Keys, TheKeyFileInTheHomeFolder) {
    const std::string home = NewFolder("home");
    WriteFile(home + "/.tivodecode_mak",
              {' ', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', ' ', ' ', '\n'});
    Result run = RunCommand({kDecode, kTransportStream.tivo}, nullptr, "", {"HOME=" + home});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(SameBytes(run.out, ReadFile(kTransportStream.clear)));

    Result none =
        RunCommand({kDecode, kTransportStream.tivo}, nullptr, "", {"HOME=" + NewFolder("home-without-key")});
    EXPECT_NE(none.status, 0);
    EXPECT_NE(none.err.find(".tivodecode_mak"), std::string::npos) << none.err;
    EXPECT_TRUE(none.out.empty());
}

TEST(Damage, EmptyAndCutShortInputs) {
    Result empty = RunCommand({kDecode, "-m", kMak, "-"});
    EXPECT_NE(empty.status, 0);
    EXPECT_FALSE(empty.err.empty());
    EXPECT_TRUE(empty.out.empty());

    const Bytes whole = ReadFile(kProgramStream.tivo), clear = ReadFile(kProgramStream.clear);
    const Input inHead{Bytes(whole.begin(), whole.begin() + PayloadOffset(whole) / 2)};
    Result head = RunCommand({kDecode, "-m", kMak, "-"}, &inHead);
    EXPECT_NE(head.status, 0);
    EXPECT_TRUE(head.out.empty());

    // A download cut short: what came is decrypted, up to the last whole packet.
    const Input inPayload{Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3 + 1001)};
    Result payload = RunCommand({kDecode, "-m", kMak, "-"}, &inPayload);
    EXPECT_EQ(payload.status, 0) << payload.err;
    EXPECT_GT(payload.out.size(), clear.size() / 2);
    EXPECT_TRUE(SameBytes(payload.out, Bytes(clear.begin(), clear.begin() + payload.out.size())));
}

TEST(Damage, AFirstVideoPacketDamagedStillDecrypts) {
    Bytes tivo = ReadFile(kProgramStream.tivo);
    const Bytes clear = ReadFile(kProgramStream.clear);
    size_t packet = PayloadOffset(tivo);
    while (!(tivo[packet] == 0 && tivo[packet + 1] == 0 && tivo[packet + 2] == 1 &&
             tivo[packet + 3] == 0xE0 && (tivo[packet + 6] & 0x30) == 0x30))
        ++packet;
    const size_t payload = packet + 9 + tivo[packet + 8];

    // Noise in its video: the key is judged on the metadata, so the rest decrypts right.
    Bytes noisy = tivo;
    for (size_t i = 0; i < 64; ++i)
        noisy[payload + 100 + i] ^= 0xA5;
    const Input noisyInput{noisy};
    Result run = RunCommand({kDecode, "-m", kMak, "-"}, &noisyInput);
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out.size(), clear.size());
    size_t differing = 0;
    for (size_t i = 0; i < clear.size(); ++i)
        differing += run.out[i] != clear[i];
    EXPECT_EQ(differing, 64u);

    // Its record lost: the packet is dropped, counted, and the stream goes on.
    Bytes recordless = tivo;
    recordless[packet + 7] &= 0xFE;  // PES_extension_flag: the record is no longer found
    const Input recordlessInput{recordless};
    Result dropped = RunCommand({kDecode, "-m", kMak, "-"}, &recordlessInput);
    EXPECT_EQ(dropped.status, 0) << dropped.err;
    EXPECT_NE(dropped.err.find("1 scrambled packet could not be decrypted"), std::string::npos)
        << dropped.err;
    EXPECT_LT(dropped.out.size(), clear.size());
    EXPECT_GT(dropped.out.size(), clear.size() - 20000);
}

TEST(Damage, ATransportStreamWhoseKeyPacketsNeverCome) {
    const Bytes tivo = ReadFile(kTransportStream.tivo);
    Bytes keyless(tivo.begin(), tivo.begin() + PayloadOffset(tivo));
    for (size_t p = PayloadOffset(tivo); p + 188 <= tivo.size(); p += 188)
        if (((tivo[p + 1] & 0x1F) << 8 | tivo[p + 2]) != 0x0FF0)
            keyless.insert(keyless.end(), &tivo[p], &tivo[p] + 188);
    ASSERT_LT(keyless.size(), tivo.size());
    const Input input{keyless};
    Result run = RunCommand({kDecode, "-m", kMak, "-"}, &input);
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("could not be decrypted"), std::string::npos) << run.err;
    ASSERT_FALSE(run.out.empty());  // the tables still come through, and nothing scrambled
    for (size_t p = 0; p + 188 <= run.out.size(); p += 188)
        ASSERT_EQ(run.out[p + 3] & 0xC0, 0) << "a scrambled packet at byte " << p;
}
