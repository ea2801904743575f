// Other programs' graphs: a player's RenderFile on a .TiVo goes through our source and Wine's
// own parser and decoders (GStreamer), never through our demultiplexer or multiplexer, plays
// every frame, reports the duration of the plain file and seeks. Below the parser, the
// source's IAsyncReader is read as parsers read it.
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <random>

#include "DialogScript.h"
#include "EmptyKeyStoreTest.h"
#include "GraphSupport.h"
#include "base/BaseFilter.h"
#include "keys/KeyDialogIds.h"
#include "keys/KeyStore.h"
#include "media/PayloadView.h"
#include "media/TivoContainer.h"
#include "media/TivoKeys.h"

namespace korvane::test {
namespace {

const char kKey[] = "0123456789";
constexpr REFERENCE_TIME kSecond = 10000000;  // also a byte, in a request's sample times

// Frame counts of the clear originals, as ffprobe counts them (written before this test runs).
int ExpectedFrames(const std::string& name) {
    std::ifstream in(EnvOr("KORVANE_WORK", ".") + "\\frames.txt");
    std::string file;
    int frames = -1;
    while (in >> file >> frames)
        if (file == name) return frames;
    ADD_FAILURE() << "no frame count for " << name;
    return -1;
}

const CLSID CLSID_FrameCounter = {
    0x2E4D9B31, 0x7A1C, 0x4F3E, {0x8B, 0x52, 0x11, 0x6C, 0x9D, 0x0E, 0x4A, 0x77}};

// A renderer of the test's own in place of a player's: takes whatever video the decoder
// gives, counts the frames and where the segment starts, and completes at the end of stream.
// Seeking goes upstream, as a renderer passes it to the decoder or splitter before it.
class FrameCounter final : public AlsoImplements<filters::BaseFilter, IAMFilterMiscFlags, IMediaSeeking> {
public:
    FrameCounter() : AlsoImplements(CLSID_FrameCounter) {
        auto input = std::make_unique<Input>(this);
        m_input = input.get();
        AddPin(std::move(input));
    }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    STDMETHODIMP GetCapabilities(DWORD* c) override {
        const auto up = Upstream();
        return up ? up->GetCapabilities(c) : E_NOTIMPL;
    }
    STDMETHODIMP CheckCapabilities(DWORD* c) override {
        const auto up = Upstream();
        return up ? up->CheckCapabilities(c) : E_NOTIMPL;
    }
    STDMETHODIMP IsFormatSupported(const GUID* f) override {
        const auto up = Upstream();
        return up ? up->IsFormatSupported(f) : E_NOTIMPL;
    }
    STDMETHODIMP QueryPreferredFormat(GUID* f) override {
        const auto up = Upstream();
        return up ? up->QueryPreferredFormat(f) : E_NOTIMPL;
    }
    STDMETHODIMP GetTimeFormat(GUID* f) override {
        const auto up = Upstream();
        return up ? up->GetTimeFormat(f) : E_NOTIMPL;
    }
    STDMETHODIMP IsUsingTimeFormat(const GUID* f) override {
        const auto up = Upstream();
        return up ? up->IsUsingTimeFormat(f) : E_NOTIMPL;
    }
    STDMETHODIMP SetTimeFormat(const GUID* f) override {
        const auto up = Upstream();
        return up ? up->SetTimeFormat(f) : E_NOTIMPL;
    }
    STDMETHODIMP GetDuration(LONGLONG* d) override {
        const auto up = Upstream();
        return up ? up->GetDuration(d) : E_NOTIMPL;
    }
    STDMETHODIMP GetStopPosition(LONGLONG* s) override {
        const auto up = Upstream();
        return up ? up->GetStopPosition(s) : E_NOTIMPL;
    }
    STDMETHODIMP GetCurrentPosition(LONGLONG* c) override {
        const auto up = Upstream();
        return up ? up->GetCurrentPosition(c) : E_NOTIMPL;
    }
    STDMETHODIMP ConvertTimeFormat(LONGLONG* t, const GUID* tf, LONGLONG s, const GUID* sf) override {
        const auto up = Upstream();
        return up ? up->ConvertTimeFormat(t, tf, s, sf) : E_NOTIMPL;
    }
    STDMETHODIMP SetPositions(LONGLONG* c, DWORD cf, LONGLONG* s, DWORD sf) override {
        const auto up = Upstream();
        return up ? up->SetPositions(c, cf, s, sf) : E_NOTIMPL;
    }
    STDMETHODIMP GetPositions(LONGLONG* c, LONGLONG* s) override {
        const auto up = Upstream();
        return up ? up->GetPositions(c, s) : E_NOTIMPL;
    }
    STDMETHODIMP GetAvailable(LONGLONG* e, LONGLONG* l) override {
        const auto up = Upstream();
        return up ? up->GetAvailable(e, l) : E_NOTIMPL;
    }
    STDMETHODIMP SetRate(double r) override {
        const auto up = Upstream();
        return up ? up->SetRate(r) : E_NOTIMPL;
    }
    STDMETHODIMP GetRate(double* r) override {
        const auto up = Upstream();
        return up ? up->GetRate(r) : E_NOTIMPL;
    }
    STDMETHODIMP GetPreroll(LONGLONG* p) override {
        const auto up = Upstream();
        return up ? up->GetPreroll(p) : E_NOTIMPL;
    }

    std::atomic<int> frames{0};                  // since the last flush
    std::atomic<REFERENCE_TIME> firstStart{-1};  // of the first frame since the last flush
    std::atomic<REFERENCE_TIME> segmentStart{0};

private:
    class Input final : public filters::InputPin {
    public:
        explicit Input(FrameCounter* counter) : InputPin(counter, L"In"), m_counter(counter) {}
        HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
            return IsEqualGUID(mt->majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
        }
        HRESULT OnReceive(IMediaSample* sample) override {
            REFERENCE_TIME start = 0, stop = 0;
            if (SUCCEEDED(sample->GetTime(&start, &stop)) && m_counter->firstStart < 0)
                m_counter->firstStart = start;
            ++m_counter->frames;
            return S_OK;
        }
        HRESULT OnEndOfStream() override {
            m_counter->QueueEvent(EC_COMPLETE, S_OK, 0);
            return S_OK;
        }
        void OnBeginFlush() override {
            m_counter->frames = 0;
            m_counter->firstStart = -1;
        }
        STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override {
            m_counter->segmentStart = start;
            return InputPin::NewSegment(start, stop, rate);
        }

    private:
        FrameCounter* m_counter;
    };
    ComPtr<IMediaSeeking> Upstream() {
        ComPtr<IMediaSeeking> up;
        IPin* peer = m_input->Peer();
        if (peer) peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(up.Out()));
        return up;
    }

    Input* m_input;
};

std::vector<CLSID> ClassesIn(IGraphBuilder* graph) {
    std::vector<CLSID> classes;
    ComPtr<IEnumFilters> filters;
    EXPECT_HRESULT_SUCCEEDED(graph->EnumFilters(filters.Out()));
    IBaseFilter* filter = nullptr;
    while (filters->Next(1, &filter, nullptr) == S_OK) {
        CLSID clsid{};
        filter->GetClassID(&clsid);
        classes.push_back(clsid);
        filter->Release();
    }
    return classes;
}

bool Contains(const std::vector<CLSID>& classes, const CLSID& clsid) {
    return std::any_of(classes.begin(), classes.end(),
                       [&](const CLSID& c) { return IsEqualCLSID(c, clsid); });
}

// A player's graph for the file, its renderers swapped for a frame counter (video) or left
// out (anything else), running as fast as the data comes.
class Player {
public:
    explicit Player(const std::string& path) {
        m_graph = Create<IGraphBuilder>(CLSID_FilterGraph);
        m_rendered = m_graph->RenderFile(Widen(path).c_str(), nullptr);
    }
    HRESULT Rendered() const { return m_rendered; }
    IGraphBuilder* Graph() const { return m_graph.Get(); }

    void CountFrames() {
        std::vector<IBaseFilter*> renderers;  // the graph holds them until they are removed
        ComPtr<IEnumFilters> filters;
        ASSERT_HRESULT_SUCCEEDED(m_graph->EnumFilters(filters.Out()));
        IBaseFilter* filter = nullptr;
        while (filters->Next(1, &filter, nullptr) == S_OK) {
            ComPtr<IAMFilterMiscFlags> flags;
            if (SUCCEEDED(Query(filter, flags)) && (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER))
                renderers.push_back(filter);
            filter->Release();
        }
        m_counter = ComPtr<FrameCounter>::Adopt(new FrameCounter());
        ASSERT_HRESULT_SUCCEEDED(m_graph->AddFilter(m_counter.Get(), L"Frame counter"));
        for (IBaseFilter* renderer : renderers) {
            ComPtr<IEnumPins> pins;
            ASSERT_HRESULT_SUCCEEDED(renderer->EnumPins(pins.Out()));
            IPin* pin = nullptr;
            ComPtr<IPin> upstream;
            bool video = false;
            while (pins->Next(1, &pin, nullptr) == S_OK) {
                auto input = ComPtr<IPin>::Adopt(pin);
                filters::MediaType mt;
                if (SUCCEEDED(input->ConnectionMediaType(mt.Get())))
                    video = IsEqualGUID(mt.Get()->majortype, MEDIATYPE_Video);
                input->ConnectedTo(upstream.Out());
            }
            ASSERT_HRESULT_SUCCEEDED(m_graph->RemoveFilter(renderer));
            if (video && upstream) {
                ASSERT_EQ(S_OK,
                          m_graph->ConnectDirect(upstream.Get(), Pin(m_counter.Get(), L"In").Get(), nullptr));
            }
        }
        ComPtr<IMediaFilter> clockless;
        ASSERT_HRESULT_SUCCEEDED(Query(m_graph.Get(), clockless));
        ASSERT_HRESULT_SUCCEEDED(clockless->SetSyncSource(nullptr));
    }

    // Runs to the end: the event that ended it (EC_COMPLETE when all went well).
    long RunToEnd() {
        ComPtr<IMediaControl> control;
        ComPtr<IMediaEvent> events;
        EXPECT_HRESULT_SUCCEEDED(Query(m_graph.Get(), control));
        EXPECT_HRESULT_SUCCEEDED(
            m_graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.Out())));
        EXPECT_HRESULT_SUCCEEDED(control->Run());
        long code = 0;
        EXPECT_EQ(S_OK, events->WaitForCompletion(60000, &code));
        control->Stop();
        return code;
    }

    REFERENCE_TIME Duration() {
        ComPtr<IMediaSeeking> seeking;
        REFERENCE_TIME duration = -1;
        EXPECT_HRESULT_SUCCEEDED(Query(m_graph.Get(), seeking));
        EXPECT_HRESULT_SUCCEEDED(seeking->GetDuration(&duration));
        return duration;
    }

    void SeekTo(REFERENCE_TIME position) {
        ComPtr<IMediaSeeking> seeking;
        ASSERT_HRESULT_SUCCEEDED(Query(m_graph.Get(), seeking));
        ASSERT_HRESULT_SUCCEEDED(seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                                       AM_SEEKING_NoPositioning));
    }

    FrameCounter* Counter() const { return m_counter.Get(); }

private:
    ComPtr<IGraphBuilder> m_graph;
    HRESULT m_rendered = E_FAIL;
    ComPtr<FrameCounter> m_counter;
};

class PlaybackTest : public EmptyKeyStoreTest {
protected:

    // Plays the plain file and its .TiVo form alike: the same duration from the same parser,
    // to EC_COMPLETE, the same frames, through none of our other filters.
    void ExpectPlaysLikeThePlainFile(const std::string& tivo, const std::string& plain,
                                     const std::string& original) {
        SCOPED_TRACE(tivo);
        REFERENCE_TIME plainDuration = 0;
        int plainFrames = 0;
        {
            Player player(plain);
            ASSERT_HRESULT_SUCCEEDED(player.Rendered()) << plain;
            plainDuration = player.Duration();
            player.CountFrames();
            ASSERT_EQ(EC_COMPLETE, player.RunToEnd());
            plainFrames = player.Counter()->frames;
        }
        Player player(tivo);
        ASSERT_HRESULT_SUCCEEDED(player.Rendered());
        const auto classes = ClassesIn(player.Graph());
        EXPECT_TRUE(Contains(classes, classids::kTivoSource));
        EXPECT_FALSE(Contains(classes, classids::kDemultiplexer));
        EXPECT_FALSE(Contains(classes, classids::kMultiplexer));
        EXPECT_EQ(plainDuration, player.Duration());
        player.CountFrames();
        EXPECT_EQ(EC_COMPLETE, player.RunToEnd());
        EXPECT_EQ(plainFrames, player.Counter()->frames.load());
        EXPECT_GT(plainFrames, 0);
        std::printf(
            "%s: %d frames delivered, as from the plain file; ffprobe counts %d in the clear original\n",
            tivo.c_str(), plainFrames, ExpectedFrames(original));
    }
};

std::string Vector(const std::string& name) {
    return EnvOr("KORVANE_VECTORS", ".") + "\\" + name;
}

// The payload of an encrypted recording as media's view reads it, written as a plain file.
std::string ClearPayloadOf(const std::string& tivoPath, const std::string& plain) {
    media::TivoParseOptions options;
    options.mediaAccessKeys = {kKey};
    media::TivoFile tivo;
    std::string error;
    EXPECT_EQ(media::TivoStatus::Ok, media::ParseTivoFile(tivoPath, &tivo, &error, options)) << error;
    media::FileByteSource bytes;
    EXPECT_TRUE(bytes.Open(tivoPath, &error)) << error;
    media::PayloadView view(bytes, tivo, tivo.keys);
    std::vector<uint8_t> payload(tivo.payloadSize);
    EXPECT_EQ(payload.size(), view.ReadAt(0, payload.data(), payload.size()));
    WriteFileBytes(plain, payload);
    return plain;
}

// Wine's GStreamer path here never delivers the frames of the first half second or so, from
// a plain file through Wine's own file source too (86 of ffprobe's 100 for ac3.mpg): what
// a .TiVo must match is what the same parser delivers from the plain file.
TEST_F(PlaybackTest, RecordingsPlayLikeTheirPlainFiles) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::string ps = MaterialDir() + "\\ac3.mpg", ts = Vector("ts-mpeg2-ac3.ts");
    ExpectPlaysLikeThePlainFile(WrapAsTivo(ps, m_scratch.Path("ps.TiVo")), ps, "ac3.mpg");
    ExpectPlaysLikeThePlainFile(WrapAsTivo(ps, m_scratch.Path("ps-encrypted.TiVo"), kKey), ps, "ac3.mpg");
    ExpectPlaysLikeThePlainFile(Vector("ps-mpeg2-ac3.TiVo"), Vector("ps-mpeg2-ac3.mpg"), "ps-mpeg2-ac3.mpg");
    ExpectPlaysLikeThePlainFile(WrapAsTivo(ts, m_scratch.Path("ts.TiVo")), ts, "ts-mpeg2-ac3.ts");
    // An encrypted transport stream carries TiVo's key packets, which the reader turns into
    // null packets: the splitter estimates a transport stream's duration from its size, so
    // the plain file to match is the reader's bytes, the same packets.
    for (const std::string& tivo :
         {WrapAsTivo(ts, m_scratch.Path("ts-encrypted.TiVo"), kKey), Vector("ts-mpeg2-ac3.TiVo")})
        ExpectPlaysLikeThePlainFile(tivo, ClearPayloadOf(tivo, m_scratch.Path("view.ts")), "ts-mpeg2-ac3.ts");
}

// A seek through the parser restarts the stream there, as from the plain file: the new
// segment starts at the same place and the same frames come. (Wine's splitter here seeks
// within what it delivers at all: near the end of the short transport stream it delivers
// from where it always starts.)
TEST_F(PlaybackTest, SeekingDeliversFramesFromThere) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    const std::string ps = MaterialDir() + "\\ac3.mpg";
    const std::string psTivo = WrapAsTivo(ps, m_scratch.Path("ps.TiVo"), kKey);
    const std::string tsTivo = Vector("ts-mpeg2-ac3.TiVo");
    const std::string ts = ClearPayloadOf(tsTivo, m_scratch.Path("view.ts"));
    struct Seek {
        REFERENCE_TIME segmentStart;
        int frames;
    };
    const auto seek = [](const std::string& file, int eighths) -> Seek {
        Player player(file);
        EXPECT_HRESULT_SUCCEEDED(player.Rendered());
        const REFERENCE_TIME position = player.Duration() * eighths / 8;
        player.CountFrames();
        player.SeekTo(position);
        EXPECT_EQ(EC_COMPLETE, player.RunToEnd());
        return {player.Counter()->segmentStart.load(), player.Counter()->frames.load()};
    };
    for (const auto& [tivo, plain] : {std::pair{psTivo, ps}, std::pair{tsTivo, ts}}) {
        SCOPED_TRACE(tivo);
        for (const int eighths : {4, 7}) {
            const Seek fromPlain = seek(plain, eighths), fromTivo = seek(tivo, eighths);
            EXPECT_EQ(fromPlain.segmentStart, fromTivo.segmentStart) << eighths;
            EXPECT_EQ(fromPlain.frames, fromTivo.frames) << eighths;
        }
    }
    // From the middle of the program stream, the frames of its second half.
    const Seek middle = seek(psTivo, 4);
    EXPECT_GT(middle.segmentStart, 0);
    EXPECT_GT(middle.frames, 0);
    EXPECT_LT(middle.frames, ExpectedFrames("ac3.mpg") * 2 / 3);
}

// What the source's IAsyncReader gives: the payload as media's view reads it, at any offset
// and size, through synchronous reads and requests alike, and nothing while flushing.
TEST_F(PlaybackTest, TheReaderGivesTheClearPayloadAnywhere) {
    ASSERT_EQ(S_OK, filters::RememberKey(kKey));
    std::vector<std::string> files;
    for (const char* name : {"ac3.mpg", "large_packets.mpg", "ts_mpeg2_ac3.ts", "ts_h264_ac3.ts"})
        files.push_back(WrapAsTivo(name, m_scratch.Path(std::string(name) + ".TiVo"), kKey));
    for (const char* name :
         {"ps-mpeg2-ac3.TiVo", "ps-mpeg2-mp2-large.TiVo", "ts-mpeg2-ac3.TiVo", "ts-h264-ac3.TiVo"})
        files.push_back(Vector(name));
    files.push_back(WrapAsTivo("ac3.mpg", m_scratch.Path("clear.TiVo")));
    std::mt19937 random(20261207);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        media::TivoParseOptions options;
        options.mediaAccessKeys = {kKey};
        media::TivoFile tivo;
        std::string error;
        ASSERT_EQ(media::TivoStatus::Ok, media::ParseTivoFile(file, &tivo, &error, options)) << error;
        media::FileByteSource bytes;
        ASSERT_TRUE(bytes.Open(file, &error)) << error;
        std::vector<uint8_t> expected(tivo.payloadSize);
        if (tivo.scrambled) {
            media::PayloadView view(bytes, tivo, tivo.keys);
            ASSERT_EQ(expected.size(), view.ReadAt(0, expected.data(), expected.size()));
        } else {
            ASSERT_EQ(expected.size(), bytes.ReadAt(tivo.payloadOffset, expected.data(), expected.size()));
        }

        auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(S_OK, graph->AddSourceFilter(Widen(file).c_str(), nullptr, source.Out()));
        ComPtr<IAsyncReader> reader;
        ASSERT_EQ(S_OK, Query(Pin(source.Get(), L"Output").Get(), reader));
        LONGLONG total = 0, available = 0;
        ASSERT_EQ(S_OK, reader->Length(&total, &available));
        ASSERT_EQ(static_cast<LONGLONG>(expected.size()), total);
        EXPECT_EQ(total, available);

        std::vector<uint8_t> got(1 << 20);
        for (int i = 0; i < 10000; ++i) {
            const LONGLONG at = std::uniform_int_distribution<LONGLONG>(0, total)(random);
            const LONG size = std::uniform_int_distribution<LONG>(1, i % 10 ? 4096 : 1 << 20)(random);
            const LONG inside = static_cast<LONG>(std::min<LONGLONG>(size, total - at));
            ASSERT_EQ(inside == size ? S_OK : S_FALSE, reader->SyncRead(at, size, got.data()))
                << at << " " << size;
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + inside, expected.begin() + at))
                << at << " " << size;
        }

        ALLOCATOR_PROPERTIES wanted{3, 65536, 1, 0};
        ComPtr<IMemAllocator> allocator;
        ASSERT_EQ(S_OK, reader->RequestAllocator(nullptr, &wanted, allocator.Out()));
        ASSERT_EQ(S_OK, allocator->Commit());
        for (const LONGLONG at : {LONGLONG(0), LONGLONG(65536), LONGLONG(12345), total - 1000}) {
            ComPtr<IMediaSample> sample;
            ASSERT_EQ(S_OK, allocator->GetBuffer(sample.Out(), nullptr, nullptr, 0));
            REFERENCE_TIME start = at * kSecond, stop = (at + 65536) * kSecond;
            sample->SetTime(&start, &stop);
            ASSERT_EQ(S_OK, reader->Request(sample.Get(), static_cast<DWORD_PTR>(at)));
            IMediaSample* done = nullptr;
            DWORD_PTR user = 0;
            const HRESULT hr = reader->WaitForNext(5000, &done, &user);
            ASSERT_EQ(at + 65536 <= total ? S_OK : S_FALSE, hr);
            ASSERT_EQ(sample.Get(), done);
            EXPECT_EQ(static_cast<DWORD_PTR>(at), user);
            BYTE* data = nullptr;
            done->GetPointer(&data);
            const LONG length = done->GetActualDataLength();
            EXPECT_EQ(std::min<LONGLONG>(65536, total - at), length);
            EXPECT_TRUE(std::equal(data, data + length, expected.begin() + at));
            ComPtr<IMediaSample> aligned;
            ASSERT_EQ(S_OK, allocator->GetBuffer(aligned.Out(), nullptr, nullptr, 0));
            aligned->SetTime(&start, &stop);
            EXPECT_EQ(hr, reader->SyncReadAligned(aligned.Get()));
        }
        IMediaSample* none = nullptr;
        DWORD_PTR user = 0;
        EXPECT_EQ(VFW_E_TIMEOUT, reader->WaitForNext(10, &none, &user));
        ASSERT_EQ(S_OK, reader->BeginFlush());
        EXPECT_EQ(VFW_E_WRONG_STATE, reader->WaitForNext(INFINITE, &none, &user));
        {
            ComPtr<IMediaSample> sample;
            ASSERT_EQ(S_OK, allocator->GetBuffer(sample.Out(), nullptr, nullptr, 0));
            REFERENCE_TIME start = 0, stop = 4096 * kSecond;
            sample->SetTime(&start, &stop);
            EXPECT_EQ(VFW_E_WRONG_STATE, reader->Request(sample.Get(), 0));
        }
        ASSERT_EQ(S_OK, reader->EndFlush());
        allocator->Decommit();
    }
}

// A player that opens the file on the thread of its window is asked for the key over it, as
// the conversion is; the recording then plays and the key is remembered.
TEST_F(PlaybackTest, APlayersWindowIsAskedForAKeyNotStored) {
    const std::string tivo = WrapAsTivo(MaterialDir() + "\\ac3.mpg", m_scratch.Path("ps.TiVo"), kKey);
    HWND window = CreateWindowExW(0, L"STATIC", L"Korvane test player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10,
                                  10, 300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(window);
    HWND dialogOwner = nullptr;
    DialogScript script;
    script.Expect("TiVo Media Access Key", [&](HWND dialog) {
        dialogOwner = GetWindow(dialog, GW_OWNER);
        SetDlgItemTextA(dialog, IDC_KEY_EDIT, kKey);
        ClickButton(dialog, "OK");
    });
    {
        Player player(tivo);
        EXPECT_HRESULT_SUCCEEDED(player.Rendered());
        player.CountFrames();
        EXPECT_EQ(EC_COMPLETE, player.RunToEnd());
        EXPECT_GT(player.Counter()->frames.load(), 0);
    }
    DestroyWindow(window);
    EXPECT_TRUE(script.AllAnswered());
    EXPECT_EQ(window, dialogOwner);
    EXPECT_EQ(std::vector<std::string>{kKey}, filters::StoredKeys());
}

// A player's thread has no window to ask over: without a stored key the file does not
// render, and nothing of the pack stays alive (checked as every test ends).
TEST_F(PlaybackTest, WithoutAStoredKeyAnEncryptedRecordingDoesNotRender) {
    Player player(WrapAsTivo(MaterialDir() + "\\ac3.mpg", m_scratch.Path("ps.TiVo"), kKey));
    EXPECT_TRUE(FAILED(player.Rendered()));
    EXPECT_FALSE(Contains(ClassesIn(player.Graph()), classids::kTivoSource));
}

}  // namespace
}  // namespace korvane::test
