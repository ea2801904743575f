// The payload view on a large encrypted .TiVo, as the source filter serves it to other
// programs' parsers through IAsyncReader: the time to load it, the first read (at the end, as
// parsers look for the duration), 64 KiB reads at random offsets, reads after a seek back,
// and sequential reading in requests of 64 KiB to 1 MiB beside the streaming decryptor, with
// and without the view's helper thread. Wall times; prints numbers, asserts nothing (but says
// when bytes differ).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "BroadcastTs.h"  // tests/unit: caption user data as broadcasts carry it
#include "media/PayloadView.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TivoContainer.h"
#include "media/TransportStreamDecryptor.h"

using namespace korvane::media;

namespace {

const char* const kMak = "0123456789";

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// This thread's CPU time: on a machine shared with other work, wall time measures the neighbours too.
double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The whole process's CPU time: with the helper thread, what it took besides the reading thread.
double ProcessCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double PeakRssMib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// A 64-bit FNV-1a over everything read, to compare two ways of reading without keeping them.
struct Hash {
    uint64_t h = 1469598103934665603ull;
    void Add(const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i)
            h = (h ^ p[i]) * 1099511628211ull;
    }
};

class HashSink final : public ByteSink {
public:
    explicit HashSink(bool hash) : m_hash(hash) {}
    bool Write(const uint8_t* data, size_t size) override {
        if (m_hash) hash.Add(data, size);
        bytes += size;
        return true;
    }
    Hash hash;
    uint64_t bytes = 0;

private:
    bool m_hash;
};

struct Loaded {
    FileByteSource source;
    TivoFile file;
};

bool Load(const std::string& path, Loaded* l, double* parseMs) {
    const auto start = Clock::now();
    std::string error;
    TivoParseOptions options;
    options.mediaAccessKeys = {kMak};
    if (ParseTivoFile(path, &l->file, &error, options) != TivoStatus::Ok || l->file.keyIndex != 0 ||
        !l->source.Open(path, &error)) {
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    *parseMs = Ms(start);
    return true;
}

struct Timed {
    double ms;
    size_t bytes;
};

Timed ReadOnce(PayloadView& view, uint64_t offset, std::vector<uint8_t>& buffer) {
    const auto start = Clock::now();
    const size_t n = view.ReadAt(offset, buffer.data(), buffer.size());
    return {Ms(start), n};
}

void PrintStats(const char* what, const PayloadViewStats& s) {
    std::printf("  %s: %" PRIu64 " reads, %" PRIu64 " started afresh, %.1f MB parsed to find blocks, %.1f MB of keystream made, "
                "%" PRIu64 " checkpoints, %" PRIu64 " packets left scrambled, %" PRIu64 " blocks made ahead\n",
                what, s.reads, s.rescans, double(s.bytesScanned) / 1e6, double(s.keystreamBytes) / 1e6,
                s.checkpoints, s.packetsLeftScrambled, s.blocksMadeAhead);
}

int RandomReads(const std::string& path, int reads) {
    Loaded l;
    double parseMs = 0;
    if (!Load(path, &l, &parseMs)) return 1;
    const auto made = Clock::now();
    PayloadView view(l.source, l.file, l.file.keys);
    const double constructMs = Ms(made);
    const uint64_t size = view.Size();
    std::printf("%s: %.2f GB payload (%s)\n", path.c_str(), double(size) / 1e9,
                l.file.payloadKind == PayloadKind::TransportStream ? "transport stream" : "program stream");
    std::printf("  load: parse and key check %.1f ms, view made in %.3f ms\n", parseMs, constructMs);

    std::vector<uint8_t> buffer(64 << 10);
    const Timed end = ReadOnce(view, size - buffer.size(), buffer);
    std::printf("  first read, 64 KiB at the end:  %7.1f ms\n", end.ms);

    std::mt19937_64 rng(42);
    // A view's first read where nothing is known yet: the end shows little when the last block
    // is short, so fresh views at random offsets too.
    std::vector<double> firsts;
    for (int i = 0; i < 20; ++i) {
        PayloadView fresh(l.source, l.file, l.file.keys);
        firsts.push_back(ReadOnce(fresh, rng() % (size - buffer.size()), buffer).ms);
    }
    std::sort(firsts.begin(), firsts.end());
    std::printf("  first read of 20 fresh views at random offsets: median %.1f ms, max %.1f ms\n",
                firsts[firsts.size() / 2], firsts.back());
    std::vector<double> times;
    for (int i = 0; i < reads; ++i) {
        const Timed t = ReadOnce(view, rng() % (size - buffer.size()), buffer);
        if (t.bytes != buffer.size()) std::printf("  WARNING: a read came back short\n");
        times.push_back(t.ms);
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    std::printf("  %d reads of 64 KiB at random offsets: median %.1f ms, mean %.1f ms, p99 %.1f ms, max %.1f ms\n",
                reads, times[times.size() / 2], sum / double(times.size()), times[times.size() * 99 / 100],
                times.back());

    // A parser reads on for a while, then seeks back: a long way, then a little.
    const uint64_t there = size / 4 * 3;
    for (int i = 0; i < 16; ++i)
        ReadOnce(view, there + uint64_t(i) * buffer.size(), buffer);
    const Timed onward = ReadOnce(view, there + 16 * buffer.size(), buffer);
    const Timed far = ReadOnce(view, size / 5, buffer);
    const Timed near = ReadOnce(view, size / 5 - (8 << 20), buffer);
    const Timed again = ReadOnce(view, there + 4 * buffer.size(), buffer);
    std::printf("  reading on %.2f ms; seek back by %.1f GB %.1f ms, then by 8 MiB %.1f ms; back to a place read "
                "before %.1f ms\n",
                onward.ms, double(there - size / 5) / 1e9, far.ms, near.ms, again.ms);
    PrintStats("view", view.Stats());
    std::printf("  peak RSS %.1f MiB (target: the whole filter under 64 MiB)\n", PeakRssMib());
    return 0;
}

int Sequential(const std::string& path) {
    Loaded l;
    double parseMs = 0;
    if (!Load(path, &l, &parseMs)) return 1;
    const uint64_t size = l.file.payloadSize;
    const double mb = double(size) / 1e6;
    std::printf("%s: %.2f GB payload, read from start to end\n", path.c_str(), double(size) / 1e9);

    // The streaming decryptor as the filters use it: 1 MiB reads into a buffer, decrypted in place.
    std::vector<uint8_t> buffer(1 << 20);
    // Passes: 0 as the filters decrypt, 1 the same with the decryptor's helper thread, 2 keeping
    // offsets (the reference the view's bytes are compared with).
    double decryptorMs[3] = {}, decryptorCpu = 0, helpedProcessCpu = 0;
    Hash reference;
    for (int pass = 0; pass < 3; ++pass) {
        const DecryptLayout layout = pass < 2 ? DecryptLayout::Original : DecryptLayout::KeepOffsets;
        const KeystreamMaking making = pass == 1 ? KeystreamMaking::WithHelperThread : KeystreamMaking::OnCallerThread;
        HashSink sink(pass == 2);
        std::unique_ptr<ProgramStreamDecryptor> ps;
        std::unique_ptr<TransportStreamDecryptor> ts;
        if (l.file.payloadKind == PayloadKind::TransportStream)
            ts.reset(new TransportStreamDecryptor(l.file.keys, making, layout));
        else
            ps.reset(new ProgramStreamDecryptor(l.file.keys, making, layout));
        const auto start = Clock::now();
        const double cpu = CpuMs(), processCpu = ProcessCpuMs();
        for (uint64_t pos = 0; pos < size;) {
            const size_t n = l.source.ReadAt(l.file.payloadOffset + pos, buffer.data(),
                                             static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - pos)));
            if (n == 0) break;
            ts ? ts->Feed(buffer.data(), n, sink) : ps->Feed(buffer.data(), n, sink);
            pos += n;
        }
        ts ? ts->Finish(sink) : ps->Finish(sink);
        decryptorMs[pass] = Ms(start);
        if (pass == 0) decryptorCpu = CpuMs() - cpu;
        if (pass == 1) helpedProcessCpu = ProcessCpuMs() - processCpu;
        if (pass == 2) reference = sink.hash;
    }
    std::printf("  streaming decryptor, 1 MiB reads:        %6.2f s %7.0f MB/s, CPU %.2f s\n", decryptorMs[0] / 1e3,
                mb / decryptorMs[0] * 1e3, decryptorCpu / 1e3);
    std::printf("  the same with its helper thread:         %6.2f s %7.0f MB/s, CPU of both threads %.2f s\n",
                decryptorMs[1] / 1e3, mb / decryptorMs[1] * 1e3, helpedProcessCpu / 1e3);

    // Each request size without and with the helper thread making blocks ahead, in turns and
    // three times each, so that both meet about the same load from the machine's other work;
    // the best time of each is shown (the others were slowed by that work).
    for (size_t request : {size_t(64) << 10, size_t(256) << 10, size_t(1) << 20}) {
        double bestMs[2] = {1e30, 1e30}, cpuMs[2] = {}, processCpuMs[2] = {};
        for (int round = 0; round < 3; ++round) {
            for (int helped = 0; helped < 2; ++helped) {
                PayloadViewOptions options;
                if (helped) options.keystreamMaking = KeystreamMaking::WithHelperThread;
                PayloadView view(l.source, l.file, l.file.keys, options);
                std::vector<uint8_t> out(request);
                const auto start = Clock::now();
                const double cpu = CpuMs(), processCpu = ProcessCpuMs();
                uint64_t pos = 0;
                for (size_t n; pos < size && (n = view.ReadAt(pos, out.data(), out.size())) > 0;)
                    pos += n;
                const double ms = Ms(start);
                if (ms < bestMs[helped]) {
                    bestMs[helped] = ms;
                    cpuMs[helped] = CpuMs() - cpu;
                    processCpuMs[helped] = ProcessCpuMs() - processCpu;
                }
                if (pos != size) std::printf("  WARNING: the view read %" PRIu64 " of %" PRIu64 " bytes\n", pos, size);
                if (round == 0 && request == (size_t(1) << 20)) PrintStats(helped ? "view + helper" : "view", view.Stats());
            }
        }
        for (int helped = 0; helped < 2; ++helped)
            std::printf("  view%s, %4zu KiB requests, best of 3: %6.2f s %7.0f MB/s, CPU of the reading thread %.2f s "
                        "(%.2f of the decryptor's), of both threads %.2f s\n",
                        helped ? " + helper" : "         ", request >> 10, bestMs[helped] / 1e3,
                        mb / bestMs[helped] * 1e3, cpuMs[helped] / 1e3, cpuMs[helped] / decryptorCpu,
                        processCpuMs[helped] / 1e3);
        std::printf("    with the helper: %.2f times the throughput without\n", bestMs[0] / bestMs[1]);
    }
    // Once more each way, hashing what comes out against the decryptor that keeps offsets.
    for (int helped = 0; helped < 2; ++helped) {
        PayloadViewOptions options;
        if (helped) options.keystreamMaking = KeystreamMaking::WithHelperThread;
        PayloadView view(l.source, l.file, l.file.keys, options);
        std::vector<uint8_t> out(size_t(256) << 10);
        Hash hash;
        for (uint64_t pos = 0; pos < size;) {
            const size_t n = view.ReadAt(pos, out.data(), out.size());
            if (n == 0) break;
            hash.Add(out.data(), n);
            pos += n;
        }
        std::printf("  the view's bytes%s %s the decryptor's (DecryptLayout::KeepOffsets)\n",
                    helped ? " (with the helper)" : "", hash.h == reference.h ? "equal" : "DIFFER FROM");
    }
    std::printf("  peak RSS %.1f MiB\n", PeakRssMib());
    return 0;
}

// A long transport stream: the input's whole packets again and again (with captions: caption
// user data before every picture's first slice of the video PID 0x100).
int Concat(const std::string& in, const std::string& out, uint64_t mib, bool captions) {
    FileByteSource source;
    FileByteSink sink;
    std::string error;
    if (!source.Open(in, &error) || !sink.Open(out, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> all(static_cast<size_t>(source.Size() / 188 * 188));
    source.ReadAt(0, all.data(), all.size());
    if (captions) all = korvane::test::WithCaptions(all, 0x100);
    for (uint64_t written = 0; written < (mib << 20); written += all.size())
        if (!sink.Write(all.data(), all.size())) return 1;
    return sink.Close(&error) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 6 && std::strcmp(argv[1], "--concat") == 0)
        return Concat(argv[2], argv[3], std::strtoull(argv[5], nullptr, 10),
                      argc >= 7 && std::strcmp(argv[6], "--captions") == 0);
    if (argc >= 3 && std::strcmp(argv[1], "--sequential") == 0) return Sequential(argv[2]);
    if (argc >= 2) {
        int reads = 1000;
        if (argc >= 4 && std::strcmp(argv[2], "--reads") == 0) reads = std::max(1, std::atoi(argv[3]));
        return RandomReads(argv[1], reads);
    }
    std::fprintf(stderr,
                 "usage: view_bench FILE.TiVo [--reads N] | --sequential FILE.TiVo\n"
                 "       view_bench --concat IN.ts OUT.ts --mib N [--captions]\n");
    return 2;
}
