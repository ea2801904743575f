// Each filter on its own and in pairs, straight through its COM interfaces as Wine's quartz
// calls them: what a conversion never exercises (refusals, reference counts, pin rules).
#include "GraphSupport.h"

namespace korvane::test {
namespace {

using ConformanceTest = PackTest;
using Names = std::vector<std::wstring>;

// A loaded source for a material stream.
ComPtr<IBaseFilter> LoadedSource(const std::string& tivo) {
    ComPtr<IBaseFilter> source = Create<IBaseFilter>(classids::kTivoSource);
    ComPtr<IFileSourceFilter> file;
    EXPECT_EQ(S_OK, Query(source.Get(), file));
    EXPECT_EQ(S_OK, file->Load(Widen(tivo).c_str(), nullptr));
    return source;
}

TEST_F(ConformanceTest, EachFilterHasItsInterfacesAndPins) {
    const struct {
        const GUID& clsid;
        bool sink, source, renderer;
        Names inputs, outputs;  // the source has none before it loads a file
    } filters[] = {{classids::kDemultiplexer, false, false, false, {L"Input"}, {}},
                   {classids::kMultiplexer, false, false, false, {L"Input 1"}, {L"Output"}},
                   {classids::kFileDump, true, false, true, {L"Input"}, {}},
                   {classids::kTivoSource, false, true, false, {}, {}}};
    for (const auto& f : filters) {
        ComPtr<IBaseFilter> filter = Create<IBaseFilter>(f.clsid);
        ASSERT_TRUE(filter);
        EXPECT_EQ(1, RefCount(filter.Get()));
        ComPtr<IPersist> persist;
        ComPtr<IMediaFilter> media;
        ComPtr<IFileSinkFilter> sink;
        ComPtr<IFileSourceFilter> source;
        ComPtr<IAMFilterMiscFlags> flags;
        ComPtr<IPin> notAPin;
        EXPECT_EQ(S_OK, Query(filter.Get(), persist));
        EXPECT_EQ(S_OK, Query(filter.Get(), media));
        EXPECT_EQ(f.sink ? S_OK : E_NOINTERFACE, Query(filter.Get(), sink));
        EXPECT_EQ(f.source ? S_OK : E_NOINTERFACE, Query(filter.Get(), source));
        EXPECT_EQ(f.renderer ? S_OK : E_NOINTERFACE, Query(filter.Get(), flags));
        EXPECT_EQ(E_NOINTERFACE, Query(filter.Get(), notAPin));
        EXPECT_EQ(3 + f.sink + f.source + f.renderer, RefCount(filter.Get()));
        CLSID clsid;
        EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
        EXPECT_TRUE(IsEqualCLSID(clsid, f.clsid));
        // Without the renderer flag Wine counts no renderer and never completes the graph.
        if (flags) {
            EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());
        }
        EXPECT_EQ(f.inputs, PinNames(filter.Get(), PINDIR_INPUT));
        EXPECT_EQ(f.outputs, PinNames(filter.Get(), PINDIR_OUTPUT));
    }
}

TEST_F(ConformanceTest, ClassFactoryRefusesAggregation) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, CoGetClassObject(classids::kMultiplexer, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.Out())));
    ComPtr<IUnknown> object;
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(factory.Get(), IID_IUnknown, reinterpret_cast<void**>(object.Out())));
    EXPECT_EQ(E_NOINTERFACE,
              factory->CreateInstance(nullptr, IID_IFileSinkFilter, reinterpret_cast<void**>(object.Out())));
    EXPECT_FALSE(object);
}

// Source, demultiplexer, multiplexer and dump joined pin by pin, then taken apart again.
TEST_F(ConformanceTest, PinsConnectAndDisconnectByTheRules) {
    ComPtr<IBaseFilter> source = LoadedSource(WrapAsTivo("two_audio.mpg", m_scratch.Path("a.TiVo"))),
                        demux = Create<IBaseFilter>(classids::kDemultiplexer),
                        mux = Create<IBaseFilter>(classids::kMultiplexer),
                        dump = Create<IBaseFilter>(classids::kFileDump);
    const LONG refs[] = {RefCount(source.Get()), RefCount(demux.Get()), RefCount(mux.Get()),
                         RefCount(dump.Get())};
    ComPtr<IPin> out = Pin(source.Get(), L"Output"), demuxIn = Pin(demux.Get(), L"Input"),
                 muxIn = Pin(mux.Get(), L"Input 1"), muxOut = Pin(mux.Get(), L"Output"),
                 dumpIn = Pin(dump.Get(), L"Input");

    // The shared pin enumerator: a short last batch, a count it cannot return, skips, clones.
    ComPtr<IEnumPins> pins, clone;
    ASSERT_EQ(S_OK, mux->EnumPins(pins.Out()));
    IPin* got[3] = {};
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(1));
    EXPECT_EQ(S_FALSE, pins->Skip(5));
    EXPECT_EQ(S_OK, pins->Clone(clone.Out()));
    EXPECT_EQ(S_FALSE, clone->Next(1, got, nullptr));

    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(muxIn.Get(), nullptr));
    ASSERT_EQ(S_OK, demux->EnumPins(pins.Out()));
    ASSERT_EQ(S_OK, out->Connect(demuxIn.Get(), nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, out->Connect(demuxIn.Get(), nullptr));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(1, got, nullptr));  // the demultiplexer grew pins
    EXPECT_EQ((Names{L"Video E0", L"Audio C0", L"AC-3 BD.80"}), PinNames(demux.Get(), PINDIR_OUTPUT));

    // The multiplexer grows a free input after each connection, and takes each stream once.
    ComPtr<IPin> video = Pin(demux.Get(), L"Video E0"), audio = Pin(demux.Get(), L"Audio C0");
    ASSERT_EQ(S_OK, video->Connect(muxIn.Get(), nullptr));
    ComPtr<IPin> muxIn2 = Pin(mux.Get(), L"Input 2");
    ASSERT_TRUE(muxIn2);
    ComPtr<IEnumMediaTypes> videoTypes;
    AM_MEDIA_TYPE* videoType = nullptr;
    ASSERT_EQ(S_OK, video->EnumMediaTypes(videoTypes.Out()));
    ASSERT_EQ(S_OK, videoTypes->Next(1, &videoType, nullptr));
    EXPECT_EQ(S_FALSE, muxIn2->QueryAccept(videoType));
    DeleteEnumeratedMediaType(videoType);
    ASSERT_EQ(S_OK, audio->Connect(muxIn2.Get(), nullptr));
    EXPECT_EQ(3u, PinNames(mux.Get(), PINDIR_INPUT).size());
    ASSERT_EQ(S_OK, muxOut->Connect(dumpIn.Get(), nullptr));

    // Disconnection needs a stopped filter.
    ComPtr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, Query(dump.Get(), sink));
    ASSERT_EQ(S_OK, sink->SetFileName(Widen(m_scratch.Path("connect.mpg")).c_str(), nullptr));
    ASSERT_EQ(S_OK, mux->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, muxIn->Disconnect());
    ASSERT_EQ(S_OK, mux->Stop());
    for (IPin* p : {out.Get(), demuxIn.Get(), video.Get(), muxIn.Get(), audio.Get(), muxIn2.Get(),
                    muxOut.Get(), dumpIn.Get()})
        EXPECT_EQ(S_OK, p->Disconnect());
    EXPECT_EQ(S_FALSE, out->Disconnect());
    // The demultiplexer's outputs go with its input connection, and every peer's reference
    // comes back.
    EXPECT_TRUE(PinNames(demux.Get(), PINDIR_OUTPUT).empty());
    video.Reset();
    audio.Reset();
    pins.Reset();
    clone.Reset();
    videoTypes.Reset();
    sink.Reset();
    const LONG pinRefs[] = {1, 1, 3, 1};  // the pins still held here
    IBaseFilter* all[] = {source.Get(), demux.Get(), mux.Get(), dump.Get()};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(refs[i] + pinRefs[i], RefCount(all[i])) << i;
}

// A pull-mode pin never pushes a sample: connecting one would leave a graph that runs forever,
// so the demultiplexer refuses Wine's File Source (Async.), even with a type it would take
// from our source, and any stream type without our stream list.
TEST_F(ConformanceTest, PullModeUpstreamIsRefused) {
    const std::string tivo = WrapAsTivo("mp2.mpg", m_scratch.Path("pull.TiVo"));
    ComPtr<IBaseFilter> reader = Create<IBaseFilter>(CLSID_AsyncReader), source = LoadedSource(tivo),
                        demux = Create<IBaseFilter>(classids::kDemultiplexer);
    ComPtr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, Query(reader.Get(), file));
    ASSERT_EQ(S_OK, file->Load(Widen(tivo).c_str(), nullptr));
    ComPtr<IPin> pull = Pin(reader.Get(), L"Output"), ours = Pin(source.Get(), L"Output"),
                 demuxIn = Pin(demux.Get(), L"Input");
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, ours->EnumMediaTypes(types.Out()));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(VFW_E_NO_TRANSPORT, demuxIn->ReceiveConnection(pull.Get(), mt));
    DeleteEnumeratedMediaType(mt);
    EXPECT_HRESULT_FAILED(pull->Connect(demuxIn.Get(), nullptr));
    AM_MEDIA_TYPE plain = {};
    plain.majortype = MEDIATYPE_Stream;
    plain.subtype = MEDIASUBTYPE_MPEG2_PROGRAM;
    EXPECT_EQ(S_FALSE, demuxIn->QueryAccept(&plain));
}

}  // namespace
}  // namespace korvane::test
