// Conformance of each filter on its own and in pairs, in the manner of Wine's quartz tests:
// every HRESULT and reference count checked, nothing left alive at the end.
#include <gtest/gtest.h>

#include "GraphSupport.h"

namespace korvane::test {
namespace {

class ConformanceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override {
        KorvaneLiveObjects live = LiveObjects();
        EXPECT_EQ(0, live.filters);
        EXPECT_EQ(0, live.pins);
        EXPECT_EQ(0, live.enumerators);
        EXPECT_EQ(0, live.allocators);
        EXPECT_EQ(0, live.samples);
        CoUninitialize();
    }
    static void Create(const CLSID& clsid, Ptr<IBaseFilter>& filter) {
        ASSERT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         reinterpret_cast<void**>(&filter)));
    }
    // A loaded source for a material stream.
    static void LoadSource(const std::string& material, Ptr<IBaseFilter>& source) {
        std::string tivo = WrapAsTivo(MaterialDir() + "\\" + material, WorkDir() + "\\" + material + ".TiVo");
        ASSERT_FALSE(tivo.empty());
        Create(kSourceClsid, source);
        Ptr<IFileSourceFilter> file;
        ASSERT_EQ(S_OK, source->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&file)));
        ASSERT_EQ(S_OK, file->Load(Widen(tivo).c_str(), nullptr));
    }
    static void GetPin(IBaseFilter* filter, const wchar_t* name, Ptr<IPin>& pin) {
        ASSERT_EQ(S_OK, filter->FindPin(name, &pin));
    }
};

TEST_F(ConformanceTest, InterfacesAndReferenceCounts) {
    struct Expect {
        const CLSID* clsid;
        bool sink, source, renderer;
    } filters[] = {{&kDemuxClsid, false, false, false},
                   {&kMuxClsid, false, false, false},
                   {&kDumpClsid, true, false, true},
                   {&kSourceClsid, false, true, false}};
    for (const Expect& e : filters) {
        Ptr<IBaseFilter> filter;
        Create(*e.clsid, filter);
        EXPECT_EQ(1, RefCount(filter));
        Ptr<IUnknown> unknown;
        Ptr<IMediaFilter> media;
        Ptr<IPersist> persist;
        EXPECT_EQ(S_OK, filter.As(&unknown, IID_IUnknown));
        EXPECT_EQ(S_OK, filter.As(&media, IID_IMediaFilter));
        EXPECT_EQ(S_OK, filter.As(&persist, IID_IPersist));
        EXPECT_EQ(4, RefCount(filter));
        CLSID clsid;
        EXPECT_EQ(S_OK, persist->GetClassID(&clsid));
        EXPECT_TRUE(IsEqualCLSID(clsid, *e.clsid));
        Ptr<IFileSinkFilter> sink;
        EXPECT_EQ(e.sink ? S_OK : E_NOINTERFACE, filter.As(&sink, IID_IFileSinkFilter));
        Ptr<IFileSourceFilter> source;
        EXPECT_EQ(e.source ? S_OK : E_NOINTERFACE, filter.As(&source, IID_IFileSourceFilter));
        Ptr<IAMFilterMiscFlags> flags;
        EXPECT_EQ(e.renderer ? S_OK : E_NOINTERFACE, filter.As(&flags, IID_IAMFilterMiscFlags));
        if (flags) {
            EXPECT_EQ(static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_RENDERER), flags->GetMiscFlags());
        }
        Ptr<IPin> notAPin;
        EXPECT_EQ(E_NOINTERFACE, filter.As(&notAPin, IID_IPin));
        EXPECT_EQ(E_POINTER, filter->QueryInterface(IID_IBaseFilter, nullptr));
        FILTER_STATE state;
        EXPECT_EQ(S_OK, filter->GetState(0, &state));
        EXPECT_EQ(State_Stopped, state);
        FILTER_INFO info;
        EXPECT_EQ(S_OK, filter->QueryFilterInfo(&info));
        EXPECT_EQ(nullptr, info.pGraph);
    }
}

TEST_F(ConformanceTest, ClassFactoryRefusesAggregation) {
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, CoGetClassObject(kMuxClsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     reinterpret_cast<void**>(&factory)));
    IUnknown* object = nullptr;
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(E_NOINTERFACE,
              factory->CreateInstance(nullptr, IID_IFileSinkFilter, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(nullptr, object);
    factory->Release();
    EXPECT_EQ(0, LiveObjects().classFactories);
}

TEST_F(ConformanceTest, PinsDirectionsNamesAndEnumeration) {
    Ptr<IBaseFilter> dump, mux, demux, source;
    Create(kDumpClsid, dump);
    Create(kMuxClsid, mux);
    Create(kDemuxClsid, demux);
    Create(kSourceClsid, source);
    EXPECT_EQ(std::vector<std::wstring>{L"Input"}, PinNames(dump, PINDIR_INPUT));
    EXPECT_TRUE(PinNames(dump, PINDIR_OUTPUT).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"Input 1"}, PinNames(mux, PINDIR_INPUT));
    EXPECT_EQ(std::vector<std::wstring>{L"Output"}, PinNames(mux, PINDIR_OUTPUT));
    EXPECT_EQ(std::vector<std::wstring>{L"Input"}, PinNames(demux, PINDIR_INPUT));
    EXPECT_TRUE(PinNames(demux, PINDIR_OUTPUT).empty());
    EXPECT_TRUE(PinNames(source, PINDIR_OUTPUT).empty());  // no pin before Load

    Ptr<IEnumPins> pins;
    ASSERT_EQ(S_OK, mux->EnumPins(&pins));
    IPin* got[3] = {};
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(4, RefCount(mux));  // ours, the enumerator's, two pins'
    for (ULONG i = 0; i < fetched; ++i)
        got[i]->Release();
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(1));
    EXPECT_EQ(S_FALSE, pins->Skip(5));
    Ptr<IEnumPins> clone;
    EXPECT_EQ(S_OK, pins->Clone(&clone));
    EXPECT_EQ(S_FALSE, clone->Next(1, got, nullptr));

    Ptr<IPin> pin;
    GetPin(mux, L"Output", pin);
    PIN_INFO info;
    ASSERT_EQ(S_OK, pin->QueryPinInfo(&info));
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(static_cast<IBaseFilter*>(mux), info.pFilter);
    info.pFilter->Release();
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, pin->QueryId(&id));
    EXPECT_STREQ(L"Output", id);
    CoTaskMemFree(id);
    PIN_DIRECTION direction;
    EXPECT_EQ(S_OK, pin->QueryDirection(&direction));
    EXPECT_EQ(PINDIR_OUTPUT, direction);
    Ptr<IPin> none;
    EXPECT_EQ(VFW_E_NOT_FOUND, mux->FindPin(L"Input 2", &none));
    IPin* peer = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectedTo(&peer));
    EXPECT_EQ(nullptr, peer);
    AM_MEDIA_TYPE mt;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, pin->ConnectionMediaType(&mt));
    Ptr<IMemInputPin> transport;
    EXPECT_EQ(E_NOINTERFACE, pin.As(&transport, IID_IMemInputPin));
}

TEST_F(ConformanceTest, MediaTypesAndQueryAccept) {
    Ptr<IBaseFilter> source, demux, mux, dump;
    LoadSource("two_audio.mpg", source);
    Create(kDemuxClsid, demux);
    Create(kMuxClsid, mux);
    Create(kDumpClsid, dump);
    Ptr<IPin> out, demuxIn, muxIn, muxOut, dumpIn;
    GetPin(source, L"Output", out);
    GetPin(demux, L"Input", demuxIn);
    GetPin(mux, L"Input 1", muxIn);
    GetPin(mux, L"Output", muxOut);
    GetPin(dump, L"Input", dumpIn);

    Ptr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* mt[2] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_FALSE, types->Next(2, mt, &fetched));
    ASSERT_EQ(1u, fetched);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Stream, mt[0]->majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt[0]->subtype));
    EXPECT_EQ(S_OK, demuxIn->QueryAccept(mt[0]));
    EXPECT_EQ(S_FALSE, muxIn->QueryAccept(mt[0]));
    EXPECT_EQ(S_OK, dumpIn->QueryAccept(mt[0]));  // a dump takes anything
    EXPECT_EQ(S_OK, out->QueryAccept(mt[0]));
    // What File Source (Async.) offers for an unrecognised file: refused.
    AM_MEDIA_TYPE plain = {};
    plain.majortype = MEDIATYPE_Stream;
    plain.subtype = MEDIASUBTYPE_MPEG1System;
    EXPECT_EQ(S_FALSE, demuxIn->QueryAccept(&plain));
    plain.subtype = MEDIASUBTYPE_MPEG2_PROGRAM;
    EXPECT_EQ(S_FALSE, demuxIn->QueryAccept(&plain));
    FreeMediaType(mt[0]);
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_FALSE, types->Skip(2));

    Ptr<IEnumMediaTypes> muxTypes;
    ASSERT_EQ(S_OK, muxOut->EnumMediaTypes(&muxTypes));
    ASSERT_EQ(S_OK, muxTypes->Next(1, mt, nullptr));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt[0]->subtype));
    FreeMediaType(mt[0]);
}

// Connection and disconnection without a graph, straight through IPin, as Wine's graph does.
TEST_F(ConformanceTest, ConnectAndDisconnect) {
    Ptr<IBaseFilter> source, demux, mux, dump;
    LoadSource("two_audio.mpg", source);
    Create(kDemuxClsid, demux);
    Create(kMuxClsid, mux);
    Create(kDumpClsid, dump);
    Ptr<IPin> out, demuxIn, muxIn, muxOut, dumpIn;
    GetPin(source, L"Output", out);
    GetPin(demux, L"Input", demuxIn);
    GetPin(mux, L"Input 1", muxIn);
    GetPin(mux, L"Output", muxOut);
    GetPin(dump, L"Input", dumpIn);

    EXPECT_EQ(VFW_E_INVALID_DIRECTION, out->Connect(out, nullptr));
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(muxIn, nullptr));
    EXPECT_EQ(E_UNEXPECTED, demuxIn->Connect(out, nullptr));

    Ptr<IEnumPins> before;
    ASSERT_EQ(S_OK, demux->EnumPins(&before));
    ASSERT_EQ(S_OK, out->Connect(demuxIn, nullptr));
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, out->Connect(demuxIn, nullptr));
    IPin* pin = nullptr;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, before->Next(1, &pin, nullptr));
    EXPECT_EQ(S_OK, before->Reset());
    // Video, MPEG audio and AC-3, in that order, known before any sample has flowed.
    EXPECT_EQ((std::vector<std::wstring>{L"Video E0", L"Audio C0", L"AC-3 BD.80"}),
              PinNames(demux, PINDIR_OUTPUT));
    Ptr<IPin> peer;
    ASSERT_EQ(S_OK, demuxIn->ConnectedTo(&peer));
    EXPECT_EQ(out.Get(), peer.Get());
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, demuxIn->ConnectionMediaType(&mt));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt.subtype));
    CoTaskMemFree(mt.pbFormat);

    Ptr<IMemInputPin> transport;
    ASSERT_EQ(S_OK, demuxIn.As(&transport, IID_IMemInputPin));
    IMemAllocator* allocator = reinterpret_cast<IMemAllocator*>(1);
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, transport->GetAllocator(&allocator));
    EXPECT_EQ(nullptr, allocator);
    EXPECT_EQ(S_OK, transport->ReceiveCanBlock());

    // The multiplexer grows a free input after each connection.
    Ptr<IPin> video, audio;
    GetPin(demux, L"Video E0", video);
    GetPin(demux, L"Audio C0", audio);
    ASSERT_EQ(S_OK, video->Connect(muxIn, nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"Input 1", L"Input 2"}), PinNames(mux, PINDIR_INPUT));
    Ptr<IPin> muxIn2;
    GetPin(mux, L"Input 2", muxIn2);
    // One stream per multiplexer input: the video stream cannot come in twice.
    Ptr<IEnumMediaTypes> videoTypes;
    ASSERT_EQ(S_OK, video->EnumMediaTypes(&videoTypes));
    AM_MEDIA_TYPE* vt = nullptr;
    ASSERT_EQ(S_OK, videoTypes->Next(1, &vt, nullptr));
    EXPECT_EQ(S_FALSE, muxIn2->QueryAccept(vt));
    FreeMediaType(vt);
    ASSERT_EQ(S_OK, audio->Connect(muxIn2, nullptr));
    EXPECT_EQ(3u, PinNames(mux, PINDIR_INPUT).size());
    ASSERT_EQ(S_OK, muxOut->Connect(dumpIn, nullptr));

    // Flushing and end of stream belong to input pins; an input passes them on downstream.
    EXPECT_EQ(E_UNEXPECTED, out->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, out->EndOfStream());
    EXPECT_EQ(S_OK, demuxIn->BeginFlush());
    EXPECT_EQ(S_FALSE, demuxIn->EndOfStream());  // refused while flushing
    EXPECT_EQ(S_OK, demuxIn->EndFlush());
    EXPECT_EQ(S_OK, demuxIn->NewSegment(0, 0, 1.0));

    // Disconnection needs a stopped filter.
    Ptr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink, IID_IFileSinkFilter));
    ASSERT_EQ(S_OK, sink->SetFileName(Widen(WorkDir() + "\\connect.mpg").c_str(), nullptr));
    ASSERT_EQ(S_OK, mux->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, muxIn->Disconnect());
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, muxOut->Connect(dumpIn, nullptr));
    ASSERT_EQ(S_OK, mux->Stop());

    for (IPin* p : {out.Get(), demuxIn.Get(), video.Get(), muxIn.Get(), audio.Get(), muxIn2.Get(),
                    muxOut.Get(), dumpIn.Get()})
        EXPECT_EQ(S_OK, p->Disconnect());
    EXPECT_EQ(S_FALSE, out->Disconnect());
    // The demultiplexer's outputs go with its input connection.
    EXPECT_TRUE(PinNames(demux, PINDIR_OUTPUT).empty());
}

// A pull-mode pin never pushes a sample: connecting one would leave a graph that runs
// forever, so the demultiplexer refuses Wine's File Source (Async.) even with a type it
// would take from our source.
TEST_F(ConformanceTest, PullModeUpstreamIsRefused) {
    std::string tivo = WrapAsTivo(MaterialDir() + "\\mp2.mpg", WorkDir() + "\\pull.TiVo");
    Ptr<IBaseFilter> reader, source, demux;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_AsyncReader, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                     reinterpret_cast<void**>(&reader)));
    Ptr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, reader.As(&file, IID_IFileSourceFilter));
    ASSERT_EQ(S_OK, file->Load(Widen(tivo).c_str(), nullptr));
    LoadSource("mp2.mpg", source);
    Create(kDemuxClsid, demux);
    Ptr<IPin> pull, ours, demuxIn;
    GetPin(reader, L"Output", pull);
    GetPin(source, L"Output", ours);
    GetPin(demux, L"Input", demuxIn);
    Ptr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, ours->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* mt = nullptr;
    ASSERT_EQ(S_OK, types->Next(1, &mt, nullptr));
    EXPECT_EQ(VFW_E_NO_TRANSPORT, demuxIn->ReceiveConnection(pull, mt));
    FreeMediaType(mt);
    EXPECT_HRESULT_FAILED(pull->Connect(demuxIn, nullptr));
    IPin* peer = nullptr;
    EXPECT_EQ(VFW_E_NOT_CONNECTED, demuxIn->ConnectedTo(&peer));
}

// Connections hold references on their peers, and give them back when they end.
TEST_F(ConformanceTest, ConnectionsGiveTheirReferencesBack) {
    Ptr<IBaseFilter> source, demux, mux;
    LoadSource("mp2.mpg", source);
    Create(kDemuxClsid, demux);
    Create(kMuxClsid, mux);
    Ptr<IPin> out, demuxIn, muxIn;
    GetPin(source, L"Output", out);
    GetPin(demux, L"Input", demuxIn);
    GetPin(mux, L"Input 1", muxIn);
    const LONG sourceRefs = RefCount(source), demuxRefs = RefCount(demux), muxRefs = RefCount(mux);
    ASSERT_EQ(S_OK, out->Connect(demuxIn, nullptr));
    EXPECT_EQ(sourceRefs + 1, RefCount(source));  // the input's peer
    EXPECT_EQ(demuxRefs + 2, RefCount(demux));    // the output's peer and its IMemInputPin
    Ptr<IPin> video;
    GetPin(demux, L"Video E0", video);
    ASSERT_EQ(S_OK, video->Connect(muxIn, nullptr));
    EXPECT_EQ(muxRefs + 2, RefCount(mux));
    EXPECT_EQ(demuxRefs + 4, RefCount(demux));  // and our video pin, and the multiplexer's peer
    for (IPin* p : {video.Get(), muxIn.Get(), out.Get(), demuxIn.Get()})
        EXPECT_EQ(S_OK, p->Disconnect());
    video.Reset();
    EXPECT_EQ(sourceRefs, RefCount(source));
    EXPECT_EQ(demuxRefs, RefCount(demux));
    EXPECT_EQ(muxRefs, RefCount(mux));
}

TEST_F(ConformanceTest, LateFirstAudioPacketStillGetsItsPin) {
    Ptr<IBaseFilter> source, demux;
    LoadSource("late_audio.mpg", source);
    Create(kDemuxClsid, demux);
    Ptr<IPin> out, demuxIn;
    GetPin(source, L"Output", out);
    GetPin(demux, L"Input", demuxIn);
    ASSERT_EQ(S_OK, out->Connect(demuxIn, nullptr));
    EXPECT_EQ((std::vector<std::wstring>{L"Video E0", L"Audio C0"}), PinNames(demux, PINDIR_OUTPUT));
    EXPECT_EQ(S_OK, out->Disconnect());
    EXPECT_EQ(S_OK, demuxIn->Disconnect());
}

TEST_F(ConformanceTest, SourceAndSinkFileNames) {
    Ptr<IBaseFilter> dump, source;
    Create(kDumpClsid, dump);
    Ptr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink, IID_IFileSinkFilter));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(E_FAIL, sink->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(E_POINTER, sink->SetFileName(nullptr, nullptr));
    ASSERT_EQ(S_OK, sink->SetFileName(L"C:\\x.mpg", nullptr));
    ASSERT_EQ(S_OK, sink->GetCurFile(&name, nullptr));
    EXPECT_STREQ(L"C:\\x.mpg", name);
    CoTaskMemFree(name);

    LoadSource("mp2.mpg", source);
    Ptr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source.As(&file, IID_IFileSourceFilter));
    EXPECT_EQ(E_UNEXPECTED, file->Load(L"C:\\other.TiVo", nullptr));
    AM_MEDIA_TYPE mt;
    ASSERT_EQ(S_OK, file->GetCurFile(&name, &mt));
    EXPECT_NE(nullptr, wcsstr(name, L"mp2.mpg.TiVo"));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_MPEG2_PROGRAM, mt.subtype));
    CoTaskMemFree(name);
    CoTaskMemFree(mt.pbFormat);
}

// A file that opens but cannot be converted loads, and its pin offers nothing to connect
// with. (Failing Load would leak the filter inside Wine 8's AddSourceFilter.)
TEST_F(ConformanceTest, AnUnusableFileLoadsButOffersNoMediaType) {
    std::string path = WorkDir() + "\\short.TiVo";
    WriteFileBytes(path, {'T', 'i', 'V', 'o', 0, 0});
    Ptr<IBaseFilter> source;
    Create(kSourceClsid, source);
    Ptr<IFileSourceFilter> file;
    ASSERT_EQ(S_OK, source.As(&file, IID_IFileSourceFilter));
    LPOLESTR name = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(S_OK, file->GetCurFile(&name, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), file->Load(L"C:\\no such file.TiVo", nullptr));
    EXPECT_TRUE(PinNames(source, PINDIR_OUTPUT).empty());
    EXPECT_EQ(S_OK, file->Load(Widen(path).c_str(), nullptr));
    EXPECT_EQ(E_UNEXPECTED, file->Load(Widen(path).c_str(), nullptr));
    Ptr<IPin> out;
    GetPin(source, L"Output", out);
    Ptr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, out->EnumMediaTypes(&types));
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, types->Next(1, &mt, &fetched));
    EXPECT_EQ(0u, fetched);
    Ptr<IBaseFilter> demux;
    Create(kDemuxClsid, demux);
    Ptr<IPin> demuxIn;
    GetPin(demux, L"Input", demuxIn);
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, out->Connect(demuxIn, nullptr));
    types.Reset();
    out.Reset();
    file.Reset();
    EXPECT_EQ(1, RefCount(source));
}

// The file dump alone: created on Pause, through Pause/Run/Stop cycles.
TEST_F(ConformanceTest, StateCycles) {
    Ptr<IBaseFilter> dump;
    Create(kDumpClsid, dump);
    Ptr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink, IID_IFileSinkFilter));
    std::string path = WorkDir() + "\\cycles.mpg";
    DeleteFileA(path.c_str());
    ASSERT_EQ(S_OK, sink->SetFileName(Widen(path).c_str(), nullptr));
    EXPECT_FALSE(FileExists(path));
    FILTER_STATE state;
    for (int cycle = 0; cycle < 3; ++cycle) {
        EXPECT_EQ(S_OK, dump->Pause());
        EXPECT_TRUE(FileExists(path));
        EXPECT_EQ(S_OK, dump->GetState(0, &state));
        EXPECT_EQ(State_Paused, state);
        EXPECT_EQ(S_OK, dump->Run(0));
        EXPECT_EQ(S_OK, dump->GetState(0, &state));
        EXPECT_EQ(State_Running, state);
        EXPECT_EQ(S_OK, dump->Pause());
        EXPECT_EQ(S_OK, dump->Stop());
        EXPECT_EQ(S_OK, dump->GetState(0, &state));
        EXPECT_EQ(State_Stopped, state);
        EXPECT_EQ(S_OK, dump->Run(0));  // straight from stopped
        EXPECT_EQ(S_OK, dump->Stop());
        EXPECT_EQ(S_OK, dump->Stop());
    }
}

// The whole graph through Wine's IMediaControl: Pause, Run and Stop, again and again.
TEST_F(ConformanceTest, GraphPauseRunStopCycles) {
    std::string tivo = WrapAsTivo(MaterialDir() + "\\mp2.mpg", WorkDir() + "\\cycles.TiVo");
    Ptr<IGraphBuilder> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph)));
    Ptr<IBaseFilter> demux, mux, dump, source;
    Create(kDemuxClsid, demux);
    Create(kMuxClsid, mux);
    Create(kDumpClsid, dump);
    ASSERT_EQ(S_OK, graph->AddFilter(demux, L"DeMuxer"));
    ASSERT_EQ(S_OK, graph->AddFilter(mux, L"Muxer"));
    ASSERT_EQ(S_OK, graph->AddFilter(dump, L"FileDump"));
    ASSERT_EQ(S_OK, ConnectFilters(graph, mux, dump));
    ASSERT_EQ(S_OK, graph->AddSourceFilter(Widen(tivo).c_str(), L"Tivo", &source));
    CLSID clsid;
    ASSERT_EQ(S_OK, source->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(kSourceClsid, clsid)) << "AddSourceFilter did not pick our source";
    ASSERT_EQ(S_OK, ConnectFilters(graph, source, demux));
    Ptr<IFileSinkFilter> sink;
    ASSERT_EQ(S_OK, dump.As(&sink, IID_IFileSinkFilter));
    ASSERT_EQ(S_OK, sink->SetFileName(Widen(WorkDir() + "\\cycles.mpg").c_str(), nullptr));
    ASSERT_EQ(S_OK, ConnectFilters(graph, demux, mux));
    EXPECT_EQ(3u, PinNames(mux, PINDIR_INPUT).size());
    Ptr<IMediaControl> control;
    ASSERT_EQ(S_OK, graph.As(&control, IID_IMediaControl));
    for (int cycle = 0; cycle < 3; ++cycle) {
        HRESULT hr = control->Pause();
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        OAFilterState state;
        EXPECT_EQ(S_OK, control->GetState(1000, &state));
        EXPECT_EQ(State_Paused, state);
        hr = control->Run();
        EXPECT_TRUE(hr == S_OK || hr == S_FALSE) << std::hex << hr;
        EXPECT_EQ(S_OK, control->Stop());
        EXPECT_EQ(S_OK, control->GetState(1000, &state));
        EXPECT_EQ(State_Stopped, state);
    }
    for (IBaseFilter* f : {source.Get(), demux.Get(), mux.Get(), dump.Get()})
        EXPECT_EQ(S_OK, graph->RemoveFilter(f));
    EXPECT_TRUE(PinNames(demux, PINDIR_OUTPUT).empty());
    sink.Reset();
    control.Reset();
    graph.Reset();
    EXPECT_EQ(1, RefCount(mux));
    EXPECT_EQ(1, RefCount(dump));
    EXPECT_EQ(1, RefCount(source));
}

}  // namespace
}  // namespace korvane::test
